#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "engine/base/bytes.h"
#include "support/abort_on_command.h"
#include "support/pipeline_fixture.h"

namespace fornax {
namespace {

constexpr uint8_t kWrite10 = 0x2A, kSynchronizeCache = 0x35, kCloseTrackSession = 0x5B,
                  kReadBufferCapacity = 0x5C;

// Burns that are stopped, fail, or meet a disc an earlier write left
// unfinished, against the simulated recorder.
class InterruptedWrite : public test::PipelineTest {
 protected:
  // A folder of `files` files named after it, `kilobytes` each.
  std::string Named(const std::string& name, int files, int kilobytes) {
    for (int i = 0; i < files; ++i)
      Tmp.Write(name + "/" + name + std::to_string(i) + ".bin",
                std::string(static_cast<size_t>(kilobytes) * 1024, static_cast<char>('a' + i)));
    return Tmp.Path(name) + "/";
  }
  // Burns a folder and runs the events until the write has ended; false
  // when the burn driver gave up before starting the writer.
  bool Burn(const std::string& folder) {
    Fill(folder);
    WriteDone = 0;
    Result = "(none)";
    if (!Rec.BurnCompilation()) return false;
    return WaitForEnd();
  }
  // The volume space size of the primary descriptor of a session at `start`.
  uint32_t VolumeEndAt(uint32_t start) {
    alignas(16) uint8_t pvd[2048] = {};
    if (!Rec.ReadSectors(start + 16, 1, pvd, sizeof pvd)) return 0;
    return GetLe32(pvd + 80);
  }
  // The names the newest whole session (or session `n`) shows.
  std::vector<std::string> Shown(int session = 255) {
    Rec.ClearCompilation(65535, 8191);
    std::vector<std::string> names;
    if (!Rec.ImportDiscSession(session, nullptr)) return names;
    for (const TFEntry* e = Rec.RootDirectory()->FirstEntry; e; e = e->Next) names.push_back(e->LongName);
    return names;
  }
};

TEST_F(InterruptedWrite, AnAbortWhileTheBurnIsPreparedEndsItBeforeAnyWrite) {
  Open("dvd+r");
  Rec.OnWaiting = [this] { Rec.AbortWrite(); };
  EXPECT_FALSE(Burn(Named("one", 2, 300)));
  EXPECT_EQ(Result, "OPERATION ABORTED BY USER");
  EXPECT_FALSE(Logged("STARTING WRITE PROCESS"));
  EXPECT_EQ(Rec.DiscStatus(), 0);
}

TEST_F(InterruptedWrite, AnAbortWhileADvdRwIsFormattedIsNotLostInTheWait) {
  Open("dvd-rw-seq");
  Sim.Call("fornax_sim_set_durations", 100, 300, 50);
  int waits = 0;
  Rec.OnWaiting = [&] {
    if (++waits == 1) Rec.AbortWrite();
  };
  EXPECT_FALSE(Burn(Named("one", 1, 100)));
  EXPECT_EQ(Result, "OPERATION ABORTED BY USER");
  EXPECT_FALSE(Logged("STARTING WRITE PROCESS"));
}

TEST_F(InterruptedWrite, AnAbortJustAsTheWriterStartsIsNotLost) {
  Open("cd-r");
  test::TAbortOnCommand abort(Rec, Sim, kReadBufferCapacity, 1);  // the writer's first command
  ASSERT_TRUE(Burn(Named("one", 2, 300)));
  EXPECT_EQ(Result, "OPERATION ABORTED BY USER");
  EXPECT_EQ(Rec.DiscStatus(), 0) << "nothing reached the disc";
}

// On an overwritable disc the start of the disc says which session a reader
// sees; it changes only once the new session is whole on the disc.
TEST_F(InterruptedWrite, AnOverwritableDiscShowsItsEarlierTreeUntilTheNewOneIsWhole) {
  Open("dvd+rw");
  ASSERT_TRUE(Burn(Named("one", 2, 300)));
  ASSERT_EQ(Result, "");
  const uint32_t firstEnd = VolumeEndAt(0);
  {
    test::TAbortOnCommand abort(Rec, Sim, kSynchronizeCache, 1);  // the flush before the start is rewritten
    ASSERT_TRUE(Burn(Named("two", 2, 300)));
  }
  EXPECT_EQ(Result, "OPERATION ABORTED BY USER");
  const int32_t abortedStart = Rec.SessionStart();
  EXPECT_EQ(abortedStart, static_cast<int32_t>((firstEnd + 31) / 32 * 32)) << "after the first, never over it";
  EXPECT_EQ(VolumeEndAt(0), firstEnd);
  EXPECT_EQ(Shown(), (std::vector<std::string>{"one0.bin", "one1.bin"}));

  ASSERT_TRUE(Burn(Named("three", 1, 100)));
  ASSERT_EQ(Result, "");
  EXPECT_EQ(Rec.SessionStart(), abortedStart) << "the aborted session's sectors are taken again";
  EXPECT_EQ(VolumeEndAt(0), VolumeEndAt(static_cast<uint32_t>(abortedStart)));
  EXPECT_EQ(Shown(), (std::vector<std::string>{"three0.bin"}));
}

TEST_F(InterruptedWrite, ABusyAnswerToTheStartOfTheDiscIsAskedAgain) {
  Open("dvd-ram");
  ASSERT_TRUE(Burn(Named("one", 1, 100)));
  ASSERT_EQ(Result, "");
  // "Long write in progress" three times for the write that covers sector 0.
  Sim.Call("fornax_sim_fault_write_error_count", 0u, uint8_t{2}, uint8_t{0x04}, uint8_t{0x08}, 3);
  ASSERT_TRUE(Burn(Named("two", 1, 100)));
  EXPECT_EQ(Result, "");
  EXPECT_EQ(VolumeEndAt(0), VolumeEndAt(static_cast<uint32_t>(Rec.SessionStart())));
  EXPECT_EQ(Shown(), (std::vector<std::string>{"two0.bin"}));
}

TEST_F(InterruptedWrite, AnAbortOnceEverySectorIsWrittenStillClosesTheSession) {
  Open("dvd+r");
  {
    test::TAbortOnCommand abort(Rec, Sim, kCloseTrackSession, 1);
    ASSERT_TRUE(Burn(Named("one", 1, 100)));
  }
  EXPECT_EQ(Result, "");
  EXPECT_TRUE(Logged("THE ABORT CAME AFTER ALL DATA WAS WRITTEN; THE SESSION WAS CLOSED AND IS COMPLETE"));
  EXPECT_FALSE(Rec.HasOpenSession());
  EXPECT_EQ(Shown(), (std::vector<std::string>{"one0.bin"}));
}

class SessionLeftOpen : public InterruptedWrite, public ::testing::WithParamInterface<const char*> {};

// A burn stopped in the middle leaves a session whose descriptors claim
// files that are not on the disc. The next burn closes it first; readers
// that ask for the last session pass over it.
TEST_P(SessionLeftOpen, IsClosedFirstAndPassedOverByImports) {
  Open(GetParam());
  ASSERT_TRUE(Burn(Named("one", 2, 100)));
  ASSERT_EQ(Result, "");
  {
    test::TAbortOnCommand abort(Rec, Sim, kWrite10, 4);
    ASSERT_TRUE(Burn(Named("big", 2, 1500)));
  }
  ASSERT_EQ(Result, "OPERATION ABORTED BY USER");
  EXPECT_TRUE(Rec.HasOpenSession());
  Log.clear();
  EXPECT_EQ(Shown(), (std::vector<std::string>{"one0.bin", "one1.bin"}));
  EXPECT_TRUE(Logged(">>> SESSION 2 WAS CUT SHORT BY AN INTERRUPTED WRITE")) << Log.front();

  ASSERT_TRUE(Burn(Named("two", 1, 100)));
  EXPECT_EQ(Result, "");
  EXPECT_TRUE(Logged("CLOSING IT FIRST"));
  EXPECT_FALSE(Rec.HasOpenSession());
  ASSERT_EQ(Rec.SessionCount(), 3);
  EXPECT_TRUE(Rec.SessionCutShort(2));
  EXPECT_FALSE(Rec.SessionCutShort(3));
  EXPECT_EQ(Shown(), (std::vector<std::string>{"two0.bin"}));
  EXPECT_EQ(Shown(1), (std::vector<std::string>{"one0.bin", "one1.bin"}));
}

INSTANTIATE_TEST_SUITE_P(SimulatedRecorder, SessionLeftOpen, ::testing::Values("cd-r", "dvd-r", "dvd+r"),
                         [](const auto& info) {
                           std::string name = info.param;
                           for (char& c : name) c = c == '-' ? '_' : c == '+' ? 'P' : c;
                           return name;
                         });

class NoTestWrite : public InterruptedWrite, public ::testing::WithParamInterface<const char*> {};

TEST_P(NoTestWrite, IsRefusedBeforeAnythingIsWritten) {
  Open(GetParam());
  const int status = Rec.DiscStatus();
  Rec.TestWrite = true;
  EXPECT_FALSE(Burn(Named("one", 1, 100)));
  EXPECT_NE(Result.find(": THE MEDIUM HAS NO TEST WRITE"), std::string::npos) << Result;
  EXPECT_FALSE(Logged("STARTING WRITE PROCESS"));
  EXPECT_EQ(Rec.DiscStatus(), status);
  EXPECT_EQ(Rec.FileSystemSectors(), 0u);
}

INSTANTIATE_TEST_SUITE_P(SimulatedRecorder, NoTestWrite,
                         ::testing::Values("dvd+r", "dvd+r-dl", "dvd+rw", "dvd-ram", "dvd-rw-ro"),
                         [](const auto& info) {
                           std::string name = info.param;
                           for (char& c : name) c = c == '-' ? '_' : c == '+' ? 'P' : c;
                           return name;
                         });

// The space a session needs is counted from where it will start, and what
// the disc reports never claims more than it holds.
TEST_F(InterruptedWrite, ASessionThatDoesNotFitFromItsStartIsRefused) {
  Open("dvd+rw");
  static const uint8_t kFormat[12] = {0x00, 0x82, 0x00, 0x08, 0x00, 0x23, 0x05, 0x40, 0x98, 0x00, 0x00, 0x00};
  ASSERT_TRUE(Rec.FormatUnit(0x11, kFormat, sizeof kFormat));
  ASSERT_TRUE(Rec.WaitReady(10000, 20));
  // Another program's file system that reaches far into the disc.
  const auto claim = [&](uint32_t sectors) {
    std::vector<uint8_t> unit(65536, 0);
    uint8_t* pvd = unit.data() + 16 * 2048;
    pvd[0] = 1;
    std::memcpy(pvd + 1, "CD001", 5);
    pvd[6] = 1;
    PutLe32(pvd + 80, sectors);
    PutBe32(pvd + 84, sectors);
    uint8_t* end = pvd + 2048;
    end[0] = 255;
    std::memcpy(end + 1, "CD001", 5);
    end[6] = 1;
    ASSERT_TRUE(Rec.Write10(0, 32, unit.data(), static_cast<uint32_t>(unit.size())));
  };
  claim(2200000);
  const std::string big = Tmp.Path("big");
  Tmp.Write("big/sparse.bin", "");
  ASSERT_EQ(::truncate((big + "/sparse.bin").c_str(), 400LL << 20), 0);
  EXPECT_FALSE(Burn(big + "/"));
  EXPECT_EQ(Result.rfind("NOT ENOUGH SPACE ON THE DISC: THE SESSION NEEDS ", 0), 0u) << Result;
  EXPECT_NE(Result.find(" FROM SECTOR 2200000, AND 95104 ARE FREE THERE"), std::string::npos) << Result;
  EXPECT_EQ(VolumeEndAt(0), 2200000u) << "nothing was written";

  TSCSIDevice::SetCurrentMediumCode(Rec.MediumType());
  EXPECT_EQ(Rec.UsedSectors(), 2200000u);
  EXPECT_EQ(Rec.FreeSectors(), 95104u);
  claim(2400000);  // more than the disc holds
  EXPECT_EQ(Rec.UsedSectors(), Rec.CapacitySectors());
  EXPECT_EQ(Rec.FreeSectors(), 0u);
}

}  // namespace
}  // namespace fornax
