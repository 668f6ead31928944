#include <gtest/gtest.h>

#include <vector>

#include "engine/base/bytes.h"
#include "engine/recorder.h"
#include "support/fake_drive.h"

namespace fornax {
namespace {

using test::TFakeDrive;

// Answers MODE SENSE for pages 2Ah and 05h (with or without a block
// descriptor before the page) and GET CONFIGURATION for the features given.
class DriveAnswers : public ::testing::Test {
 protected:
  DriveAnswers() {
    Page2A.assign(32, 0);
    Page2A[0] = 0x2A;
    Page2A[1] = 0x1C;
    Page2A[2] = 0x3F;  // reads CD-R, CD-RW, method 2, DVD-ROM, DVD-R, DVD-RAM
    Page2A[3] = 0x37;  // writes CD-R, CD-RW, test write, DVD-R, DVD-RAM
    Page2A[4] = 0x80;  // buffer underrun free
    PutBe16(&Page2A[8], 8467);
    PutBe16(&Page2A[12], 2048);
    PutBe16(&Page2A[18], 7056);
    PutBe16(&Page2A[20], 5645);
    Fake.Respond = [this](SRB_ExecSCSICmd& srb) {
      switch (srb.CDBByte[0]) {
        case 0x12: return TFakeDrive::Good(srb, test::InquiryAnswer("ACME", "WRITER", "1.0"));
        case 0x5A: return ModeSense(srb);
        case 0x46: return Configuration(srb);
        default: return TFakeDrive::Good(srb);
      }
    };
  }

  void ModeSense(SRB_ExecSCSICmd& srb) {
    const uint8_t page = srb.CDBByte[2] & 0x3F;
    const std::vector<uint8_t>* body = page == 0x2A ? &Page2A : page == 0x05 ? &Page05 : nullptr;
    if (!body || (RefuseDefaults && (srb.CDBByte[2] >> 6) == 2)) return TFakeDrive::CheckCondition(srb, 5, 0x24, 0);
    std::vector<uint8_t> answer(BlockDescriptor ? 16 : 8, 0);
    if (BlockDescriptor) answer[7] = 8;
    answer.insert(answer.end(), body->begin(), body->end());
    PutBe16(answer.data(), static_cast<uint16_t>(answer.size() - 2));
    TFakeDrive::Good(srb, answer);
  }

  void Configuration(SRB_ExecSCSICmd& srb) {
    const uint16_t feature = srb.CDBByte[3];
    std::vector<uint8_t> answer(8, 0);
    for (const auto& [code, writes] : Features) {
      if (code != feature) continue;
      answer.insert(answer.end(), {0, static_cast<uint8_t>(code), 0x01, 4, static_cast<uint8_t>(writes ? 1 : 0), 0, 0, 0});
    }
    PutBe32(answer.data(), static_cast<uint32_t>(answer.size() - 4));
    TFakeDrive::Good(srb, answer);
  }

  void Select() {
    ASSERT_TRUE(Rec.SelectDevice("0:0:0"));
    Fake.Sent.clear();
  }

