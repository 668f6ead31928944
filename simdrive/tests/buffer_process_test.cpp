// The drive's buffer at the write speed, operations that take time while
// others look on, and the guarantees of the state folder: two processes see
// one drive, and a process killed at any point leaves the drive as it was
// before or after a command.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <random>
#include <thread>

#include "drive_fixture.h"
#include "simdrive/simdrive.h"

namespace fornax::sim::test {
namespace {

using Clock = std::chrono::steady_clock;

class BufferAndProcesses : public DriveTest {
 protected:
  uint32_t FreeBytes() {
    const Outcome o = Send({0x5C, 0, 0, 0, 0, 0, 0, 0, 12, 0}, 12);
    EXPECT_GOOD(o);
    EXPECT_EQ(o.Be32(4), 2u * 1024 * 1024) << "buffer size";
    return o.Be32(8);
  }
  static int64_t MsSince(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
  }
  // Every block in [0, end) names itself (Pattern).
  void ExpectBlocksNameThemselves(uint32_t end) {
    for (uint32_t at = 0; at < end; at += 256) {
      const auto n = static_cast<uint16_t>(std::min<uint32_t>(256, end - at));
      const Outcome r = Send(cdb::Read10(at, n), n * 2048u);
      ASSERT_GOOD(r) << "at " << at;
      for (uint32_t b = 0; b < n; ++b) {
        uint32_t named = 0;
        std::memcpy(&named, &r.data[size_t{b} * 2048], sizeof named);
        ASSERT_EQ(named, at + b) << "block " << at + b << " holds another block's data";
      }
    }
  }
};

TEST_F(BufferAndProcesses, BufferFillsAtOnceAndDrainsAtTheWriteSpeed) {
  Insert("dvd+r");
  EXPECT_EQ(FreeBytes(), 2u * 1024 * 1024) << "empty";
  ASSERT_EQ(fornax_sim_set_write_speed(1000), 0);  // 1 MB/s: 64 KiB drain in 65 ms
  ASSERT_GOOD(Write(0, 32));
  const uint32_t after_one = FreeBytes();
  EXPECT_LE(after_one, 2u * 1024 * 1024 - 30000) << "64 KiB in, less what drained meanwhile";
  EXPECT_GE(after_one, 2u * 1024 * 1024 - 65536);
  uint32_t nwa = 32;
  Outcome refused;
  for (int i = 0; i < 64; ++i) {
    refused = Write(nwa, 32);
    if (!refused.Ok()) break;
    nwa += 32;
  }
  EXPECT_SENSE(refused, 2, 0x04, 0x08) << "a write that does not fit the free space";
  EXPECT_EQ(Send(cdb::RequestSense(), 18).data[13], 0x08);
  EXPECT_EQ(NextWritable(1), nwa) << "and nothing of it taken";
  EXPECT_LT(FreeBytes(), 131072u) << "all but what drained since";
  const Outcome blocks = Send({0x5C, 0x01, 0, 0, 0, 0, 0, 0, 12, 0}, 12);
  EXPECT_EQ(blocks.data[3], 0x01);
  EXPECT_LT(blocks.Be32(8), 32u) << "free space in blocks";
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  EXPECT_GE(FreeBytes(), 130000u) << "drained at 1 MB/s meanwhile";
  EXPECT_GOOD(Write(nwa, 32));

  // SYNCHRONIZE CACHE without Immed returns once the buffer is empty.
  const uint32_t held = 2u * 1024 * 1024 - FreeBytes();
  const auto start = Clock::now();
  ASSERT_GOOD(Send(cdb::SyncCache(false)));
  EXPECT_GE(MsSince(start), static_cast<int64_t>(held / 1000) - 5);
  EXPECT_EQ(FreeBytes(), 2u * 1024 * 1024);
}

TEST_F(BufferAndProcesses, AtSpeedZeroTheBufferNeverLimits) {
  Insert("dvd+r");
  for (uint32_t lba = 0; lba < 4096; lba += 32) ASSERT_GOOD(Write(lba, 32));
  EXPECT_EQ(FreeBytes(), 2u * 1024 * 1024);
}

TEST_F(BufferAndProcesses, ImmediateFlushIsInProgressUntilTheBufferIsWritten) {
  Insert("dvd-r");
  ASSERT_EQ(fornax_sim_set_write_speed(2000), 0);
  for (uint32_t lba = 0; lba < 512; lba += 32) ASSERT_GOOD(Write(lba, 32));  // 1 MiB: half a second
  const auto start = Clock::now();
  ASSERT_GOOD(Send(cdb::SyncCache(true)));
  EXPECT_LT(MsSince(start), 100) << "Immed answers at once";
  EXPECT_GOOD(Send(cdb::TestUnitReady())) << "TEST UNIT READY is good while the drive writes out";
  EXPECT_SENSE(DiscInfo(), 2, 0x04, 0x07);
  const Outcome sense = Send(cdb::RequestSense(), 18);
  EXPECT_EQ(sense.data[12], 0x04);
  EXPECT_EQ(sense.data[13], 0x07);
  EXPECT_EQ(sense.data[15], 0x80) << "with progress";
  EXPECT_SENSE(Write(512, 32), 2, 0x04, 0x07);
  EXPECT_GOOD(Send({0x5C, 0, 0, 0, 0, 0, 0, 0, 12, 0}, 12)) << "READ BUFFER CAPACITY answers meanwhile";
  ASSERT_TRUE(WaitWhileInProgress(5000));
  EXPECT_GE(MsSince(start), 400);
}

TEST_F(BufferAndProcesses, OpcAndCloseTakeTheirTimeWhileOthersSeeThemInProgress) {
  Insert("cd-r");
  ASSERT_EQ(fornax_sim_set_opc_duration(300), 0);
  const auto start = Clock::now();
  std::thread opc([&] { EXPECT_GOOD(SendOut({0x54, 0x01, 0, 0, 0, 0, 0, 0, 0, 0}, {})); });
  std::this_thread::sleep_for(std::chrono::milliseconds(60));
  EXPECT_SENSE(Send(cdb::TestUnitReady()), 2, 0x04, 0x07) << "another initiator during OPC";
  EXPECT_GOOD(Send(cdb::Inquiry(), 96));
  opc.join();
  EXPECT_GE(MsSince(start), 300) << "OPC without Immed returns when done";
  EXPECT_GOOD(Send(cdb::TestUnitReady()));

  ASSERT_EQ(fornax_sim_set_durations(0, 0, 300), 0);
  ASSERT_GOOD(SetWriteParameters(0x41, 0xC4, 0x08, 0x00));
  ASSERT_GOOD(Write(0, 300));
  ASSERT_GOOD(Send(cdb::SyncCache(false)));
  std::thread close([&] { EXPECT_GOOD(Send(cdb::Close(false, 2, 0))); });
  std::this_thread::sleep_for(std::chrono::milliseconds(60));
  EXPECT_GOOD(Send(cdb::TestUnitReady())) << "TEST UNIT READY is good during a close";
  EXPECT_SENSE(DiscInfo(), 2, 0x04, 0x07);
  close.join();
  EXPECT_EQ(DiscInfo().data[4], 2) << "the session closed";
}

TEST_F(BufferAndProcesses, TwoProcessesHammeringOneFolderSeeOneDrive) {
  Insert("dvd+r");
  constexpr int kWritesEach = 200;
  auto hammer = [&](uint8_t fill) {
    int done = 0;
    while (done < kWritesEach) {
      const Outcome track = ReadTrack(1);
      if (!track.Ok()) return false;
      const Outcome w = Write(track.Be32(12), 4, fill);
      if (w.Ok()) ++done;
      else if (!(w.Asc() == 0x21 && w.Ascq() == 0x02)) return false;  // the other one was faster
      if (!Send(cdb::ModeSense(0x2A), 255).Ok() || !Send({0x5C, 0, 0, 0, 0, 0, 0, 0, 12, 0}, 12).Ok()) return false;
      if (done % 50 == 0 && !SetWriteParameters(0x22, 0xC4, 0x08, 0x00).Ok()) return false;
    }
    return true;
  };
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(hammer(0x11) ? 0 : 1);
  const bool parent_ok = hammer(0x22);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(parent_ok);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(NextWritable(1), 2u * kWritesEach * 4) << "no write lost or doubled";
  ExpectBlocksNameThemselves(2 * kWritesEach * 4);
}

// SIGKILL at random moments of a process that writes, inserts new discs
// (which empties the sector file) and changes page 05: whatever it was
// doing, the drive it leaves is whole.
TEST_F(BufferAndProcesses, AProcessKilledAnywhereLeavesTheStateBeforeOrAfter) {
  std::mt19937 random(20261207);
  for (int round = 0; round < 25; ++round) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      for (int i = 0;; ++i) {
        if (i % 40 == 0) fornax_sim_insert("dvd+r");
        const Outcome track = ReadTrack(1);
        if (track.Ok()) Write(track.Be32(12), 16, static_cast<uint8_t>(i));
        if (i % 7 == 0) SetWriteParameters(0x22, static_cast<uint8_t>(i % 2 ? 0xC4 : 0x04), 0x08, 0x00);
      }
    }
    std::this_thread::sleep_for(std::chrono::microseconds(std::uniform_int_distribution<int>(500, 40000)(random)));
    kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
    const Outcome tur = Send(cdb::TestUnitReady());
    ASSERT_TRUE(tur.Ok() || SenseText(tur) == "6/28/00") << SenseText(tur);
    const uint32_t nwa = NextWritable(1);
    EXPECT_EQ(nwa % 16, 0u) << "round " << round << ": a write is in or out, never half";
    ExpectBlocksNameThemselves(nwa);
    EXPECT_FALSE(std::filesystem::exists(dir_ + "/state.corrupt")) << "round " << round;
  }
}

}  // namespace
}  // namespace fornax::sim::test
