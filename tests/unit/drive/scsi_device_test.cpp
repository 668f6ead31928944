#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/base/pacing.h"
#include "engine/drive/command_names.h"
#include "engine/recorder.h"
#include "support/fake_drive.h"

namespace fornax {
namespace {

using test::TFakeDrive;

// Two adapters: a CD/DVD drive at 1:0:0, a write-once drive at 1:2:0, and a
// drive on adapter 12 when the test asks for more adapters.
class ScsiDevice : public ::testing::Test {
 protected:
  ScsiDevice() {
    Fake.Respond = [this](SRB_ExecSCSICmd& srb) {
      const int address = srb.SRB_HaId * 100 + srb.SRB_Target * 10 + srb.SRB_Lun;
      if (srb.CDBByte[0] == 0x12) {
        if (address == 100) return TFakeDrive::Good(srb, test::InquiryAnswer("ACME", Product.c_str(), "1.0"));
        if (address == 120) return TFakeDrive::Good(srb, test::InquiryAnswer("ACME", "WORM", "2.0", 0x04));
        if (address == 1200) return TFakeDrive::Good(srb, test::InquiryAnswer("USB", "BURNER", "3.0"));
        srb.SRB_Status = SS_NO_DEVICE;
        return;
      }
      if (Respond) return Respond(srb);
      TFakeDrive::Good(srb);
    };
    Rec.OnDebugMessage = [this](TObject*, const std::string& text, uint8_t type) {
      Lines.push_back(text);
      Types.push_back(type);
    };
  }
  bool Logged(const std::string& text) const {
    for (const std::string& line : Lines)
      if (line == text) return true;
    return false;
  }