  TFakeDrive Fake;
  TQzRecorder Rec;
  std::vector<uint8_t> Page2A;
  std::vector<uint8_t> Page05;
  std::vector<std::pair<uint16_t, bool>> Features;
  bool BlockDescriptor = false;
  bool RefuseDefaults = false;  // page control 2 (default values) refused
};

TEST_F(DriveAnswers, CapabilitySetFromThePageWithOrWithoutBlockDescriptor) {
  for (const bool descriptor : {false, true}) {
    BlockDescriptor = descriptor;
    Select();
    EXPECT_EQ(Rec.Capabilities(), capReadCDR | capReadCDRW | capReadMethod2 | capReadDVDROM | capReadDVDR |
                                      capReadDVDRW | capReadDVDRAM | capWriteCDR | capWriteCDRW | capTestWrite |
                                      capWriteDVDR | capWriteDVDRW | capWriteDVDRAM | capUnderrunProtection)
        << "block descriptor " << descriptor;
    EXPECT_EQ(Rec.DeviceMaxWriteSpeed(), 7056);
    EXPECT_EQ(Rec.DeviceMaxReadSpeed(), 8467);
    EXPECT_EQ(Rec.DriveCapabilities().BufferSizeKB(), 2048);
    EXPECT_EQ(Rec.CurrentWriteSpeed(), 5645);
    EXPECT_EQ(Rec.DriveCapabilities().PageCopy()[0], 0x2A);
  }
}

TEST_F(DriveAnswers, AWriterThatRefusesTheDefaultValuesShowsItsCurrentOnes) {
  RefuseDefaults = true;
  Features = {{0x2A, true}};
  Select();
  EXPECT_EQ(Rec.Capabilities(), capReadCDR | capReadCDRW | capReadMethod2 | capReadDVDROM | capReadDVDR |
                                    capReadDVDRW | capReadDVDRAM | capWriteCDR | capWriteCDRW | capTestWrite |
                                    capWriteDVDR | capWriteDVDRW | capWriteDVDRAM | capUnderrunProtection |
                                    capReadDVDPlusR | capReadDVDPlusRW | capWriteDVDPlusR | capWriteDVDPlusRW);
  EXPECT_EQ(Rec.DeviceMaxWriteSpeed(), 7056);
  EXPECT_EQ(Rec.DeviceMaxReadSpeed(), 8467);
}

TEST_F(DriveAnswers, FeaturesAddThePlusFormats) {
  Page2A[2] = Page2A[3] = Page2A[4] = 0;
  Features = {{0x2A, true}, {0x3B, false}, {0x2F, true}};
  Select();
  EXPECT_EQ(Rec.Capabilities(), capReadDVDPlusR | capReadDVDPlusRW | capWriteDVDPlusR | capWriteDVDPlusRW |
                                    capReadDVDPlusRDL | capReadDVDR | capReadDVDRW | capWriteDVDR | capWriteDVDRW);
}

TEST_F(DriveAnswers, ADriveWithoutWriteSpeedsWritesAtOneDvdSpeed) {
  PutBe16(&Page2A[18], 0);
  PutBe16(&Page2A[20], 0);
  Select();
  EXPECT_EQ(Rec.MaxWriteSpeed(), 1385);
  EXPECT_EQ(Rec.CurrentWriteSpeed(), 1385);
  EXPECT_EQ(Rec.DeviceMaxWriteSpeed(), 1385);
}

// The write parameters page for each medium, as the drive receives it.
class WriteParameters : public DriveAnswers {
 protected:
  WriteParameters() {
    Page05.assign(54, 0);
    Page05[0] = 0x05;
    Page05[1] = 0x32;
    Page05[5] = 7;     // the drive's own link size, overwritten
    Page05[16] = 'M';  // the catalog number stays as the drive has it
  }
  std::vector<uint8_t> Sent(uint8_t medium, bool testWrite = false) {
    Fake.Sent.clear();
    EXPECT_TRUE(Rec.SetWriteParameters(testWrite, true, medium, true));
    const auto selects = Fake.WithOpcode(0x55);
    if (selects.size() != 1) return {};
    EXPECT_EQ(selects[0].Cdb[8], 60);
    return std::vector<uint8_t>(selects[0].DataOut.begin() + 8, selects[0].DataOut.begin() + 60);
  }
};

TEST_F(WriteParameters, PagePerMediumCode) {
  Select();
  struct TRow { uint8_t Medium; uint8_t B2, B3, B5, B6; uint32_t Packet; };
  const TRow rows[] = {
      {mtUnknown, 0x41, 0xC4, 0, 0, 0},  {mtCDROM, 0x41, 0xC4, 0, 0, 0},   {mtCDR, 0x41, 0xC4, 0, 0, 0},
      {mtCDRW, 0x41, 0xC4, 0, 0, 0},     {mtDVDROM, 0x41, 0xC4, 0, 0, 0},  {mtDVDR, 0x60, 0xE5, 16, 0, 16},
      {mtDVDRW, 0x41, 0xE4, 0, 0, 0},    {mtDVDRWRestricted, 0x60, 0xC5, 16, 0, 0},
      {mtDVDRWSequential, 0x60, 0xC5, 16, 0, 0}, {mtDVDPlusRW, 0x62, 0x04, 16, 0, 0},
      {mtDVDPlusR, 0x62, 0xC4, 0, 0, 16}, {mtDVDPlusRDL, 0x62, 0xC4, 0, 0, 0},
      {mtDDCDROM, 0x41, 0xC4, 0, 0, 0},  {mtDDCDR, 0x41, 0xC4, 0, 0, 0},  {mtDDCDRW, 0x41, 0xC4, 0, 0, 0}};
  for (const TRow& row : rows) {
    const std::vector<uint8_t> p = Sent(row.Medium);
    ASSERT_EQ(p.size(), 52u) << int(row.Medium);
    EXPECT_EQ(p[0], 0x05);
    EXPECT_EQ(p[1], 0x32);
    EXPECT_EQ(p[2], row.B2) << "medium " << int(row.Medium);
    EXPECT_EQ(p[3], row.B3) << "medium " << int(row.Medium);
    EXPECT_EQ(p[4], 8);
    EXPECT_EQ(p[5], row.B5) << "medium " << int(row.Medium);
    EXPECT_EQ(p[6], row.B6) << "medium " << int(row.Medium);
    EXPECT_EQ(GetBe32(&p[10]), row.Packet) << "medium " << int(row.Medium);
    EXPECT_EQ(GetBe16(&p[14]), 150);
    EXPECT_EQ(p[16], 'M');
  }
  Fake.Sent.clear();
  EXPECT_TRUE(Rec.SetWriteParameters(false, true, mtDVDRAM, true));
  EXPECT_TRUE(Fake.Sent.empty()) << "DVD-RAM takes no write parameters";
}

TEST_F(WriteParameters, TestWriteAndClosingClearTheMultisessionBits) {
  Select();
  std::vector<uint8_t> p = Sent(mtCDR, true);
  ASSERT_FALSE(p.empty());
  EXPECT_EQ(p[2], 0x51) << "test write asked for and supported";
  EXPECT_EQ(p[3], 0x04);
  Rec.FinalizeDisc = true;
  p = Sent(mtCDR);
  EXPECT_EQ(p[3], 0x04) << "a disc to close allows no next session";
  p = Sent(mtDVDPlusRDL);
  EXPECT_EQ(p[3], 0xC4) << "DVD+R DL follows the next-session argument";
  Page2A[3] = 0x33;  // no test write
  Page2A[4] = 0;     // no underrun protection
  Rec.RefreshCapabilities();
  p = Sent(mtCDR, true);
  EXPECT_EQ(p[2], 0x01);
}

}  // namespace
}  // namespace fornax
