#include "drive_fixture.h"

#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>

#include "simdrive/simdrive.h"

namespace fornax::sim::test {

uint32_t Outcome::Be32(size_t at) const {
  return (uint32_t{data.at(at)} << 24) | (uint32_t{data.at(at + 1)} << 16) | (uint32_t{data.at(at + 2)} << 8) |
         data.at(at + 3);
}
uint16_t Outcome::Be16(size_t at) const { return static_cast<uint16_t>((data.at(at) << 8) | data.at(at + 1)); }

std::string SenseText(int key, int asc, int ascq) {
  char text[16];
  std::snprintf(text, sizeof text, "%X/%02X/%02X", key, asc, ascq);
  return text;
}

std::string SenseText(const Outcome& o) {
  if (o.status == SS_COMP) return "good";
  if (o.status == SS_ERR && o.target_status == STATUS_CHKCOND) return SenseText(o.Key(), o.Asc(), o.Ascq());
  char text[48];
  std::snprintf(text, sizeof text, "srb %02X target %02X adapter %02X", o.status, o.target_status,
                o.adapter_status);
  return text;
}

namespace cdb {
namespace {
std::vector<uint8_t> Ten(uint8_t op, uint16_t allocation) {
  return {op, 0, 0, 0, 0, 0, 0, static_cast<uint8_t>(allocation >> 8), static_cast<uint8_t>(allocation), 0};
}
void PutBe32(std::vector<uint8_t>& c, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) c[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}
}  // namespace

std::vector<uint8_t> TestUnitReady() { return {0x00, 0, 0, 0, 0, 0}; }
std::vector<uint8_t> RequestSense(uint8_t allocation) { return {0x03, 0, 0, 0, allocation, 0}; }
std::vector<uint8_t> Inquiry(uint8_t allocation) { return {0x12, 0, 0, 0, allocation, 0}; }
std::vector<uint8_t> StartStop(uint8_t control) { return {0x1B, 0, 0, 0, control, 0}; }
std::vector<uint8_t> PreventAllow(bool prevent) { return {0x1E, 0, 0, 0, static_cast<uint8_t>(prevent), 0}; }
std::vector<uint8_t> Read10(uint32_t lba, uint16_t blocks) {
  auto c = Ten(0x28, blocks);
  PutBe32(c, 2, lba);
  return c;
}
std::vector<uint8_t> Write10(uint32_t lba, uint16_t blocks) {
  auto c = Ten(0x2A, blocks);
  PutBe32(c, 2, lba);
  return c;
}
std::vector<uint8_t> SyncCache(bool immediate) {
  auto c = Ten(0x35, 0);
  c[1] = immediate ? 0x02 : 0;
  return c;
}
std::vector<uint8_t> ReadToc(uint8_t format, bool msf, uint8_t track, uint16_t allocation) {
  auto c = Ten(0x43, allocation);
  c[1] = msf ? 0x02 : 0;
  c[2] = format;
  c[6] = track;
  return c;
}
std::vector<uint8_t> GetConfiguration(uint8_t request_type, uint16_t feature, uint16_t allocation) {
  auto c = Ten(0x46, allocation);
  c[1] = request_type;
  c[2] = static_cast<uint8_t>(feature >> 8);
  c[3] = static_cast<uint8_t>(feature);
  return c;
}
std::vector<uint8_t> DiscInformation(uint16_t allocation) { return Ten(0x51, allocation); }
std::vector<uint8_t> TrackInformation(uint32_t number, uint8_t address_type, uint16_t allocation) {
  auto c = Ten(0x52, allocation);
  c[1] = address_type;
  PutBe32(c, 2, number);
  return c;
}
std::vector<uint8_t> ReserveTrack(uint32_t blocks) {
  std::vector<uint8_t> c(12, 0);  // the engine sends it in a 12-byte block
  c[0] = 0x53;
  PutBe32(c, 5, blocks);
  return c;
}
std::vector<uint8_t> ModeSense(uint8_t page_and_control, uint16_t allocation) {
  auto c = Ten(0x5A, allocation);
  c[2] = page_and_control;
  return c;
}
std::vector<uint8_t> ModeSelect(uint16_t length) {
  auto c = Ten(0x55, length);
  c[1] = 0x10;
  return c;
}
std::vector<uint8_t> Close(bool immediate, uint8_t function, uint16_t track) {
  auto c = Ten(0x5B, 0);
  c[1] = immediate ? 1 : 0;
  c[2] = function;
  c[4] = static_cast<uint8_t>(track >> 8);
  c[5] = static_cast<uint8_t>(track);
  return c;
}
std::vector<uint8_t> ReadCapacity() { return Ten(0x25, 0); }
std::vector<uint8_t> FormatCapacities(uint16_t allocation) { return Ten(0x23, allocation); }
std::vector<uint8_t> FormatUnit() { return {0x04, 0x11, 0, 0, 0, 0}; }
std::vector<uint8_t> Blank(bool immediate, uint8_t type) {
  std::vector<uint8_t> c(12, 0);
  c[0] = 0xA1;
  c[1] = static_cast<uint8_t>((immediate ? 0x10 : 0) | type);
  return c;
}
}  // namespace cdb

std::vector<uint8_t> Pattern(uint32_t first_lba, uint16_t blocks, uint8_t fill) {
  std::vector<uint8_t> data(size_t{blocks} * 2048, fill);
  for (uint16_t b = 0; b < blocks; ++b) {
    const uint32_t lba = first_lba + b;  // each block names itself, so a misplaced one shows
    std::memcpy(&data[size_t{b} * 2048], &lba, sizeof lba);
  }
  return data;
}

void DriveTest::SetUp() {
  char pattern[] = "/tmp/fornax-simdrive-test-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  dir_ = pattern;
  ASSERT_EQ(fornax_sim_set_state_dir(dir_.c_str()), 0) << fornax_sim_last_error();
  ASSERT_EQ(fornax_sim_set_durations(0, 0, 0), 0);
}

void DriveTest::TearDown() {
  std::error_code ignored;
  // FORNAX_SIMDRIVE_KEEP_STATES=FOLDER keeps each test's metadata file there,
  // named after the test: the drive fuzzer's seeds are made from them
  // (tests/fuzz/make_drive_corpus.sh).
  if (const char* keep = std::getenv("FORNAX_SIMDRIVE_KEEP_STATES"); keep != nullptr && *keep != '\0') {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string name = std::string(test->test_suite_name()) + "." + test->name() + ".state";
    std::filesystem::copy_file(dir_ + "/state", std::filesystem::path(keep) / name,
                               std::filesystem::copy_options::overwrite_existing, ignored);
  }
  std::filesystem::remove_all(dir_, ignored);
}

namespace {

// One command through the transport; `buffer` is read into or written from.
Outcome Execute(const std::vector<uint8_t>& cdb, uint8_t direction, std::vector<uint8_t> buffer, SendFn send) {
  SRB_ExecSCSICmd srb{};
  srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
  srb.SRB_Flags = buffer.empty() ? 0 : direction;
  srb.SRB_BufLen = static_cast<uint32_t>(buffer.size());
  srb.SRB_BufPointer = buffer.empty() ? nullptr : buffer.data();
  srb.SRB_SenseLen = 24;
  srb.SRB_CDBLen = static_cast<uint8_t>(cdb.size());
  std::memcpy(srb.CDBByte, cdb.data(), cdb.size());
  Outcome o;
  o.status = static_cast<uint8_t>((send ? send : SendASPI32Command)(&srb));
  o.target_status = srb.SRB_TargStat;
  o.adapter_status = srb.SRB_HaStat;
  std::memcpy(o.sense.data(), srb.SenseArea, o.sense.size());
  if (direction == SRB_DIR_IN) o.data = std::move(buffer);
  return o;
}

}  // namespace

Outcome DriveTest::Send(const std::vector<uint8_t>& cdb, uint32_t in_length, SendFn send) {
  return Execute(cdb, SRB_DIR_IN, std::vector<uint8_t>(in_length, 0), send);
}

Outcome DriveTest::SendOut(const std::vector<uint8_t>& cdb, const std::vector<uint8_t>& data, SendFn send) {
  return Execute(cdb, SRB_DIR_OUT, data, send);
}

void DriveTest::Insert(const char* kind) {
  ASSERT_EQ(fornax_sim_insert(kind), 0) << fornax_sim_last_error();
  const Outcome attention = Send(cdb::TestUnitReady());
  EXPECT_SENSE(attention, 6, 0x28, 0);
}

Outcome DriveTest::Write(uint32_t lba, uint16_t blocks, uint8_t fill) {
  return SendOut(cdb::Write10(lba, blocks), Pattern(lba, blocks, fill));
}

Outcome DriveTest::SetWriteParameters(uint8_t b2, uint8_t b3, uint8_t b4, uint8_t b5, uint32_t packet) {
  Outcome sensed = Send(cdb::ModeSense(0x05, 60), 60);
  if (!sensed.Ok()) return sensed;
  std::vector<uint8_t> list(sensed.data.begin(), sensed.data.begin() + 60);
  list[0] = list[1] = 0;
  list[10] = b2;
  list[11] = b3;
  list[12] = b4;
  list[13] = b5;
  for (int i = 0; i < 4; ++i) list[18 + i] = static_cast<uint8_t>(packet >> (24 - 8 * i));
  return SendOut(cdb::ModeSelect(60), list);
}

uint32_t DriveTest::NextWritable(uint32_t track) {
  const Outcome o = ReadTrack(track);
  EXPECT_GOOD(o);
  EXPECT_TRUE(o.Ok() && (o.data[7] & 0x01)) << "no valid next writable address on track " << track;
  return o.Ok() ? o.Be32(12) : 0;
}

bool DriveTest::WaitWhileInProgress(int timeout_ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (std::chrono::steady_clock::now() < end) {
    const Outcome tur = Send(cdb::TestUnitReady());
    const Outcome rdi = DiscInfo();
    if (tur.Ok() && rdi.Ok()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

}  // namespace fornax::sim::test