  TFakeDrive Fake{2};
  TQzRecorder Rec;
  std::string Product = "WRITER";
  TFakeDrive::TResponder Respond;
  std::vector<std::string> Lines;
  std::vector<uint8_t> Types;
};

TEST_F(ScsiDevice, ScanListsEveryCdOrDvdDrive) {
  Rec.DoDebug = true;
  Rec.ScanDevices();
  ASSERT_EQ(Rec.DeviceList().size(), 2u);
  EXPECT_EQ(Rec.DeviceList()[0], "1:0:0,?: ACME    WRITER          1.0 ");
  EXPECT_EQ(Rec.DeviceList()[1], "1:2:0,?: ACME    WORM            2.0  (no soportado)");
  EXPECT_TRUE(Logged(">>> FAKE"));
  EXPECT_TRUE(Logged(">>>  (FAKE)"));
  EXPECT_EQ(Rec.HostAdapter(), kNoAddress) << "a scan never changes the selection";
}

TEST_F(ScsiDevice, HostsBeyondNineAreScannedAndSelected) {
  Fake.Adapters = 13;  // a USB burner on host 12
  TQzRecorder rec;
  ASSERT_EQ(rec.DeviceList().size(), 3u);
  EXPECT_EQ(rec.DeviceList()[2].substr(0, 7), "12:0:0,");
  EXPECT_TRUE(rec.SelectDevice(rec.DeviceList()[2]));
  EXPECT_EQ(rec.HostAdapter(), 12);
  EXPECT_EQ(rec.DeviceDescription(), "USB      BURNER           3.0 ");
}

TEST_F(ScsiDevice, SelectionAcceptsOnlyWholeAddresses) {
  int changes = 0;
  Rec.OnDeviceChange = [&](TObject*) { ++changes; };
  EXPECT_TRUE(Rec.SelectDevice("1:0:0"));
  EXPECT_EQ(Rec.DeviceType(), 0x05);
  EXPECT_EQ(Rec.DeviceId(), "1:0:0");
  EXPECT_EQ(changes, 1);

  EXPECT_FALSE(Rec.SelectDevice("1:0"));
  EXPECT_TRUE(Logged("INVALID DEVICE ID / NOT A CD OR DVD DRIVE"));
  EXPECT_EQ(Rec.HostAdapter(), kNoAddress);
  EXPECT_EQ(Rec.DeviceType(), kNoDeviceType);
  EXPECT_EQ(Rec.DeviceId(), "");

  Lines.clear();
  EXPECT_FALSE(Rec.SelectDevice(""));
  EXPECT_TRUE(Lines.empty()) << "an empty id clears the selection silently";
  EXPECT_FALSE(Rec.SelectDevice("1:x:0,?: A"));
  EXPECT_FALSE(Rec.SelectDevice("3:0:0,?: nothing there"));
  EXPECT_EQ(changes, 1);
}

TEST_F(ScsiDevice, ProductsSelectTheirQuirks) {
  Product = "CD-W512EB";
  ASSERT_TRUE(Rec.SelectDevice("1:0:0"));
  EXPECT_TRUE(Rec.Quirks().UnderrunProtection);
  Rec.RefreshCapabilities();  // the selection refreshed before it knew the model
  EXPECT_TRUE(Rec.Capabilities() & capUnderrunProtection);
  EXPECT_TRUE(TSCSIDevice::ImmediateClose());
  Product = "CRX175E";
  ASSERT_TRUE(Rec.SelectDevice("1:0:0"));
  EXPECT_TRUE(Rec.Quirks().LinkSizeValid);
  Product = "CDRW321040X";
  ASSERT_TRUE(Rec.SelectDevice("1:0:0"));
  EXPECT_FALSE(TSCSIDevice::ImmediateClose());
  Product = "DVD-RW  DVR-104 ";
  ASSERT_TRUE(Rec.SelectDevice("1:0:0"));
  EXPECT_TRUE(Rec.Quirks().SlowReady);
  EXPECT_TRUE(TSCSIDevice::ImmediateClose());
}

TEST_F(ScsiDevice, SelectionLeavesTheWriteParametersAtTrackAtOnce) {
  Respond = [](SRB_ExecSCSICmd& srb) {
    if (srb.CDBByte[0] != 0x5A) return TFakeDrive::Good(srb);
    std::vector<uint8_t> answer(60, 0);
    answer[8] = 0x05;
    answer[9] = 0x32;
    TFakeDrive::Good(srb, answer);
  };
  ASSERT_TRUE(Rec.SelectDevice("1:0:0"));
  const auto selects = Fake.WithOpcode(0x55);
  ASSERT_EQ(selects.size(), 3u);
  const uint8_t types[3] = {3, 2, 1};
  for (int i = 0; i < 3; ++i) {
    const std::vector<uint8_t>& list = selects[i].DataOut;
    EXPECT_EQ(selects[i].Cdb[8], 0x32 + 10);
    EXPECT_EQ(list[8], 0x05);
    EXPECT_EQ(list[10], types[i]);
    EXPECT_EQ(list[12], i == 0 ? 1 : 0);
    EXPECT_EQ(list[22], 0);
    EXPECT_EQ(list[23], 150);
  }
}

TEST(TraceLine, FailedCommandByteForByte) {
  SRB_ExecSCSICmd srb{};
  uint8_t data[2] = {0xAB, 0x01};
  srb.SRB_Status = SS_ERR;
  srb.SRB_HaId = 1;
  srb.SRB_Target = 10;
  srb.SRB_Lun = 0;
  srb.SRB_Flags = 0x48;
  srb.SRB_CDBLen = 10;
  srb.SRB_BufLen = 2;
  srb.SRB_BufPointer = data;
  srb.SRB_TargStat = 0x02;
  const uint8_t cdb[10] = {0x28, 0, 0, 0, 0x10, 0, 0, 0, 1, 0};
  std::memcpy(srb.CDBByte, cdb, sizeof cdb);
  srb.SenseArea[0] = 0x70;
  srb.SenseArea[2] = 0x05;
  srb.SenseArea[12] = 0x21;
  srb.SenseArea[13] = 0x00;
  EXPECT_EQ(TraceLine(srb, "ILLEGAL REQUEST (LOGICAL BLOCK ADDRESS OUT OF RANGE)", ""),
            "<<< READ (10)              (28) {48|0A} - 1:A:0 <04> [00002] "
            "00 00 00 10 00 00 00 01 00 00 00 00 00 00 00  |AB 01 = 00 02 70 05 ASC:21,ASQ:00 "
            "ILLEGAL REQUEST (LOGICAL BLOCK ADDRESS OUT OF RANGE)");
  // The data dump stops at 257 bytes, unnamed opcodes show their digits.
  std::vector<uint8_t> big(4096, 0x11);
  srb.SRB_BufPointer = big.data();
  srb.SRB_BufLen = 4096;
  srb.CDBByte[0] = 0x88;
  const std::string line = TraceLine(srb, "", "");
  EXPECT_EQ(line.rfind("<<< 88 (88)", 0), 0u);
  size_t dumped = 0;
  for (size_t at = line.find('|'); (at = line.find("11 ", at)) != std::string::npos; at += 3) ++dumped;
  EXPECT_EQ(dumped, 257u);
}

TEST_F(ScsiDevice, ErrorTracesComeOnceOrUnderTraceAll) {
  ASSERT_TRUE(Rec.SelectDevice("1:0:0"));  // its first command closed the latch
  Respond = [](SRB_ExecSCSICmd& srb) { TFakeDrive::CheckCondition(srb, 5, 0x21, 0); };
  Lines.clear();
  uint8_t data[2048];
  EXPECT_FALSE(Rec.ReadSectors(0x10, 1, data, sizeof data));
  EXPECT_TRUE(Lines.empty());
  EXPECT_EQ(Rec.LastError(), "ILLEGAL REQUEST (LOGICAL BLOCK ADDRESS OUT OF RANGE)");
  EXPECT_EQ(Rec.LastSense()[12], 0x21);

  TSCSIDevice::SetTraceAll(true);
  EXPECT_FALSE(Rec.ReadSectors(0x10, 1, data, sizeof data));
  TSCSIDevice::SetTraceAll(false);
  ASSERT_EQ(Lines.size(), 1u);
  EXPECT_EQ(Types[0], 0);
  // "<<< mm:ss:zzz READ (10) ..." with the time of day first.
  EXPECT_EQ(Lines[0].substr(0, 4), "<<< ");
  EXPECT_EQ(Lines[0][6], ':');
  EXPECT_EQ(Lines[0].substr(14, 9), "READ (10)");
  EXPECT_NE(Lines[0].find("ASC:21,ASQ:00 ILLEGAL REQUEST"), std::string::npos);
}

TEST_F(ScsiDevice, WaitReadyPollsUntilTheDriveIsReady) {
  ASSERT_TRUE(Rec.SelectDevice("1:0:0"));
  int notReady = 5;
  Respond = [&](SRB_ExecSCSICmd& srb) {
    if (notReady > 0 && (srb.CDBByte[0] == 0x00 || srb.CDBByte[0] == 0x51)) {
      --notReady;
      return TFakeDrive::CheckCondition(srb, 2, 0x04, 0x07);
    }
    TFakeDrive::Good(srb);
  };
  EXPECT_TRUE(Rec.WaitReady(1000, 1));
  EXPECT_EQ(notReady, 0);
  notReady = 1000000;
  EXPECT_FALSE(Rec.WaitReady(20, 1)) << "the wait has a bound";
}

// What a wait costs is counted in the pauses it asks for (shortened by the
// pace divisor, never timed here).
TEST_F(ScsiDevice, AReadyDriveCostsNoPauseAndABusyOneShortOnesFirst) {
  ASSERT_TRUE(Rec.SelectDevice("1:0:0"));
  int notReady = 0;
  Respond = [&](SRB_ExecSCSICmd& srb) {
    if (notReady > 0 && srb.CDBByte[0] == 0x51) {
      --notReady;
      return TFakeDrive::CheckCondition(srb, 2, 0x04, 0x08);
    }
    TFakeDrive::Good(srb);
  };
  SetPaceDivisor(1000);
  int64_t before = PacedMilliseconds();
  EXPECT_TRUE(Rec.WaitReady(10000, 1000));
  EXPECT_EQ(PacedMilliseconds() - before, 0) << "asked first: nothing to wait for";

  // Busy for three answers: 50, 100 and 200 ms, not three whole intervals.
  notReady = 3;
  before = PacedMilliseconds();
  EXPECT_TRUE(Rec.WaitReady(10000, 1000));
  EXPECT_EQ(PacedMilliseconds() - before, 350);

  // Busy for good: the pauses grow to the interval and stay within the bound.
  notReady = 1000000;
  Fake.Sent.clear();
  before = PacedMilliseconds();
  EXPECT_FALSE(Rec.WaitReady(10000, 1000));
  const int64_t paced = PacedMilliseconds() - before;
  EXPECT_LE(paced, 10000);
  EXPECT_GE(paced, 9000);
  const size_t asked = Fake.WithOpcode(0x51).size();
  EXPECT_LT(asked, 30u) << "no more often than the interval once it is reached";
  SetPaceDivisor(1);
}

}  // namespace
}  // namespace fornax
