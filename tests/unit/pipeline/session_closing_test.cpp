#include <gtest/gtest.h>

#include <string>

#include "engine/drive/write_parameters.h"
#include "support/abort_on_command.h"
#include "support/pipeline_fixture.h"

namespace fornax {
namespace {

constexpr uint8_t kWrite10 = 0x2A;

// Closing sessions and discs on every write-once medium, through the
// engine's repair of a disc an interrupted write left open.
class SessionClosing : public test::PipelineTest, public ::testing::WithParamInterface<const char*> {
 protected:
  void Burn(bool finalize, int kilobytes = 100) {
    Rec.FinalizeDisc = finalize;
    Fill(Folder("src" + std::to_string(++FBurns), 1, kilobytes));
    WriteDone = 0;
    ASSERT_TRUE(Rec.BurnCompilation()) << Result;
    ASSERT_TRUE(WaitForEnd());
    Rec.FinalizeDisc = false;
  }
  int FBurns = 0;
};

class Finalize : public SessionClosing {};

// A blank sequential DVD-RW included: it stays sequential so that it can close.
TEST_P(Finalize, ClosesTheDiscForGood) {
  Open(GetParam());
  Burn(true);
  ASSERT_EQ(Result, "");
  EXPECT_EQ(Rec.DiscStatus(), 2) << "complete";
  EXPECT_EQ(Rec.CloseOpenSession(true), TCloseOutcome::NothingOpen);
  Fill(Folder("more", 1, 10));
  EXPECT_FALSE(Rec.BurnCompilation());
  EXPECT_EQ(Result, "THE DISC IS CLOSED (FINALIZED): IT TAKES NO MORE SESSIONS");
}

TEST_P(SessionClosing, ASessionLeftOpenIsClosedOnRequestAndTheDiscTakesMore) {
  Open(GetParam());
  EXPECT_EQ(Rec.CloseOpenSession(false), TCloseOutcome::NothingOpen) << "a blank disc";
  Burn(false);
  ASSERT_EQ(Result, "");
  EXPECT_EQ(Rec.CloseOpenSession(false), TCloseOutcome::NothingOpen);
  {
    test::TAbortOnCommand abort(Rec, Sim, kWrite10, 3);
    Burn(false, 1500);
  }
  ASSERT_EQ(Result, "OPERATION ABORTED BY USER");
  ASSERT_TRUE(Rec.HasOpenSession());
  EXPECT_EQ(Rec.CloseOpenSession(false), TCloseOutcome::Closed);
  EXPECT_FALSE(Rec.HasOpenSession());
  EXPECT_EQ(Rec.DiscStatus(), 1) << "still appendable";
  Log.clear();
  Burn(false);
  EXPECT_EQ(Result, "");
  EXPECT_FALSE(Logged("CLOSING IT FIRST")) << "nothing was left open";
  EXPECT_EQ(Rec.SessionCount(), 3);
}

// Only a DVD+R can be finalized once every session is closed; the others
// close for good with a session they write.
TEST_P(SessionClosing, AClosedSessionFinalizesOnlyWhereTheMediumAllows) {
  Open(GetParam());
  Burn(false);
  ASSERT_EQ(Result, "");
  const std::string kind = GetParam();
  const bool plus = kind.rfind("dvd+", 0) == 0;
  EXPECT_EQ(Rec.CloseOpenSession(true), plus ? TCloseOutcome::Closed : TCloseOutcome::CannotFinalize);
  EXPECT_EQ(Rec.DiscStatus(), plus ? 2 : 1);
}

std::string MediumTestName(const ::testing::TestParamInfo<const char*>& info) {
  std::string name = info.param;
  for (char& c : name) c = c == '-' ? '_' : c == '+' ? 'P' : c;
  return name;
}

INSTANTIATE_TEST_SUITE_P(SimulatedRecorder, Finalize,
                         ::testing::Values("cd-r", "cd-rw", "dvd-r", "dvd-rw-seq", "dvd+r", "dvd+r-dl"),
                         MediumTestName);
// A blank sequential DVD-RW becomes overwritable with its first burn.
INSTANTIATE_TEST_SUITE_P(SimulatedRecorder, SessionClosing,
                         ::testing::Values("cd-r", "cd-rw", "dvd-r", "dvd+r", "dvd+r-dl"), MediumTestName);

TEST(SessionCloseSteps, ATrackOfAnyNumberIsClosedBeforeItsSession) {
  // The open track is the disc's last one, whatever the session count says.
  const auto plus = SessionCloseSteps(mtDVDPlusR, 7, false, false);
  ASSERT_EQ(plus.size(), 2u);
  EXPECT_EQ(plus[0], (TCloseStep{false, 1, 7}));
  EXPECT_EQ(plus[1], (TCloseStep{false, 2, 255}));
  EXPECT_EQ(SessionCloseSteps(mtDVDPlusR, 7, true, false)[1], (TCloseStep{false, 6, 0}));
  // A sequential DVD-RW is closed as a DVD-R is: its track first.
  EXPECT_EQ(SessionCloseSteps(mtDVDRWSequential, 3, false, false), SessionCloseSteps(mtDVDR, 3, false, false));
  EXPECT_EQ(SessionCloseSteps(mtDVDRWSequential, 3, false, false)[0], (TCloseStep{true, 1, 3}));
  EXPECT_TRUE(SessionCloseSteps(mtDVDRAM, 1, true, false).empty());
}

TEST(WriteParametersPage, ADvdRwKeepsItsTestWriteAndADvdRClosesForGood) {
  const uint8_t current[kWriteParametersPageSize] = {0x05, 0x32};
  TWriteParametersInput in;
  in.TestWrite = true;
  in.DriveHasTestWrite = true;
  in.MediumCode = mtDVDRWSequential;
  EXPECT_EQ(BuildWriteParametersPage(current, in)[2] & 0x1F, 0x10) << "test write, incremental";
  in.TestWrite = false;
  in.MediumCode = mtDVDR;
  EXPECT_EQ(BuildWriteParametersPage(current, in)[3] & 0xC0, 0xC0) << "another border may follow";
  in.CloseDisc = true;
  EXPECT_EQ(BuildWriteParametersPage(current, in)[3] & 0xC0, 0x00) << "no border may follow";
}

}  // namespace
}  // namespace fornax
