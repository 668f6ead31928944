// Blanking, formatting, closing and finishing a write take time; meanwhile
// the drive answers "in progress" the way each operation does.

#include <chrono>
#include <thread>

#include "drive_fixture.h"
#include "simdrive/simdrive.h"

namespace fornax::sim::test {
namespace {

class LongOperations : public DriveTest {
 protected:
  // Progress of REQUEST SENSE while NOT READY, or -1 without one.
  int Progress(uint8_t ascq) {
    const Outcome o = Send(cdb::RequestSense(18), 18);
    EXPECT_GOOD(o);
    EXPECT_EQ(o.data[2], 0x02);
    EXPECT_EQ(o.data[12], 0x04);
    EXPECT_EQ(o.data[13], ascq);
    EXPECT_EQ(o.data[0], 0x70) << "no VALID bit without an address";
    if (!(o.data[15] & 0x80)) return -1;
    return (o.data[16] << 8) | o.data[17];
  }
  static void Sleep(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
};

TEST_F(LongOperations, BlankIsInProgressWithRisingProgressThenDone) {
  Insert("cd-rw");
  ASSERT_GOOD(Write(0, 27));
  ASSERT_EQ(fornax_sim_set_durations(600, 0, 0), 0);
  ASSERT_GOOD(Send(cdb::Blank(true, 1)));
  EXPECT_SENSE(Send(cdb::TestUnitReady()), 2, 0x04, 0x07);
  EXPECT_SENSE(DiscInfo(), 2, 0x04, 0x07);
  EXPECT_SENSE(ReadTrack(1), 2, 0x04, 0x07);
  EXPECT_SENSE(Write(0, 27), 2, 0x04, 0x07);
  EXPECT_GOOD(Send(cdb::ModeSense(0x2A), 255)) << "drive commands keep working";
  const int first = Progress(0x07);
  Sleep(200);
  const int later = Progress(0x07);
  EXPECT_GE(first, 0);
  EXPECT_GT(later, first);
  ASSERT_TRUE(WaitWhileInProgress(5000));
  EXPECT_EQ(DiscInfo().data[2] & 0x0F, 0x00) << "blank again";
  const Outcome idle = Send(cdb::RequestSense(18), 18);
  EXPECT_EQ(idle.data[2], 0);
  EXPECT_EQ(idle.data[12], 0);
}

TEST_F(LongOperations, FormatIsInProgressAsAFormat) {
  Insert("dvd-rw-seq");
  ASSERT_EQ(fornax_sim_set_durations(0, 400, 0), 0);
  ASSERT_GOOD(Format({0x00, 0x82, 0x00, 0x08, 0, 0, 0, 0, 0x54, 0, 0, 0x10}));
  EXPECT_SENSE(Send(cdb::TestUnitReady()), 2, 0x04, 0x04);
  EXPECT_SENSE(DiscInfo(), 2, 0x04, 0x04);
  EXPECT_GE(Progress(0x04), 0);
  ASSERT_TRUE(WaitWhileInProgress(5000));
  EXPECT_EQ(Send(cdb::GetConfiguration(2, 0), 8).Be16(6), 0x0013);
}

TEST_F(LongOperations, ImmediateCloseKeepsTestUnitReadyGood) {
  Insert("dvd+r");
  ASSERT_GOOD(Write(0, 32));
  ASSERT_EQ(fornax_sim_set_durations(0, 0, 400), 0);
  ASSERT_GOOD(Send(cdb::Close(true, 1, 1)));
  EXPECT_GOOD(Send(cdb::TestUnitReady()));
  EXPECT_SENSE(DiscInfo(), 2, 0x04, 0x07);
  EXPECT_SENSE(ReadTrack(1), 2, 0x04, 0x07);
  EXPECT_SENSE(Send(cdb::Close(true, 2, 255)), 2, 0x04, 0x07) << "a second close while one runs";
  Progress(0x07);
  ASSERT_TRUE(WaitWhileInProgress(5000));
  EXPECT_GOOD(Send(cdb::Close(true, 2, 255)));
}

// The engine's DVD-R closes come back to back; while the first one runs the
// others are answered "in progress" and the border stays open.
TEST_F(LongOperations, BackToBackDvdMinusRClosesMeetTheRunningClose) {
  Insert("dvd-r");
  ASSERT_GOOD(SetWriteParameters(0x60, 0xE5, 0x08, 0x10, 16));
  ASSERT_GOOD(Send(cdb::ReserveTrack(64)));
  ASSERT_GOOD(Write(0, 32));
  ASSERT_EQ(fornax_sim_set_durations(0, 0, 300), 0);
  ASSERT_GOOD(Send(cdb::SyncCache(true)));
  EXPECT_GOOD(Send(cdb::TestUnitReady()));
  EXPECT_SENSE(DiscInfo(), 2, 0x04, 0x07) << "finishing the write";
  ASSERT_TRUE(WaitWhileInProgress(5000));
  EXPECT_GOOD(Send(cdb::Close(true, 1, 1))) << "pads the reservation";
  EXPECT_SENSE(Send(cdb::Close(true, 1, 2)), 2, 0x04, 0x07);
  EXPECT_SENSE(Send(cdb::Close(true, 2, 3)), 2, 0x04, 0x07);
  ASSERT_TRUE(WaitWhileInProgress(5000));
  const Outcome rdi = DiscInfo();
  EXPECT_EQ(rdi.data[4], 1) << "still one session";
  EXPECT_EQ(rdi.data[2] & 0x0C, 0x04) << "its border still open";
}

TEST_F(LongOperations, WithoutImmedTheCommandTakesTheTime) {
  Insert("cd-rw");
  ASSERT_EQ(fornax_sim_set_durations(250, 0, 0), 0);
  const auto start = std::chrono::steady_clock::now();
  ASSERT_GOOD(Send(cdb::Blank(false, 0)));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(250));
  EXPECT_GOOD(Send(cdb::TestUnitReady()));
}

}  // namespace
}  // namespace fornax::sim::test
