// What the drive refuses, and with which sense: unknown opcodes, bad CDB
// fields, commands that need a medium, unit attention, mode page rules.

#include "drive_fixture.h"
#include "simdrive/simdrive.h"

namespace fornax::sim::test {
namespace {

class CommandChecks : public DriveTest {};

struct Refusal {
  const char* what;
  std::vector<uint8_t> cdb;
  uint8_t key, asc, ascq;
  uint32_t in_length = 255;  // 0 for commands that carry data out
};

TEST_F(CommandChecks, UnknownOpcodesAreInvalidWithOrWithoutMedium) {
  for (uint8_t opcode : {0x08, 0x2B, 0x42, 0x44, 0x5E, 0xA4, 0xA8, 0xB9, 0xBE, 0xFF}) {
    std::vector<uint8_t> c(opcode >= 0xA0 ? 12 : 10, 0);
    c[0] = opcode;
    EXPECT_SENSE(Send(c, 64), 5, 0x20, 0x00) << std::hex << int{opcode};
  }
  ASSERT_EQ(fornax_sim_remove(), 0);
  EXPECT_SENSE(Send({0xA8, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0}, 2048), 5, 0x20, 0x00);
}

TEST_F(CommandChecks, BadCdbFieldsAreRefused) {
  Insert("cd-r");
  const std::vector<Refusal> refusals{
      {"disc information other than standard", {0x51, 0x01, 0, 0, 0, 0, 0, 0, 34, 0}, 5, 0x24, 0},
      {"track past the invisible one", cdb::TrackInformation(3), 5, 0x24, 0},
      {"track address type 11b", {0x52, 0x03, 0, 0, 0, 1, 0, 0, 40, 0}, 5, 0x24, 0},
      {"TOC of a blank disc", cdb::ReadToc(0, false), 5, 0x24, 0},
      {"full TOC", cdb::ReadToc(2, false), 5, 0x24, 0},
      {"saved mode values", cdb::ModeSense(0xC5), 5, 0x39, 0},
      {"vendor page 30h", cdb::ModeSense(0x30), 5, 0x24, 0},
      {"mode subpage", {0x5A, 0, 0x2A, 0x01, 0, 0, 0, 0, 255, 0}, 5, 0x24, 0},
      {"descriptor sense", {0x03, 0x01, 0, 0, 18, 0}, 5, 0x24, 0},
      {"vital product data", {0x12, 0x01, 0x80, 0, 96, 0}, 5, 0x24, 0},
      {"configuration request type 11b", cdb::GetConfiguration(3, 0), 5, 0x24, 0},
      {"format without a list", {0x04, 0x01, 0, 0, 0, 0}, 5, 0x24, 0, 0},
      {"blank of a track", cdb::Blank(false, 2), 5, 0x30, 0},
      {"close function 4 on CD", cdb::Close(false, 4, 0), 5, 0x24, 0},
      {"finalize function on CD", cdb::Close(false, 6, 0), 5, 0x24, 0},
      {"capacity of a block with PMI clear", {0x25, 0, 0, 0, 0, 1, 0, 0, 0, 0}, 5, 0x24, 0},
      {"reservation by LBA", {0x53, 0x01, 0, 0, 0, 0, 0, 1, 0, 0}, 5, 0x24, 0},
      {"reservation of nothing", cdb::ReserveTrack(0), 5, 0x24, 0},
      {"stream type other than performance", {0xB6, 0, 0, 0, 0, 0, 0, 0, 5, 0, 0, 0}, 5, 0x24, 0, 0},
      {"DVD structure on a CD", {0xBF, 0, 0, 0, 0, 0, 0, 0x0F, 0, 22, 0, 0}, 5, 0x24, 0, 0},
  };
  for (const Refusal& r : refusals) EXPECT_SENSE(Send(r.cdb, r.in_length), r.key, r.asc, r.ascq) << r.what;
  EXPECT_GOOD(Send(cdb::ReadToc(4, true), 28)) << "ATIP is there on a CD";
}

TEST_F(CommandChecks, MediumCommandsNeedAMediumTheRestDoNot) {
  ASSERT_EQ(fornax_sim_remove(), 0);
  const std::vector<std::vector<uint8_t>> need_medium{
      cdb::TestUnitReady(), {0x01, 0, 0, 0, 0, 0}, cdb::FormatCapacities(), cdb::ReadCapacity(),
      cdb::Read10(0, 1), cdb::SyncCache(false), cdb::ReadToc(0, false), cdb::DiscInformation(),
      cdb::TrackInformation(1), cdb::ReserveTrack(16), {0x54, 1, 0, 0, 0, 0, 0, 0, 0, 0},
      cdb::Close(false, 1, 1), cdb::Blank(false, 0)};
  for (const auto& c : need_medium) {
    const bool carries_data_out = c[0] == 0x54;
    EXPECT_SENSE(Send(c, carries_data_out ? 0 : 2048), 2, 0x3A, 0x02) << std::hex << int{c[0]};
  }
  ASSERT_EQ(fornax_sim_close_tray(), 0);
  EXPECT_SENSE(Send(cdb::TestUnitReady()), 2, 0x3A, 0x00) << "closed and empty";
  EXPECT_GOOD(Send(cdb::RequestSense(), 18));
  EXPECT_EQ(Send(cdb::RequestSense(), 18).data[12], 0x3A) << "the standing condition";
  EXPECT_GOOD(Send(cdb::Inquiry(), 96));
  EXPECT_GOOD(Send(cdb::ModeSense(0x2A), 255));
  EXPECT_GOOD(Send({0xBB, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0}));
  EXPECT_GOOD(Send({0x5C, 0, 0, 0, 0, 0, 0, 0, 12, 0}, 12));
  EXPECT_GOOD(Send(cdb::PreventAllow(false)));
  const Outcome config = Send(cdb::GetConfiguration(2, 0), 114);
  EXPECT_GOOD(config);
  EXPECT_EQ(config.Be16(6), 0) << "no current profile";
  EXPECT_EQ(config.data[10], 0x03) << "the profile list is there, no profile current";
}

TEST_F(CommandChecks, UnitAttentionComesOnceAfterALoad) {
  ASSERT_EQ(fornax_sim_insert("dvd-r"), 0);
  EXPECT_GOOD(Send(cdb::Inquiry(), 96)) << "INQUIRY neither reports nor clears it";
  EXPECT_GOOD(Send(cdb::GetConfiguration(2, 0), 16));
  EXPECT_SENSE(Send(cdb::DiscInformation(), 34), 6, 0x28, 0x00);
  EXPECT_GOOD(DiscInfo());

  ASSERT_GOOD(Send(cdb::StartStop(0x02)));
  EXPECT_SENSE(Send(cdb::TestUnitReady()), 2, 0x3A, 0x02);
  ASSERT_GOOD(Send(cdb::StartStop(0x03)));
  const Outcome sense = Send(cdb::RequestSense(), 18);
  EXPECT_EQ(sense.data[2], 6) << "REQUEST SENSE reports the attention";
  EXPECT_EQ(sense.data[12], 0x28);
  EXPECT_GOOD(Send(cdb::TestUnitReady())) << "and clears it";
  ASSERT_GOOD(Send(cdb::StartStop(0x03)));
  EXPECT_GOOD(Send(cdb::TestUnitReady())) << "loading a closed tray changes nothing";
}

TEST_F(CommandChecks, PreventedMediumStaysIn) {
  Insert("cd-rw");
  ASSERT_GOOD(Send(cdb::PreventAllow(true)));
  EXPECT_EQ(Send(cdb::ModeSense(0x2A), 255).data[8 + 6] & 0x02, 0x02) << "page 2A shows the lock";
  EXPECT_SENSE(Send(cdb::StartStop(0x02)), 5, 0x53, 0x02);
  ASSERT_GOOD(Send(cdb::PreventAllow(false)));
  EXPECT_GOOD(Send(cdb::StartStop(0x02)));
}

TEST_F(CommandChecks, ModeSelectTakesOnlyAValidPage05) {
  Insert("dvd-r");
  std::vector<uint8_t> list = Send(cdb::ModeSense(0x2A), 255).data;
  list.resize(8 + 2 + list[9]);
  list[0] = list[1] = 0;
  EXPECT_SENSE(SendOut(cdb::ModeSelect(static_cast<uint16_t>(list.size())), list), 5, 0x26, 0x00)
      << "page 2A is read-only";
  EXPECT_SENSE(SetWriteParameters(0x41, 0x04, 0x08, 0x00), 5, 0x26, 0x00) << "TAO on a DVD-R";
  EXPECT_SENSE(SetWriteParameters(0x60, 0xE5, 0x08, 0x07), 5, 0x26, 0x00) << "CD link size on a DVD-R";
  EXPECT_SENSE(SetWriteParameters(0x40, 0x85, 0x08, 0x10), 5, 0x26, 0x00) << "reserved multi-session 10b";
  EXPECT_GOOD(SetWriteParameters(0x60, 0xE5, 0x08, 0x10, 16));

  Outcome sensed = Send(cdb::ModeSense(0x05, 60), 60);
  std::vector<uint8_t> page(sensed.data.begin(), sensed.data.end());
  page[0] = page[1] = 0;
  page[8 + 9] = 0x01;  // a reserved byte
  EXPECT_SENSE(SendOut(cdb::ModeSelect(60), page), 5, 0x26, 0x00);
  page[8 + 9] = 0;
  EXPECT_SENSE(SendOut(cdb::ModeSelect(40), page), 5, 0x1A, 0x00) << "list shorter than the page";
  page[8 + 1] = 0x36;
  EXPECT_SENSE(SendOut(cdb::ModeSelect(60), page), 5, 0x1A, 0x00) << "page longer than the list";
  page[8 + 1] = 0x32;
  auto no_pf = cdb::ModeSelect(60);
  no_pf[1] = 0;
  EXPECT_SENSE(SendOut(no_pf, page), 5, 0x24, 0x00);
}

TEST_F(CommandChecks, EveryMediumTakesTheEnginesWriteParameters) {
  struct Case {
    const char* kind;
    uint8_t b2, b3, b4, b5;
  };
  const Case cases[] = {{"cd-r", 0x41, 0xC4, 0x08, 0x00},  {"cd-rw", 0x01, 0x04, 0x08, 0x00},
                        {"dvd-r", 0x60, 0xE5, 0x08, 0x10}, {"dvd-rw-seq", 0x20, 0xC5, 0x08, 0x10},
                        {"dvd+r", 0x22, 0xC4, 0x08, 0x00}, {"dvd+rw", 0x22, 0x04, 0x08, 0x10},
                        {"dvd+r-dl", 0x22, 0xC4, 0x08, 0x00}, {"dvd-ram", 0x01, 0x04, 0x08, 0x00}};
  for (const Case& c : cases) {
    Insert(c.kind);
    EXPECT_GOOD(SetWriteParameters(c.b2, c.b3, c.b4, c.b5, 16)) << c.kind;
  }
  Insert("cd-r");
  EXPECT_GOOD(SetWriteParameters(0x03, 0x00, 0x01, 0x00)) << "raw with subcode blocks";
  EXPECT_SENSE(SetWriteParameters(0x03, 0x00, 0x08, 0x00), 5, 0x26, 0x00) << "raw with mode 1 blocks";
}

TEST_F(CommandChecks, SetStreamingAndTimeStampCheckTheirLists) {
  Insert("dvd-r");
  const std::vector<uint8_t> descriptor{0, 0, 0, 0, 0, 0, 0, 0, 0, 0x23, 0x12, 0x7F, 0, 0, 0xAB, 0xBD,
                                        0, 0, 0x03, 0xE8, 0, 0, 0x05, 0x8A, 0, 0, 0x03, 0xE8};
  EXPECT_GOOD(SendOut({0xB6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 28, 0}, descriptor)) << "end beyond the disc is clamped";
  EXPECT_SENSE(SendOut({0xB6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 20, 0}, descriptor), 5, 0x1A, 0x00);
  std::vector<uint8_t> stamp{0, 20, 0, 0, 0, 0, 0, 0};
  for (char ch : std::string("20240131235959")) stamp.push_back(static_cast<uint8_t>(ch));
  const std::vector<uint8_t> send_structure{0xBF, 0, 0, 0, 0, 0, 0, 0x0F, 0, 22, 0, 0};
  EXPECT_GOOD(SendOut(send_structure, stamp));
  stamp[10] = 'x';
  EXPECT_SENSE(SendOut(send_structure, stamp), 5, 0x26, 0x00);
}

}  // namespace
}  // namespace fornax::sim::test
