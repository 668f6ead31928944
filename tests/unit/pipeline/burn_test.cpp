#include <gtest/gtest.h>

#include <sys/stat.h>

#include <thread>

#include "support/pipeline_fixture.h"

namespace fornax {
namespace {

class Burn : public test::PipelineTest {};

TEST_F(Burn, ATestWriteOnCdRLeavesTheDiscBlank) {
  Open("cd-r");
  Fill(Folder("src", 3, 600));
  Rec.TestWrite = true;
  ASSERT_TRUE(Rec.BurnCompilation());
  ASSERT_TRUE(WaitForEnd());
  EXPECT_EQ(Result, "");
  ASSERT_TRUE(Logged(">>> STARTING WRITE PROCESS ON CD-R AT "));
  EXPECT_TRUE(Logged(">>> TEST/DUMMY WRITE"));
  EXPECT_EQ(Rec.DiscStatus(), 0);
  EXPECT_EQ(WriteDone, 1);
  EXPECT_FALSE(Rec.WriteInProgress());
  EXPECT_EQ(Rec.CacheFillPercent(), 0);
}

TEST_F(Burn, AnAbortEndsTheWriteAndLeavesTheDriveUsable) {
  Open("dvd+r");
  Fill(Folder("src", 4, 6000));
  Sim.Call("fornax_sim_set_write_speed", 2000);
  ASSERT_TRUE(Rec.BurnCompilation());
  while (Rec.BytesWritten() < 2 * 65536) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_GT(Rec.CacheFillPercent(), 0);
  Rec.AbortWrite();
  ASSERT_TRUE(WaitForEnd());
  EXPECT_EQ(Result, "OPERATION ABORTED BY USER");
  EXPECT_TRUE(Rec.UnitReady()) << Rec.LastError();
  EXPECT_EQ(WriteDone, 1);
}

TEST_F(Burn, ABusyDriveIsAskedAgainUntilItTakesTheData) {
  Open("dvd+r");
  Fill(Folder("src", 2, 3000));
  Sim.Call("fornax_sim_set_write_speed", 4000);
  ASSERT_TRUE(Rec.BurnCompilation());
  while (Rec.BytesWritten() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  Sim.Call("fornax_sim_fault_busy", 6, 0);  // "long write in progress" for six commands
  ASSERT_TRUE(WaitForEnd());
  EXPECT_EQ(Result, "");
  EXPECT_EQ(Rec.DiscStatus(), 1);
  EXPECT_EQ(Rec.SessionCount(), 1);
}

TEST_F(Burn, AWriteErrorCarriesTheDrivesSense) {
  Open("cd-r");
  Fill(Folder("src", 2, 1000));
  Sim.Call("fornax_sim_fault_write_error", 200u, uint8_t{3}, uint8_t{0x0C}, uint8_t{0x00});
  ASSERT_TRUE(Rec.BurnCompilation());
  ASSERT_TRUE(WaitForEnd());
  EXPECT_EQ(Result, "WRITER ERROR [MEDIUM ERROR (WRITE ERROR)]");
  EXPECT_TRUE(Logged(">>> STARTING WRITE PROCESS ON CD-R"));
}

TEST_F(Burn, ASourceGoneBeforeTheCacheReachesItStopsEverythingBeforeAnyWrite) {
  Open("cd-r");
  Fill(Folder("src", 2, 100));
  const std::string gone = Tmp.Path("src/file1.bin");
  std::remove(gone.c_str());
  EXPECT_FALSE(Rec.BurnCompilation());
  EXPECT_EQ(Result, "CAN'T OPEN FILE \"" + gone + "\" OR FILE IS IN USES BY OTHER SOFTWARE");
  EXPECT_EQ(Rec.CurrentWriteFile(), gone);
  EXPECT_FALSE(Logged("STARTING WRITE PROCESS"));
  EXPECT_EQ(Rec.DiscStatus(), 0) << "nothing reached the disc";
}

TEST_F(Burn, AFinalizedDiscRefusesAnotherSession) {
  Open("cd-r");
  Fill(Folder("src", 1, 100));
  Rec.FinalizeDisc = true;
  ASSERT_TRUE(Rec.BurnCompilation());
  ASSERT_TRUE(WaitForEnd());
  ASSERT_EQ(Result, "");
  EXPECT_EQ(Rec.DiscStatus(), 2);
  WriteDone = 0;
  Log.clear();
  Rec.FinalizeDisc = false;
  Fill(Folder("more", 1, 100));
  EXPECT_FALSE(Rec.BurnCompilation()) << "refused before anything is sent";
  EXPECT_EQ(WriteDone, 1);
  EXPECT_EQ(Result, "THE DISC IS CLOSED (FINALIZED): IT TAKES NO MORE SESSIONS");
  EXPECT_FALSE(Logged("STARTING WRITE PROCESS"));
  EXPECT_EQ(Rec.SessionCount(), 1);
}

TEST_F(Burn, ASecondSessionStartsAtTheNextWritableAddress) {
  Open("dvd+r");
  Fill(Folder("one", 1, 100));
  ASSERT_TRUE(Rec.BurnCompilation());
  ASSERT_TRUE(WaitForEnd());
  ASSERT_EQ(Result, "");
  const int64_t first = Rec.ImageSectors();
  WriteDone = 0;
  Fill(Folder("two", 1, 100));
  ASSERT_TRUE(Rec.BurnCompilation());
  ASSERT_TRUE(WaitForEnd());
  ASSERT_EQ(Result, "");
  // DVD media take whole 32-sector units, the last one too; then the next
  // DVD+R session follows 2,048 sectors after the track.
  EXPECT_EQ(Rec.SessionStart(), (first + 31) / 32 * 32 + 2048);
  EXPECT_EQ(Rec.SessionCount(), 2);
  alignas(16) uint8_t pvd[2048];
  ASSERT_TRUE(Rec.ReadSectors(static_cast<uint32_t>(Rec.SessionStart() + 16), 1, pvd, sizeof pvd));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(pvd) + 1, 5), "CD001");
}

TEST_F(Burn, AnImageFileThatCannotBeWrittenEndsWithAClearText) {
  Fill(Folder("src", 1, 200));
  Rec.BuildISOFile("/dev/full", false);
  ASSERT_TRUE(WaitForEnd());
  EXPECT_EQ(Result, "CAN'T WRITE FILE \"/dev/full\": No space left on device");
  struct stat st {};
  EXPECT_EQ(::stat("/dev/full", &st), 0) << "a device is never removed";

  WriteDone = 0;
  Rec.BuildISOFile(Tmp.Path("no/such/folder/x.iso"), false);
  ASSERT_TRUE(WaitForEnd());
  EXPECT_EQ(Result, "CAN'T CREATE FILE \"" + Tmp.Path("no/such/folder/x.iso") + "\"");
}

TEST_F(Burn, TheThreadedImageIsPaddedToThreeHundredSectors) {
  Fill(Folder("src", 1, 2));
  Rec.BuildISOFile(Tmp.Path("small.iso"), false);
  ASSERT_TRUE(WaitForEnd());
  ASSERT_EQ(Result, "");
  struct stat st {};
  ASSERT_EQ(::stat(Tmp.Path("small.iso").c_str(), &st), 0);
  EXPECT_EQ(st.st_size, 300 * 2048);
  EXPECT_EQ(Rec.ISOFileName, Tmp.Path("small.iso"));
  EXPECT_EQ(Rec.BytesWritten(), 300 * 2048);
}

}  // namespace
}  // namespace fornax
