#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>

#include <string>
#include <vector>

#include "engine/base/bytes.h"
#include "engine/recorder.h"
#include "support/fake_drive.h"
#include "support/temp_folder.h"

namespace fornax {
namespace {

using test::TFakeDrive;

// Extraction from the disc in a drive, as the command blocks show it: reads
// of 31 sectors, the rest in one last read, and a refused read ending it.
class DriveExtraction : public ::testing::Test {
 protected:
  DriveExtraction() {
    Fake.Respond = [this](SRB_ExecSCSICmd& srb) {
      if (srb.CDBByte[0] == 0x12) return TFakeDrive::Good(srb, test::InquiryAnswer("ACME", "WRITER", "1.0"));
      if (srb.CDBByte[0] != 0x28) return TFakeDrive::Good(srb);
      const uint32_t lba = GetBe32(srb.CDBByte + 2);
      const uint32_t count = GetBe16(srb.CDBByte + 7);
      if (lba + count > 200) return TFakeDrive::CheckCondition(srb, 0x05, 0x21, 0x00);
      for (uint32_t i = 0; i < count; ++i) std::memset(srb.SRB_BufPointer + i * 2048, 'a' + (lba + i) % 26, 2048);
      srb.SRB_Status = SS_COMP;
    };
    Rec.ScanDevices();
    EXPECT_TRUE(Rec.SelectDevice("0:0:0"));
  }
  // (address, blocks, allocation length) of every READ (10) sent.
  std::vector<std::vector<uint32_t>> Reads() const {
    std::vector<std::vector<uint32_t>> out;
    for (const auto& c : Fake.WithOpcode(0x28))
      out.push_back({GetBe32(c.Cdb.data() + 2), GetBe16(c.Cdb.data() + 7), c.DataLength});
    return out;
  }
  TFakeDrive Fake;
  TQzRecorder Rec;
  test::TTempFolder Tmp;
};

TEST_F(DriveExtraction, ReadsThirtyOneSectorsThenTheRest) {
  TFEntry entry;
  entry.LongName = "F.BIN";
  entry.ISOLocation = 100;
  entry.ISOSize = 100000;  // 48 whole sectors and 1696 bytes
  ASSERT_TRUE(Rec.ExtractFile(&entry, Tmp.Path("f.bin")));
  EXPECT_EQ(Reads(), (std::vector<std::vector<uint32_t>>{{100, 31, 31 * 2048}, {131, 18, 18 * 2048}}));
  const std::string data = test::TTempFolder::Read(Tmp.Path("f.bin"));
  ASSERT_EQ(data.size(), 100000u);
  EXPECT_EQ(data[0], 'a' + 100 % 26);
  EXPECT_EQ(data[31 * 2048], 'a' + 131 % 26);
  EXPECT_EQ(data.back(), 'a' + 148 % 26);
}

TEST_F(DriveExtraction, ARefusedReadFailsWithTheDrivesReasonAndLeavesNoFile) {
  TFEntry entry;
  entry.LongName = "G.BIN";
  entry.ISOLocation = 150;
  entry.ISOSize = 80 * 2048;
  EXPECT_FALSE(Rec.ExtractFile(&entry, Tmp.Path("g.bin")));
  EXPECT_NE(Rec.ExtractError().find("LOGICAL BLOCK ADDRESS OUT OF RANGE"), std::string::npos) << Rec.ExtractError();
  struct stat st {};
  EXPECT_NE(::stat(Tmp.Path("g.bin").c_str(), &st), 0);
  EXPECT_EQ(Reads().size(), 2u) << "nothing is read after the refusal";
}

}  // namespace
}  // namespace fornax
