#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "engine/drive/mmc_commands.h"
#include "engine/recorder.h"
#include "support/fake_drive.h"

namespace fornax {
namespace {

using test::TFakeDrive;

// A recorder with the fake drive at 0:0:0 selected, and the commands of the
// selection itself forgotten.
class MmcCommands : public ::testing::Test {
 protected:
  MmcCommands() {
    Fake.Respond = [](SRB_ExecSCSICmd& srb) {
      if (srb.CDBByte[0] == 0x12) TFakeDrive::Good(srb, test::InquiryAnswer("ACME", "WRITER", "1.0"));
      else TFakeDrive::Good(srb);
    };
    EXPECT_TRUE(Rec.SelectDevice("0:0:0,?: ACME    WRITER          1.0 "));
    Fake.Sent.clear();
  }
  TFakeDrive Fake;
  TQzRecorder Rec;
};

struct TExpected {
  const char* Name;
  std::function<bool(TQzRecorder&)> Call;
  uint8_t Flags;
  uint32_t DataLength;
  std::vector<uint8_t> Cdb;  // the whole block, its length the CDB length
};

TEST_F(MmcCommands, EveryWrapperSendsItsBlock) {
  static uint8_t buffer[65536];
  const TExpected cases[] = {
      {"TEST UNIT READY", [](TQzRecorder& r) { return r.TestUnitReady(5000); }, 0x40, 0, {0x00, 0, 0, 0, 0, 0}},
      {"REWIND UNIT", [](TQzRecorder& r) { return r.RewindUnit(); }, 0x40, 0, {0x01, 0, 0, 0, 0, 0}},
      {"REQUEST SENSE", [](TQzRecorder& r) { return r.RequestSense(buffer, 40); }, 0x48, 40, {0x03, 0, 0, 0, 40, 0}},
      {"FORMAT UNIT", [](TQzRecorder& r) { return r.FormatUnit(0x11, buffer, 12); }, 0x50, 12, {0x04, 0x11, 0, 0, 0, 0}},
      {"INQUIRY", [](TQzRecorder& r) { return r.Inquiry(); }, 0x48, 128, {0x12, 0, 0, 0, 128, 0}},
      {"EJECT", [](TQzRecorder& r) { return r.EjectMedium(); }, 0x40, 0, {0x1B, 0, 0, 0, 2, 0}},
      {"LOAD", [](TQzRecorder& r) { return r.LoadMedium(); }, 0x40, 0, {0x1B, 0, 0, 0, 3, 0}},
      {"PREVENT", [](TQzRecorder& r) { return r.PreventAllowMediumRemoval(true); }, 0x40, 0, {0x1E, 0, 0, 0, 1, 0}},
      {"ALLOW", [](TQzRecorder& r) { return r.PreventAllowMediumRemoval(false); }, 0x40, 0, {0x1E, 0, 0, 0, 0, 0}},
      {"READ FORMAT CAPACITIES", [](TQzRecorder& r) { uint32_t a, b; return r.ReadFormatCapacities(a, b); },
       0x48, 248, {0x23, 0, 0, 0, 0, 0, 0, 0, 248, 0}},
      {"READ CAPACITY", [](TQzRecorder& r) { uint32_t a, b; return r.ReadCapacity(a, b); }, 0x48, 8,
       {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {"READ (10)", [](TQzRecorder& r) { return r.ReadSectors(0x12345678, 2, buffer, 4096); }, 0x48, 4096,
       {0x28, 0, 0x12, 0x34, 0x56, 0x78, 0, 0, 2, 0}},
      {"WRITE (10)", [](TQzRecorder& r) { return r.Write10(0x00A0B0C0, 32, buffer, 65536); }, 0x50, 65536,
       {0x2A, 0, 0x00, 0xA0, 0xB0, 0xC0, 0, 0, 32, 0}},
      {"SYNCHRONIZE CACHE", [](TQzRecorder& r) { return r.SynchronizeCache(true, 1000); }, 0x40, 0,
       {0x35, 2, 0, 0, 0, 0, 0, 0, 0, 0}},
      {"READ TOC", [](TQzRecorder& r) { return r.ReadToc(true, 4, 1, buffer, 26, 0x40); }, 0x48, 26,
       {0x43, 2, 4, 0, 0, 0, 1, 0, 26, 0x40}},
      {"GET CONFIGURATION", [](TQzRecorder& r) { return r.GetConfiguration(2, 0x2A, buffer, 114); }, 0x48, 114,
       {0x46, 2, 0, 0x2A, 0, 0, 0, 0, 114, 0}},
      {"READ DISC INFORMATION", [](TQzRecorder& r) { return r.ReadDiscInformation(); }, 0x48, 56,
       {0x51, 0, 0, 0, 0, 0, 0, 0, 56, 0}},
      {"READ TRACK INFORMATION", [](TQzRecorder& r) { return r.ReadTrackInfo(3); }, 0x48, 40,
       {0x52, 1, 0, 0, 0, 3, 0, 0, 40, 0}},
      {"RESERVE TRACK", [](TQzRecorder& r) { return r.ReserveTrack(0x00012345); }, 0x40, 0,
       {0x53, 0, 0, 0, 0, 0x00, 0x01, 0x23, 0x45, 0, 0, 0}},
      {"SEND OPC", [](TQzRecorder& r) { return r.SendOpcInformation(); }, 0x40, 0, {0x54, 1, 0, 0, 0, 0, 0, 0, 0, 0}},
      {"MODE SELECT", [](TQzRecorder& r) { return r.ModeSelect10(buffer, 60); }, 0x50, 60,
       {0x55, 0x10, 0, 0, 0, 0, 0, 0, 60, 0}},
      {"MODE SENSE defaults", [](TQzRecorder& r) { return r.ModeSense10(0x2A, true, buffer, 255); }, 0x48, 255,
       {0x5A, 0, 0xAA, 0, 0, 0, 0, 0x00, 0xFF, 0}},
      {"MODE SENSE current", [](TQzRecorder& r) { return r.ModeSense10(0x05, false, buffer, 512); }, 0x48, 512,
       {0x5A, 0, 0x05, 0, 0, 0, 0, 0x02, 0x00, 0}},
      {"CLOSE TRACK", [](TQzRecorder& r) { return r.CloseTrackSession(true, true, false); }, 0x40, 0,
       {0x5B, 1, 1, 0, 0, 0xFF, 0, 0, 0, 0}},
      {"CLOSE SESSION", [](TQzRecorder& r) { return r.CloseTrackSession(false, false, false); }, 0x40, 0,
       {0x5B, 0, 2, 0, 0, 0, 0, 0, 0, 0}},
      {"CLOSE FINALIZE", [](TQzRecorder& r) { return r.CloseTrackSession(false, false, true); }, 0x40, 0,
       {0x5B, 0, 5, 0, 0, 0, 0, 0, 0, 0}},
      {"CLOSE general", [](TQzRecorder& r) { return r.CloseTrackSessionFunction(true, 1, 0, 0, 7); }, 0x40, 0,
       {0x5B, 1, 1, 0, 0, 7, 0, 0, 0, 0}},
      {"READ BUFFER CAPACITY", [](TQzRecorder& r) { return r.ReadBufferCapacity(); }, 0x48, 32,
       {0x5C, 0, 0, 0, 0, 0, 0, 0, 32, 0}},
      {"SET STREAMING", [](TQzRecorder& r) { return r.SetStreamingSpeeds(0, 100, 1, 1000, 2, 1000); }, 0x50, 28,
       {0xB6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 28, 0}},
      {"SET CD SPEED max", [](TQzRecorder& r) { return r.SetSpeeds(0, 0); }, 0x40, 0,
       {0xBB, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0}},
      {"SET CD SPEED", [](TQzRecorder& r) { return r.SetSpeeds(1385, 2770); }, 0x40, 0,
       {0xBB, 0, 0x05, 0x69, 0x0A, 0xD2, 0, 0, 0, 0, 0, 0}},
      {"SEND DVD STRUCTURE", [](TQzRecorder& r) { return r.SendTimeStamp(45000.5); }, 0x50, 22,
       {0xBF, 0, 0, 0, 0, 0, 0, 0x0F, 0, 22, 0, 0}},
  };
  for (const TExpected& c : cases) {
    Fake.Sent.clear();
    EXPECT_TRUE(c.Call(Rec)) << c.Name;
    ASSERT_EQ(Fake.Sent.size(), 1u) << c.Name;
    const test::TSentCommand& sent = Fake.Sent[0];
    EXPECT_EQ(sent.Flags, c.Flags) << c.Name;
    EXPECT_EQ(sent.DataLength, c.DataLength) << c.Name;
    EXPECT_EQ(sent.Cdb, c.Cdb) << c.Name;
    EXPECT_EQ(sent.HaId, 0);
  }
}

TEST(MmcBlocks, TimeOutsAreFixedPerCommand) {
  const std::pair<TCommand, uint32_t> cases[] = {
      {mmc::TestUnitReady(5000), 5000},       {mmc::RewindUnit(), 10000},
      {mmc::RequestSense(40), 10000},         {mmc::FormatUnit(0x11, 12), 10000},
      {mmc::Inquiry(), 10000},                {mmc::StartStopUnit(true), 20000},
      {mmc::PreventAllowMediumRemoval(true), 10000}, {mmc::ReadFormatCapacities(), 10000},
      {mmc::ReadCapacity(), 10000},           {mmc::Read10(0, 1, 2048), 10000},
      {mmc::Write10(0, 1, 2048, 0x50), 120000}, {mmc::SynchronizeCache(false, 77777), 77777},
      {mmc::ReadToc(false, 0, 0, 4, 0), 10000}, {mmc::GetConfiguration(0, 0, 8), 30000},
      {mmc::ReadDiscInformation(56), 10000},  {mmc::ReadTrackInformation(1), 60000},
      {mmc::ReserveTrack(16), 10000},         {mmc::SendOpcInformation(), 150000},
      {mmc::ModeSelect10(60), 10000},         {mmc::ModeSense10(0x2A, false, 128), 20000},
      {mmc::CloseTrackSession(false, true, false), 180000},
      {mmc::CloseTrackSessionFunction(false, 2, 0, 0, 0), 180000},
      {mmc::ReadBufferCapacity(), 10000},     {mmc::SetStreaming(28), 10000},
      {mmc::SetCdSpeed(0, 0), 10000},         {mmc::SendDvdStructure(0x0F, 22), 10000}};
  for (const auto& [command, timeout] : cases)
    EXPECT_EQ(command.TimeoutMs, timeout) << std::hex << int(command.Cdb[0]);
}

TEST_F(MmcCommands, AnswersAreKeptInHostOrder) {
  Fake.Respond = [](SRB_ExecSCSICmd& srb) {
    switch (srb.CDBByte[0]) {
      case 0x5C:  // buffer 2 MiB, free unknown
        TFakeDrive::Good(srb, {0, 10, 0, 0, 0, 0x20, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF});
        break;
      case 0x52: {
        std::vector<uint8_t> t(40, 0);
        t[1] = 0x22;
        t[11] = 0x10;               // start 16
        t[12] = 0x01, t[15] = 0x02; // NWA 0x01000002
        t[19] = 0x30;               // free 48
        t[27] = 0x40;               // size 64
        TFakeDrive::Good(srb, t);
        break;
      }
      case 0x23: {  // first descriptor unformatted, second a 2048-byte format
        std::vector<uint8_t> f(248, 0);
        f[3] = 16;
        f[7] = 0x99, f[8] = 0x01, f[10] = 0x08;
        f[14] = 0x12, f[15] = 0x34, f[18] = 0x08;
        TFakeDrive::Good(srb, f);
        break;
      }
      default:
        TFakeDrive::Good(srb);
    }
  };
  ASSERT_TRUE(Rec.ReadBufferCapacity());
  EXPECT_EQ(Rec.DeviceBufferSize, 0x200000u);
  EXPECT_EQ(Rec.DeviceFreeBufferSize, 0x200000u) << "an unknown free length counts as empty";
  ASSERT_TRUE(Rec.ReadTrackInfo(1));
  EXPECT_EQ(Rec.TrackInfo().TrackStart, 16u);
  EXPECT_EQ(Rec.TrackInfo().NextWritableAddress, 0x01000002u);
  EXPECT_EQ(Rec.TrackInfo().FreeBlocks, 48u);
  EXPECT_EQ(Rec.TrackInfo().TrackSize, 64u);
  uint32_t blocks = 0, size = 0;
  ASSERT_TRUE(Rec.ReadFormatCapacities(blocks, size));
  EXPECT_EQ(blocks, 0x1234u);
  EXPECT_EQ(size, 2048u);

  Fake.Respond = [](SRB_ExecSCSICmd& srb) { TFakeDrive::CheckCondition(srb, 5, 0x24, 0); };
  EXPECT_FALSE(Rec.ReadBufferCapacity());
  EXPECT_EQ(Rec.DeviceFreeBufferSize, 0u);
  EXPECT_EQ(Rec.LastError(), "ILLEGAL REQUEST (INVALID FIELD IN CDB)");
}

TEST_F(MmcCommands, TimeStampIsTheDateInDigits) {
  Rec.SendTimeStamp(EncodeDateTime({2026, 12, 7, 9, 5, 3, 0}));
  ASSERT_EQ(Fake.Sent.size(), 1u);
  const std::vector<uint8_t>& list = Fake.Sent[0].DataOut;
  ASSERT_EQ(list.size(), 22u);
  EXPECT_EQ(list[0], 0);
  EXPECT_EQ(list[1], 20);
  EXPECT_EQ(std::string(list.begin() + 8, list.end()), "20261207090503");
}

TEST(MmcNoDrive, CommandsFailWithoutASelectedDrive) {
  TFakeDrive fake;
  TQzRecorder rec;  // scans the fake adapter, selects nothing
  fake.Sent.clear();
  uint8_t data[2048] = {};
  EXPECT_FALSE(rec.Write10(0, 1, data, 2048)) << "a write that reached no drive is no success";
  EXPECT_FALSE(rec.TestUnitReady(5000));
  EXPECT_TRUE(fake.Sent.empty());
}

}  // namespace
}  // namespace fornax
