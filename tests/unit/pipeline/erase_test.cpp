#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "engine/drive/medium_queries.h"
#include "engine/pipeline/erase.h"
#include "support/pipeline_fixture.h"

namespace fornax {
namespace {

struct TEraseCase {
  const char* Kind;
  bool Quick;
};

class Erase : public test::PipelineTest, public ::testing::WithParamInterface<TEraseCase> {
 protected:
  // Something on the disc to erase: one written session.
  void WriteSomething() {
    Fill(Folder("src", 2, 300));
    ASSERT_TRUE(Rec.BurnCompilation());
    ASSERT_TRUE(WaitForEnd());
    ASSERT_EQ(Result, "");
    WriteDone = 0;
    ASSERT_NE(Rec.FileSystemSectors(), 0u);
  }
};

TEST_P(Erase, ProgressRisesToTheEndAndTheDiscReadsBlank) {
  const TEraseCase& c = GetParam();
  Open(c.Kind);
  WriteSomething();
  ASSERT_TRUE(Rec.EraseDisc(c.Quick ? 1 : 0)) << Rec.LastError();
  // A quick DVD-RAM erase is a few writes: its thread may be through before
  // we look, and then it has left its progress at the end.
  const bool erasing = Rec.Erasing();
  EXPECT_TRUE(erasing || Rec.LastEraseProgress() == 100);
  EXPECT_TRUE(Logged(">>> STARTING ERASE PROCESS ON "));
  int last = 0, samples = 0;
  const bool ended = Events.RunUntil([this] { return EraseDone > 0; }, std::chrono::seconds(120), [&] {
    const int progress = Rec.EraseProgress();
    EXPECT_GE(progress, last) << "progress never goes back";
    last = std::max(last, progress);
    ++samples;
  });
  ASSERT_TRUE(ended);
  EXPECT_EQ(EraseDone, 1);
  EXPECT_FALSE(EraseError);
  EXPECT_FALSE(Rec.Erasing());
  EXPECT_EQ(Rec.EraseProgress(), 0) << "no erase runs any more";
  EXPECT_EQ(Rec.LastEraseProgress(), 100);
  // Afterwards the disc holds no file system; sequential media are blank again.
  EXPECT_EQ(Rec.FileSystemSectors(), 0u);
  const uint8_t medium = Rec.MediumType();
  if (medium == mtCDRW || medium == mtDVDRWSequential) {
    EXPECT_EQ(Rec.DiscStatus(), 0);
  }
  EXPECT_TRUE(Rec.UnitReady());
}

INSTANTIATE_TEST_SUITE_P(SimulatedRecorder, Erase,
                         ::testing::Values(TEraseCase{"cd-rw", true}, TEraseCase{"cd-rw", false},
                                           TEraseCase{"dvd-rw-seq", true}, TEraseCase{"dvd-rw-seq", false},
                                           TEraseCase{"dvd+rw", true}, TEraseCase{"dvd+rw", false},
                                           TEraseCase{"dvd-ram", true}, TEraseCase{"dvd-ram", false}),
                         [](const auto& info) {
                           std::string name = info.param.Kind;
                           for (char& ch : name) ch = (ch == '-' ? '_' : ch == '+' ? 'P' : ch);
                           return name + (info.param.Quick ? "_quick" : "_complete");
                         });

TEST_F(Erase, ADiscThatCannotBeErasedIsRefused) {
  Open("cd-r");
  EXPECT_FALSE(Rec.EraseDisc(1));
  EXPECT_EQ(EraseDone, 1) << "reported at once, on the caller's thread";
  EXPECT_TRUE(EraseError);
  EXPECT_FALSE(Rec.Erasing());
}

TEST(EraseTimes, ExpectedSecondsByMedium) {
  EXPECT_EQ(ExpectedEraseSeconds(mtCDRW, true), 150);
  EXPECT_EQ(ExpectedEraseSeconds(mtCDRW, false), 4500);
  EXPECT_EQ(ExpectedEraseSeconds(mtDVDPlusRW, true), 600);
  EXPECT_EQ(ExpectedEraseSeconds(mtDVDRAM, false), 4440);
}

}  // namespace
}  // namespace fornax

namespace fornax {
namespace {

// A quick erase that takes seconds shows the drive's own progress, not an
// estimate against the minutes an erase may take (which stays near 0).
class EraseOfSeconds : public test::PipelineTest {};

TEST_F(EraseOfSeconds, TheBarFollowsTheDrivesOwnProgress) {
  Open("cd-rw");
  Sim.Call("fornax_sim_set_durations", 8000, 100, 50);
  SetPaceDivisor(1);  // the engine polls in its own steps (5 s), as with a real drive
  // The bar reaches 100 once the drive is done; the engine then returns the
  // drive to idle before it reports the end, so 100 may be seen before that.
  const auto started = std::chrono::steady_clock::now();
  ASSERT_TRUE(Rec.EraseDisc(1)) << Rec.LastError();
  int highestBefore = 0;
  double fullAfter = -1;
  const bool ended = Events.RunUntil([this] { return EraseDone > 0; }, std::chrono::seconds(60), [&] {
    const int progress = Rec.EraseProgress();
    if (progress < 100) highestBefore = std::max(highestBefore, progress);
    else if (fullAfter < 0) fullAfter = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  });
  SetPaceDivisor(100);
  ASSERT_TRUE(ended);
  EXPECT_GE(highestBefore, 30) << "the drive said how far it was; the estimate alone shows a few percent";
  if (fullAfter >= 0) {
    EXPECT_GE(fullAfter, 7.5) << "100 shown before the drive's 8 s erase was over";
  }
  EXPECT_EQ(Rec.LastEraseProgress(), 100);
}

TEST(EraseProgress, TheDrivesPercentComesFromItsNotReadySense) {
  uint8_t sense[33] = {0x70, 0, 0x02, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x04, 0x07, 0, 0x80, 0x80, 0x00};
  EXPECT_EQ(DriveReportedPercent(sense), 50);
  sense[15] = 0;  // no progress given
  EXPECT_EQ(DriveReportedPercent(sense), -1);
  sense[15] = 0x80;
  sense[12] = 0x3A;  // not ready for another reason
  EXPECT_EQ(DriveReportedPercent(sense), -1);
}

}  // namespace
}  // namespace fornax
