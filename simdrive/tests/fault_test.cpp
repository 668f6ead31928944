// Faults set through the control interface: a busy drive, write errors,
// read errors, not ready, a slow drive, the tray, another identity.

#include <chrono>
#include <cstring>
#include <thread>

#include "drive_fixture.h"
#include "simdrive/simdrive.h"

namespace fornax::sim::test {
namespace {

class Faults : public DriveTest {};

TEST_F(Faults, BusyAsTargetStatusThenWritesGoOn) {
  Insert("dvd+r");
  ASSERT_EQ(fornax_sim_fault_busy(2, 1), 0);
  EXPECT_GOOD(Send(cdb::Inquiry(), 96)) << "identification is never busy";
  for (int i = 0; i < 2; ++i) {
    const Outcome busy = Write(0, 32);
    EXPECT_EQ(busy.status, SS_ERR);
    EXPECT_EQ(busy.target_status, STATUS_BUSY);
    EXPECT_EQ(busy.sense[12], 0) << "BUSY carries no sense";
  }
  EXPECT_GOOD(Write(0, 32));
  EXPECT_EQ(NextWritable(1), 32u);
}

TEST_F(Faults, BusyAsLongWriteInProgress) {
  Insert("cd-r");
  ASSERT_EQ(fornax_sim_fault_busy(2, 0), 0);
  EXPECT_SENSE(Write(0, 27), 2, 0x04, 0x08);
  const Outcome sense = Send(cdb::RequestSense(), 18);
  EXPECT_GOOD(sense);
  EXPECT_EQ(sense.data[13], 0x08) << "REQUEST SENSE answers with the condition";
  EXPECT_GOOD(Write(0, 27));
}

// A process that turned signal faults off runs the command and leaves the
// fault for another process; a kill aimed at it would otherwise end a server.
TEST_F(Faults, SignalFaultsNeverFireWhereTurnedOff) {
  Insert("dvd+r");
  ASSERT_EQ(fornax_sim_fault_signal(0x2A, 1, 9), 0);
  ASSERT_EQ(fornax_sim_allow_signal_faults(0), 0);
  EXPECT_GOOD(Write(0, 32));
  EXPECT_EQ(NextWritable(1), 32u) << "the command ran";
  ASSERT_EQ(fornax_sim_allow_signal_faults(1), 0);
  ASSERT_EQ(fornax_sim_clear_faults(), 0);
}

TEST_F(Faults, WriteErrorHitsEveryWriteCoveringItsBlock) {
  Insert("dvd+r");
  ASSERT_EQ(fornax_sim_fault_write_error(40, 0x03, 0x0C, 0x00), 0);
  EXPECT_GOOD(Write(0, 32));
  const Outcome failed = Write(32, 32);
  EXPECT_SENSE(failed, 3, 0x0C, 0x00);
  EXPECT_EQ(failed.sense[0], 0xF0);
  EXPECT_EQ(failed.sense[6], 40) << "the failing block in the information field";
  EXPECT_EQ(NextWritable(1), 32u) << "nothing of the failed write recorded";
  EXPECT_GOOD(Write(32, 8));
  EXPECT_SENSE(Write(40, 8), 3, 0x0C, 0x00);
  ASSERT_EQ(fornax_sim_clear_faults(), 0);
  ASSERT_EQ(fornax_sim_set_durations(0, 0, 0), 0);
  EXPECT_GOOD(Write(40, 8));
}

TEST_F(Faults, ReadErrorFailsReadsCoveringItsBlocksThenWearsOff) {
  Insert("dvd+r");
  ASSERT_GOOD(Write(0, 64));
  ASSERT_EQ(fornax_sim_fault_read_error(40, 3, 2), 0);
  EXPECT_GOOD(Send(cdb::Read10(0, 32), 32 * 2048)) << "a read beside the blocks";
  EXPECT_GOOD(Send(cdb::Read10(43, 21), 21 * 2048));
  for (const uint32_t lba : {32u, 42u}) {
    const Outcome failed = Send(cdb::Read10(lba, lba == 32 ? 32 : 1), 32 * 2048);
    EXPECT_SENSE(failed, 3, 0x11, 0x00);
    EXPECT_EQ(failed.sense[0], 0xF0);
    EXPECT_EQ(failed.sense[6], lba == 32 ? 40 : 42) << "the first faulty block it covers";
  }
  char text[512];
  ASSERT_EQ(fornax_sim_describe(text, sizeof text), 0);
  EXPECT_EQ(std::strstr(text, "fault: read error"), nullptr) << "worn off after two reads: " << text;
  EXPECT_GOOD(Send(cdb::Read10(32, 32), 32 * 2048));

  ASSERT_EQ(fornax_sim_fault_read_error(10, 1, 0), 0);
  ASSERT_EQ(fornax_sim_describe(text, sizeof text), 0);
  EXPECT_NE(std::strstr(text, "fault: read error at 10 (3/11/00, every read)"), nullptr) << text;
  for (int i = 0; i < 5; ++i) EXPECT_SENSE(Send(cdb::Read10(10, 1), 2048), 3, 0x11, 0x00);
  EXPECT_NE(fornax_sim_fault_read_error(10, 0, 0), 0) << "no block at all";
  EXPECT_NE(fornax_sim_fault_read_error(10, 1, -1), 0);
  ASSERT_EQ(fornax_sim_clear_faults(), 0);
  EXPECT_GOOD(Send(cdb::Read10(10, 1), 2048));
}

TEST_F(Faults, NotReadyForAWhile) {
  Insert("dvd-ram");
  ASSERT_EQ(fornax_sim_fault_not_ready(300), 0);
  EXPECT_SENSE(Send(cdb::TestUnitReady()), 2, 0x04, 0x01);
  EXPECT_SENSE(DiscInfo(), 2, 0x04, 0x01);
  EXPECT_EQ(Send(cdb::RequestSense(), 18).data[13], 0x01);
  EXPECT_GOOD(Send(cdb::Inquiry(), 96));
  std::this_thread::sleep_for(std::chrono::milliseconds(320));
  EXPECT_GOOD(Send(cdb::TestUnitReady()));
}

TEST_F(Faults, SlowDriveWritesAtItsSpeed) {
  Insert("dvd-ram");
  ASSERT_EQ(fornax_sim_set_write_speed(10000), 0);  // the 2 MiB buffer drains in 210 ms
  const auto start = std::chrono::steady_clock::now();
  // 4 MiB: the first two fill the buffer at once, the rest wait for room.
  int busy = 0;
  for (uint32_t lba = 0; lba < 2048;) {
    const Outcome w = Write(lba, 32);
    if (w.Ok()) {
      lba += 32;
      continue;
    }
    ASSERT_EQ(SenseText(w), "2/04/08") << "a full buffer: long write in progress";
    ++busy;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  EXPECT_GT(busy, 0);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
}

TEST_F(Faults, TrayOpenKeepsTheDiscRemovalTakesIt) {
  Insert("dvd+r");
  ASSERT_GOOD(Write(0, 32));
  ASSERT_EQ(fornax_sim_open_tray(), 0);
  EXPECT_SENSE(Send(cdb::TestUnitReady()), 2, 0x3A, 0x02);
  ASSERT_EQ(fornax_sim_close_tray(), 0);
  EXPECT_SENSE(Send(cdb::TestUnitReady()), 6, 0x28, 0x00);
  EXPECT_EQ(NextWritable(1), 32u);

  ASSERT_EQ(fornax_sim_remove(), 0);
  EXPECT_SENSE(Send(cdb::TestUnitReady()), 2, 0x3A, 0x02);
  EXPECT_GOOD(Send(cdb::StartStop(0x03)));
  EXPECT_SENSE(Send(cdb::TestUnitReady()), 2, 0x3A, 0x00) << "no unit attention without a medium";
  char text[512];
  ASSERT_EQ(fornax_sim_describe(text, sizeof text), 0);
  EXPECT_NE(std::strstr(text, "tray closed, medium none"), nullptr) << text;
  EXPECT_NE(fornax_sim_export((dir_ + "/none.iso").c_str()), 0);
}

TEST_F(Faults, IdentityOverrideUntilCleared) {
  ASSERT_EQ(fornax_sim_set_identity("TDK", "CDRW321040X", "1.00"), 0);
  const Outcome quirky = Send(cdb::Inquiry(), 96);
  EXPECT_EQ(std::string(quirky.data.begin() + 8, quirky.data.begin() + 36), "TDK     CDRW321040X     1.00");
  ASSERT_EQ(fornax_sim_fault_busy(5, 1), 0);
  ASSERT_EQ(fornax_sim_clear_faults(), 0);
  const Outcome plain = Send(cdb::Inquiry(), 96);
  EXPECT_EQ(std::string(plain.data.begin() + 8, plain.data.begin() + 36), "FORNAX  VIRTUAL RECORDERSIM1");
  EXPECT_GOOD(Send(cdb::TestUnitReady()));
  EXPECT_NE(fornax_sim_insert("dvd-rw"), 0) << "the DVD-RW mode must be named";
  EXPECT_NE(fornax_sim_set_durations(-1, 0, 0), 0);
  EXPECT_STRNE(fornax_sim_last_error(), "");
}

}  // namespace
}  // namespace fornax::sim::test
