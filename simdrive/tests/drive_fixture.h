#pragma once
// Drives the simulated recorder the way the engine does: real SRBs through
// SendASPI32Command, each test with a state directory of its own.

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/drive/srb.h"

namespace fornax::sim::test {

using SendFn = uint32_t (*)(void*);

struct Outcome {
  uint8_t status = 0;
  uint8_t target_status = 0;
  uint8_t adapter_status = 0;
  std::array<uint8_t, SRB_SENSE_AREA> sense{};
  std::vector<uint8_t> data;

  bool Ok() const { return status == SS_COMP; }
  uint8_t Key() const { return sense[2] & 0x0F; }
  uint8_t Asc() const { return sense[12]; }
  uint8_t Ascq() const { return sense[13]; }
  uint32_t Be32(size_t at) const;
  uint16_t Be16(size_t at) const;
};

// "key/asc/ascq" of a CHECK CONDITION, "good", or the SRB status otherwise.
std::string SenseText(const Outcome& o);
std::string SenseText(int key, int asc, int ascq);
#define EXPECT_SENSE(outcome, key, asc, ascq) \
  EXPECT_EQ(::fornax::sim::test::SenseText(outcome), ::fornax::sim::test::SenseText(key, asc, ascq))
#define EXPECT_GOOD(outcome) EXPECT_EQ(::fornax::sim::test::SenseText(outcome), "good")
#define ASSERT_GOOD(outcome) ASSERT_EQ(::fornax::sim::test::SenseText(outcome), "good")

namespace cdb {
std::vector<uint8_t> TestUnitReady();
std::vector<uint8_t> RequestSense(uint8_t allocation = 18);
std::vector<uint8_t> Inquiry(uint8_t allocation = 96);
std::vector<uint8_t> StartStop(uint8_t control);
std::vector<uint8_t> PreventAllow(bool prevent);
std::vector<uint8_t> Read10(uint32_t lba, uint16_t blocks);
std::vector<uint8_t> Write10(uint32_t lba, uint16_t blocks);
std::vector<uint8_t> SyncCache(bool immediate);
std::vector<uint8_t> ReadToc(uint8_t format, bool msf, uint8_t track = 0, uint16_t allocation = 255);
std::vector<uint8_t> GetConfiguration(uint8_t request_type, uint16_t feature, uint16_t allocation = 114);
std::vector<uint8_t> DiscInformation(uint16_t allocation = 34);
std::vector<uint8_t> TrackInformation(uint32_t number, uint8_t address_type = 1, uint16_t allocation = 40);
std::vector<uint8_t> ReserveTrack(uint32_t blocks);
std::vector<uint8_t> ModeSense(uint8_t page_and_control, uint16_t allocation = 255);
std::vector<uint8_t> ModeSelect(uint16_t length);
std::vector<uint8_t> Close(bool immediate, uint8_t function, uint16_t track);
std::vector<uint8_t> ReadCapacity();
std::vector<uint8_t> FormatCapacities(uint16_t allocation = 248);
std::vector<uint8_t> FormatUnit();
std::vector<uint8_t> Blank(bool immediate, uint8_t type);
}  // namespace cdb

class DriveTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The SRB goes to `send`, the linked drive unless a test loaded another copy.
  Outcome Send(const std::vector<uint8_t>& cdb, uint32_t in_length = 0, SendFn send = nullptr);
  Outcome SendOut(const std::vector<uint8_t>& cdb, const std::vector<uint8_t>& data, SendFn send = nullptr);

  // A fresh medium, its unit attention taken, durations zero unless set.
  void Insert(const char* kind);
  Outcome Write(uint32_t lba, uint16_t blocks, uint8_t fill = 0xA5);
  Outcome ReadTrack(uint32_t number) { return Send(cdb::TrackInformation(number), 40); }
  Outcome DiscInfo() { return Send(cdb::DiscInformation(), 34); }
  // Page 05 as the engine sets it: bytes 2-5 replaced, the rest as read.
  Outcome SetWriteParameters(uint8_t b2, uint8_t b3, uint8_t b4, uint8_t b5, uint32_t packet = 0);
  Outcome Format(const std::vector<uint8_t>& list) { return SendOut(cdb::FormatUnit(), list); }
  uint32_t NextWritable(uint32_t track);
  // Polls TEST UNIT READY / READ DISC INFORMATION until the drive stops
  // answering "in progress"; false after the given time.
  bool WaitWhileInProgress(int timeout_ms);

  std::string dir_;
};

std::vector<uint8_t> Pattern(uint32_t first_lba, uint16_t blocks, uint8_t fill);

}  // namespace fornax::sim::test
