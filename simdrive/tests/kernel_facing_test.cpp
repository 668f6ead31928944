// What Linux (sr, cdrom) and burning programs ask beyond the engine's set,
// with golden bytes: READ TOC formats 1, 2, 3
// and 5 and the byte-9 form, MODE SENSE/SELECT (6), GET EVENT STATUS
// NOTIFICATION, GET PERFORMANCE, READ DVD STRUCTURE, MECHANISM STATUS, and
// fornax_sim_execute with its residual.

#include <algorithm>

#include "drive_fixture.h"
#include "simdrive/simdrive.h"

namespace fornax::sim::test {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Head(const Outcome& o, size_t n) { return Bytes(o.data.begin(), o.data.begin() + std::min(n, o.data.size())); }
Bytes Slice(const Outcome& o, size_t at, size_t n) { return Bytes(o.data.begin() + at, o.data.begin() + at + n); }

class KernelFacing : public DriveTest {
 protected:
  // Two TAO sessions: track 1 (1000 blocks, 1002 with run-out) and track 2 at
  // 1002 + 11400 = 12402 (500 blocks, ends at 12904); the disc stays open.
  void TwoCdSessions() {
    Insert("cd-r");
    ASSERT_GOOD(SetWriteParameters(0x41, 0xC4, 0x08, 0x00));
    for (auto [start, blocks] : {std::pair<uint32_t, uint32_t>{0, 1000}, {12402, 500}}) {
      for (uint32_t done = 0; done < blocks; done += 100) ASSERT_GOOD(Write(start + done, 100));
      ASSERT_GOOD(Send(cdb::SyncCache(false)));
      ASSERT_GOOD(Send(cdb::Close(false, 2, 0)));
    }
  }
  Outcome Gesn(uint8_t classes, bool polled = true, uint16_t allocation = 8) {
    return Send({0x4A, static_cast<uint8_t>(polled), 0, 0, classes, 0, 0, static_cast<uint8_t>(allocation >> 8),
                 static_cast<uint8_t>(allocation), 0},
                allocation);
  }
  Outcome Performance(uint8_t qualifier, uint8_t type, uint16_t max) {
    return Send({0xAC, qualifier, 0, 0, 0, 0, 0, 0, static_cast<uint8_t>(max >> 8), static_cast<uint8_t>(max), type, 0},
                8 + 16u * max);
  }
  Outcome DvdStructure(uint8_t format, uint8_t layer = 0, uint16_t allocation = 2052) {
    return Send({0xAD, 0, 0, 0, 0, 0, layer, format, static_cast<uint8_t>(allocation >> 8),
                 static_cast<uint8_t>(allocation), 0, 0},
                allocation);
  }
};

// The kernel's `43 00 00 00 00 00 00 00 0C 40` gets the last session.
TEST_F(KernelFacing, ReadTocByteNineFortyIsTheSessionInfoOfTheLastSession) {
  TwoCdSessions();
  const Outcome info = Send({0x43, 0, 0, 0, 0, 0, 0, 0, 0x0C, 0x40}, 12);
  ASSERT_GOOD(info);
  EXPECT_EQ(info.data, (Bytes{0x00, 0x0A, 0x01, 0x02, 0x00, 0x14, 0x02, 0x00, 0x00, 0x00, 0x30, 0x72}));
  EXPECT_EQ(Send(cdb::ReadToc(1, false), 12).data, info.data) << "the same as format 1 in byte 2";
  const Outcome msf = Send({0x43, 0x02, 0, 0, 0, 0, 0, 0, 0x0C, 0x40}, 12);
  EXPECT_EQ(Slice(msf, 8, 4), (Bytes{0x00, 0x02, 0x2F, 0x1B})) << "MSF: 12402 + 150 frames";
  const Outcome plain = Send({0x43, 0, 0, 0, 0, 0, 0, 0, 0x0C, 0x00}, 12);
  EXPECT_EQ(plain.data[6], 1) << "byte 9 = 0: the format-0 TOC from track 1";
  const Outcome byte2_wins = Send({0x43, 0, 0x01, 0, 0, 0, 0, 0, 0x0C, 0x80}, 12);
  EXPECT_EQ(byte2_wins.data, info.data) << "byte 9 counts only when byte 2's format is 0";
}

TEST_F(KernelFacing, FullTocOfTwoSessionsGolden) {
  TwoCdSessions();
  const Outcome full = Send({0x43, 0, 0, 0, 0, 0, 0, 0x01, 0x00, 0x80}, 256);  // byte 9 = 80h: format 2
  ASSERT_GOOD(full);
  const Bytes expected = {
      0x00, 0x7B, 0x01, 0x02,  // 2 + 11 x 11 entries; sessions 1-2
      0x01, 0x14, 0x00, 0xA0, 0, 0, 0, 0, 0x01, 0x00, 0x00,  // first track 1, CD-ROM
      0x01, 0x14, 0x00, 0xA1, 0, 0, 0, 0, 0x01, 0x00, 0x00,  // last track 1
      0x01, 0x14, 0x00, 0xA2, 0, 0, 0, 0, 0x00, 0x0F, 0x1B,  // lead-out 1002
      0x01, 0x14, 0x00, 0x01, 0, 0, 0, 0, 0x00, 0x02, 0x00,  // track 1 at 0
      0x01, 0x54, 0x00, 0xB0, 0x02, 0x2F, 0x1B, 0x02, 0x4F, 0x3B, 0x4A,  // next 12402, 2 pointers, ATIP end
      0x01, 0x54, 0x00, 0xC0, 0, 0, 0, 0, 0x61, 0x1A, 0x42,  // first lead-in 97:26:66
      0x02, 0x14, 0x00, 0xA0, 0, 0, 0, 0, 0x02, 0x00, 0x00,
      0x02, 0x14, 0x00, 0xA1, 0, 0, 0, 0, 0x02, 0x00, 0x00,
      0x02, 0x14, 0x00, 0xA2, 0, 0, 0, 0, 0x02, 0x36, 0x04,  // lead-out 12904
      0x02, 0x14, 0x00, 0x02, 0, 0, 0, 0, 0x02, 0x2F, 0x1B,  // track 2 at 12402
      0x02, 0x54, 0x00, 0xB0, 0x04, 0x1A, 0x04, 0x01, 0x4F, 0x3B, 0x4A,  // next session at 19804
  };
  EXPECT_EQ(Head(full, expected.size()), expected);
  const Outcome from2 = Send({0x43, 0, 0x02, 0, 0, 0, 0x02, 0x01, 0x00, 0}, 256);
  EXPECT_EQ(from2.Be16(0), 2u + 5 * 11) << "byte 6: from session 2";
  EXPECT_EQ(from2.data[4], 2);
  EXPECT_SENSE(Send({0x43, 0, 0x02, 0, 0, 0, 0x03, 0x01, 0x00, 0}, 256), 5, 0x24, 0x00) << "no session 3";
}

TEST_F(KernelFacing, PmaCdTextAndRefusals) {
  Insert("cd-r");
  EXPECT_SENSE(Send(cdb::ReadToc(2, false), 255), 5, 0x24, 0x00) << "a blank disc has no TOC";
  EXPECT_EQ(Send(cdb::ReadToc(3, false), 255).data[1], 0x02) << "an empty PMA: the header alone";
  EXPECT_EQ(Head(Send(cdb::ReadToc(5, false), 255), 4), (Bytes{0x00, 0x02, 0x00, 0x00})) << "no CD-TEXT";
  ASSERT_GOOD(SetWriteParameters(0x41, 0xC4, 0x08, 0x00));
  ASSERT_GOOD(Write(0, 100));
  ASSERT_GOOD(Send(cdb::SyncCache(false)));
  const Outcome pma = Send(cdb::ReadToc(3, false), 255);
  // Track 1 of the open session: 300 blocks (padded) + 2 run-out, stop at 301.
  EXPECT_EQ(Head(pma, 15), (Bytes{0x00, 0x0D, 0, 0, 0x00, 0x14, 0x00, 0x01, 0x00, 0x06, 0x01, 0x00, 0x00, 0x02, 0x00}));
  EXPECT_SENSE(Send(cdb::ReadToc(0x0F, false), 255), 5, 0x24, 0x00);
  Insert("dvd+r");
  for (uint8_t format : {2, 3, 4, 5}) EXPECT_SENSE(Send(cdb::ReadToc(format, false), 255), 5, 0x24, 0x00);
}

TEST_F(KernelFacing, ModeSenseSixHasOneBlockDescriptorUnlessDbd) {
  Insert("dvd+r");
  const Outcome caps = Send({0x1A, 0x00, 0x2A, 0, 128, 0}, 128);
  ASSERT_GOOD(caps);
  EXPECT_EQ(Head(caps, 14), (Bytes{0x3F, 0, 0, 0x08, 0, 0, 0, 0, 0, 0, 0x08, 0, 0x2A, 0x32}));
  EXPECT_EQ(caps.data[0] + 1u, 4u + 8 + 52) << "within the 128 bytes the kernel reads";
  EXPECT_EQ(caps.data[12 + 2] & 0x08, 0x08) << "reads DVD";
  EXPECT_EQ(caps.data[12 + 6] >> 5, 1) << "a tray";
  const Outcome no_bd = Send({0x1A, 0x08, 0x2A, 0, 255, 0}, 255);
  EXPECT_EQ(Head(no_bd, 6), (Bytes{0x37, 0, 0, 0x00, 0x2A, 0x32})) << "4 + 52 bytes";
  Insert("cd-r");
  EXPECT_LE(Send({0x1A, 0x00, 0x2A, 0, 128, 0}, 128).data[0] + 1u, 128u) << "six CD speeds still fit";
  const Outcome all = Send({0x1A, 0x08, 0x3F, 0, 255, 0}, 255);
  ASSERT_GOOD(all);
  EXPECT_EQ(all.data[4], 0x01);
  EXPECT_EQ(all.data[4 + 8], 0x05);
  EXPECT_EQ(all.data[4 + 8 + 52], 0x0E);
  EXPECT_EQ(all.data[4 + 8 + 52 + 16], 0x2A);
  EXPECT_EQ(all.data[0] + 1u, 4u + 8 + 52 + 16 + 56);
  const Outcome cut = Send({0x1A, 0x00, 0x2A, 0, 4, 0}, 255);
  EXPECT_EQ(cut.data[0], 0x43) << "the length tells the full size when the answer is cut";
  EXPECT_EQ(cut.data[4], 0) << "cut to the allocation length";
  EXPECT_SENSE(Send({0x1A, 0x00, 0xEA, 0, 255, 0}, 255), 5, 0x39, 0x00) << "saved values";
  EXPECT_SENSE(Send({0x1A, 0x00, 0x30, 0, 255, 0}, 255), 5, 0x24, 0x00);
}

TEST_F(KernelFacing, ModeSelectTakesTheKernelsBlockDescriptorList) {
  const Bytes list{0x00, 0x00, 0x00, 0x08, 0, 0, 0, 0, 0, 0, 0x08, 0x00};
  EXPECT_GOOD(SendOut({0x15, 0x10, 0x00, 0x00, 0x0C, 0x00}, list)) << "sr_set_blocklength(2048)";
  Bytes raw = list;
  raw[10] = 0x09;
  raw[11] = 0x30;  // 2352
  EXPECT_SENSE(SendOut({0x15, 0x10, 0x00, 0x00, 0x0C, 0x00}, raw), 5, 0x26, 0x00) << "no raw reads";
  const Bytes ten{0, 0, 0, 0, 0, 0, 0x00, 0x08, 0, 0, 0, 0, 0, 0, 0x08, 0x00};
  EXPECT_GOOD(SendOut({0x55, 0x10, 0, 0, 0, 0, 0, 0x00, 0x10, 0}, ten)) << "MODE SELECT (10) likewise";
  // A page 05 after the descriptor, through MODE SELECT (6).
  Insert("cd-r");
  Outcome sensed = Send({0x1A, 0x00, 0x05, 0, 64, 0}, 64);
  ASSERT_GOOD(sensed);
  Bytes with_page(sensed.data.begin(), sensed.data.begin() + 64);
  with_page[0] = 0;
  with_page[12 + 2] = 0x42;  // session at once
  EXPECT_GOOD(SendOut({0x15, 0x10, 0, 0, 64, 0}, with_page));
  EXPECT_EQ(Send(cdb::ModeSense(0x05, 60), 60).data[10], 0x42);
  EXPECT_SENSE(SendOut({0x15, 0x00, 0, 0, 64, 0}, with_page), 5, 0x24, 0x00) << "a page needs PF";
  EXPECT_SENSE(SendOut({0x15, 0x10, 0, 0, 10, 0}, with_page), 5, 0x1A, 0x00) << "list shorter than its descriptor";
}

TEST_F(KernelFacing, GesnReportsNewMediaOnceAndLeavesTheUnitAttention) {
  ASSERT_EQ(fornax_sim_insert("cd-r"), 0);
  EXPECT_EQ(Gesn(0x10).data, (Bytes{0x00, 0x04, 0x04, 0x54, 0x02, 0x02, 0x00, 0x00})) << "new media";
  EXPECT_EQ(Gesn(0x10).data, (Bytes{0x00, 0x04, 0x04, 0x54, 0x00, 0x02, 0x00, 0x00})) << "once";
  EXPECT_SENSE(Send(cdb::TestUnitReady()), 6, 0x28, 0x00) << "the unit attention is still there";
  EXPECT_GOOD(Send(cdb::TestUnitReady()));
  ASSERT_EQ(fornax_sim_open_tray(), 0);
  EXPECT_EQ(Gesn(0x10).data, (Bytes{0x00, 0x04, 0x04, 0x54, 0x03, 0x01, 0x00, 0x00})) << "removal, tray open";
  EXPECT_EQ(Gesn(0x02, true, 8).data, (Bytes{0x00, 0x00, 0x80, 0x54, 0, 0, 0, 0})) << "NEA: class not supported";
  EXPECT_SENSE(Gesn(0x10, false), 5, 0x24, 0x00) << "asynchronous notification";
  ASSERT_EQ(fornax_sim_close_tray(), 0);
  EXPECT_EQ(Gesn(0x10).data[4], 0x02) << "closing the tray loads the disc again";
  ASSERT_EQ(fornax_sim_set_durations(500, 0, 0), 0);
  Insert("cd-rw");
  ASSERT_GOOD(Send(cdb::Blank(true, 1)));
  const Outcome busy = Gesn(0x40);
  EXPECT_EQ(Head(busy, 6), (Bytes{0x00, 0x04, 0x06, 0x54, 0x01, 0x01})) << "device busy while blanking";
  EXPECT_GT(busy.Be16(6), 0u);
  EXPECT_EQ(Gesn(0x50).data[2], 0x04) << "media first when both are asked";
}

TEST_F(KernelFacing, GetPerformanceTypesZeroAndThree) {
  Insert("dvd+rw");
  const Outcome speeds = Performance(0x00, 0x03, 2);
  ASSERT_GOOD(speeds);
  EXPECT_EQ(speeds.data, (Bytes{0x00, 0x00, 0x00, 0x54, 0, 0, 0, 0,  // 4 + 16 x all five speeds
                                0x00, 0, 0, 0, 0x00, 0x23, 0x05, 0x3F, 0x00, 0x00, 0x56, 0x90, 0x00, 0x00, 0x2B, 0x48,
                                0x00, 0, 0, 0, 0x00, 0x23, 0x05, 0x3F, 0x00, 0x00, 0x56, 0x90, 0x00, 0x00, 0x20, 0x76}));
  const Outcome read = Performance(0x10, 0x00, 1);
  EXPECT_EQ(read.data, (Bytes{0x00, 0x00, 0x00, 0x14, 0x00, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x00, 0x56, 0x90, 0x00, 0x23,
                              0x05, 0x3F, 0x00, 0x00, 0x56, 0x90}));
  const Outcome write = Performance(0x14, 0x00, 1);
  EXPECT_EQ(write.data[4], 0x02) << "the write bit echoed";
  EXPECT_EQ(write.Be32(12), 11080u);
  EXPECT_EQ(Performance(0x11, 0x00, 1).Be32(0), 4u) << "exceptions: header only";
  EXPECT_SENSE(Performance(0x00, 0x00, 1), 5, 0x24, 0x00) << "tolerance must be 10b";
  EXPECT_SENSE(Performance(0x10, 0x01, 1), 5, 0x24, 0x00) << "unsupported type";
  ASSERT_EQ(fornax_sim_remove(), 0);
  EXPECT_GOOD(Performance(0x00, 0x03, 8)) << "the nominal list without a disc";
}

TEST_F(KernelFacing, ReadDvdStructureFormats) {
  Insert("dvd+r");
  const Outcome physical = DvdStructure(0x00);
  ASSERT_GOOD(physical);
  EXPECT_EQ(Head(physical, 20), (Bytes{0x08, 0x02, 0, 0, 0xA1, 0x0F, 0x02, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00,
                                       0x26, 0x05, 0x3F, 0, 0, 0, 0}));
  EXPECT_EQ(DvdStructure(0x01, 0, 8).data, (Bytes{0x00, 0x06, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(DvdStructure(0x04).Be16(0), 0x0802u);
  const Outcome adip = DvdStructure(0x11, 0, 260);
  EXPECT_EQ(adip.Be16(0), 0x0102u);
  EXPECT_EQ(std::string(adip.data.begin() + 4 + 19, adip.data.begin() + 4 + 30), "FORNAXSMR01");
  const Outcome list = DvdStructure(0xFF, 0, 64);
  EXPECT_EQ(Head(list, 20), (Bytes{0x00, 0x12, 0, 0, 0x00, 0x40, 0x08, 0x04, 0x01, 0x40, 0x00, 0x08, 0x04, 0x40, 0x08,
                                   0x04, 0x11, 0x40, 0x01, 0x04}));
  EXPECT_SENSE(DvdStructure(0x00, 1), 5, 0x24, 0x00) << "one layer";
  EXPECT_SENSE(DvdStructure(0x30), 5, 0x24, 0x00);
  Insert("dvd-r");
  EXPECT_EQ(Slice(DvdStructure(0x00), 4, 12), (Bytes{0x25, 0x0F, 0x02, 0, 0, 0x03, 0, 0, 0, 0x26, 0x12, 0x7F}));
  EXPECT_SENSE(DvdStructure(0x11), 5, 0x24, 0x00) << "ADIP only on +R/+RW";
  Insert("dvd+r-dl");
  const Outcome dual = DvdStructure(0x00, 1);
  EXPECT_EQ(Slice(dual, 4, 16), (Bytes{0xE1, 0x0F, 0x32, 0, 0, 0x03, 0, 0, 0, 0xFC, 0xFF, 0xFF, 0, 0x22, 0xD7, 0xFF}));
  Insert("cd-r");
  EXPECT_SENSE(DvdStructure(0x00), 5, 0x30, 0x00);
  EXPECT_EQ(DvdStructure(0xFF, 0, 64).Be16(0), 14u) << "the list works with a CD";
  ASSERT_EQ(fornax_sim_remove(), 0);
  EXPECT_SENSE(DvdStructure(0x00), 2, 0x3A, 0x02);
  EXPECT_GOOD(DvdStructure(0xFF, 0, 64));
}

TEST_F(KernelFacing, MechanismStatusIsAHeader) {
  const Bytes cdb{0xBD, 0, 0, 0, 0, 0, 0, 0, 0, 8, 0, 0};
  EXPECT_EQ(Send(cdb, 8).data, (Bytes{0, 0, 0, 0, 0, 0, 0, 0}));
  ASSERT_EQ(fornax_sim_open_tray(), 0);
  EXPECT_EQ(Send(cdb, 8).data[1], 0x10) << "door open";
}

// The entry point of the LIO/TCMU handler: residual and sense.
TEST_F(KernelFacing, ExecuteAnswersWithResidualAndSense) {
  Insert("dvd+r");
  uint8_t buffer[255] = {};
  uint8_t sense[32] = {};
  uint32_t transferred = 12345;
  const uint8_t inquiry[6] = {0x12, 0, 0, 0, 96, 0};
  EXPECT_EQ(fornax_sim_execute(inquiry, 6, 1, buffer, sizeof buffer, &transferred, sense, sizeof sense), 0);
  EXPECT_EQ(transferred, 96u) << "a residual of 159";
  EXPECT_EQ(buffer[0], 0x05);
  EXPECT_EQ(std::string(buffer + 8, buffer + 14), "FORNAX");

  const uint8_t unknown[12] = {0xA4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(fornax_sim_execute(unknown, 12, 1, buffer, sizeof buffer, &transferred, sense, sizeof sense), 2);
  EXPECT_EQ(transferred, 0u);
  EXPECT_EQ(Bytes(sense, sense + 18),
            (Bytes{0x70, 0, 0x05, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0x20, 0x00, 0, 0, 0, 0}));
  const uint8_t request_sense[6] = {0x03, 0, 0, 0, 18, 0};
  EXPECT_EQ(fornax_sim_execute(request_sense, 6, 1, buffer, sizeof buffer, &transferred, sense, sizeof sense), 0);
  EXPECT_EQ(transferred, 18u);
  EXPECT_EQ(buffer[12], 0x20) << "REQUEST SENSE reports what the previous command left";

  std::vector<uint8_t> blocks = Pattern(0, 16, 0x5C);
  const uint8_t write[10] = {0x2A, 0, 0, 0, 0, 0, 0, 0, 16, 0};
  EXPECT_EQ(fornax_sim_execute(write, 10, 2, blocks.data(), static_cast<uint32_t>(blocks.size()), &transferred, sense,
                               sizeof sense),
            0);
  EXPECT_EQ(transferred, 16u * 2048) << "data-out taken";
  EXPECT_EQ(NextWritable(1), 16u) << "the same drive as through SRBs";

  const uint8_t toc[10] = {0x43, 0, 0, 0, 0, 0, 0, 0, 0x0C, 0x40};
  EXPECT_EQ(fornax_sim_execute(toc, 10, 1, buffer, 12, &transferred, sense, sizeof sense), 2) << "no closed session";
  EXPECT_EQ(sense[12], 0x24);

  const uint8_t tur[6] = {0, 0, 0, 0, 0, 0};
  ASSERT_EQ(fornax_sim_fault_busy(1, 1), 0);
  EXPECT_EQ(fornax_sim_execute(tur, 6, 0, nullptr, 0, &transferred, sense, sizeof sense), 8) << "BUSY";
  EXPECT_EQ(fornax_sim_execute(tur, 6, 0, nullptr, 0, &transferred, sense, sizeof sense), 0);
  ASSERT_EQ(fornax_sim_fault_busy(1, 0), 0);
  std::fill(blocks.begin(), blocks.end(), 0x11);
  const uint8_t write_more[10] = {0x2A, 0, 0, 0, 0, 16, 0, 0, 16, 0};
  EXPECT_EQ(fornax_sim_execute(write_more, 10, 2, blocks.data(), static_cast<uint32_t>(blocks.size()), &transferred,
                               sense, sizeof sense),
            2);
  EXPECT_EQ(transferred, 0u) << "a write the drive refused took nothing";
  EXPECT_EQ(sense[13], 0x08);
}

}  // namespace
}  // namespace fornax::sim::test
