// The request blocks themselves: adapter inquiry, device type, addresses,
// and how answers and sense reach the host's buffers.

#include <cstring>

#include "drive_fixture.h"
#include "simdrive/simdrive.h"

namespace fornax::sim::test {
namespace {

class AspiEntryPoints : public DriveTest {
 protected:
  SRB_ExecSCSICmd Srb(const std::vector<uint8_t>& cdb, uint8_t flags, std::vector<uint8_t>& buffer) {
    SRB_ExecSCSICmd srb{};
    srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
    srb.SRB_Flags = flags;
    srb.SRB_BufLen = static_cast<uint32_t>(buffer.size());
    srb.SRB_BufPointer = buffer.empty() ? nullptr : buffer.data();
    srb.SRB_SenseLen = 24;
    srb.SRB_CDBLen = static_cast<uint8_t>(cdb.size());
    std::memcpy(srb.CDBByte, cdb.data(), cdb.size());
    std::memset(srb.SenseArea, 0xEE, sizeof srb.SenseArea);
    return srb;
  }
};

TEST_F(AspiEntryPoints, OneAdapterWithOneDrive) {
  EXPECT_EQ(GetASPI32SupportInfo(), 0x0101u);
  SRB_HAInquiry ha{};
  ha.SRB_Cmd = SC_HA_INQUIRY;
  EXPECT_EQ(SendASPI32Command(&ha), SS_COMP);
  EXPECT_EQ(ha.SRB_Status, SS_COMP);
  EXPECT_EQ(ha.HA_Count, 1);
  ha.SRB_HaId = 1;
  EXPECT_EQ(SendASPI32Command(&ha), SS_INVALID_HA);
  EXPECT_EQ(ha.HA_Count, 1);

  for (auto [adapter, target, lun, status, type] : {std::tuple{0, 0, 0, SS_COMP, 0x05},
                                                    {0, 1, 0, SS_NO_DEVICE, 0x1F},
                                                    {0, 0, 1, SS_NO_DEVICE, 0x1F},
                                                    {1, 0, 0, SS_NO_DEVICE, 0x1F}}) {
    SRB_GDEVBlock dev{};
    dev.SRB_Cmd = SC_GET_DEV_TYPE;
    dev.SRB_HaId = static_cast<uint8_t>(adapter);
    dev.SRB_Target = static_cast<uint8_t>(target);
    dev.SRB_Lun = static_cast<uint8_t>(lun);
    EXPECT_EQ(SendASPI32Command(&dev), static_cast<uint32_t>(status));
    EXPECT_EQ(dev.SRB_DeviceType, type);
  }
  SRB_GetDiskInfo disk{};
  disk.SRB_Cmd = SC_GET_DISK_INFO;
  EXPECT_EQ(SendASPI32Command(&disk), SS_ERR) << "no device node behind the drive";
  SRB_Abort abort{};
  abort.SRB_Cmd = SC_ABORT_SRB;
  EXPECT_EQ(SendASPI32Command(&abort), SS_INVALID_CMD);
  EXPECT_EQ(SendASPI32Command(nullptr), SS_ERR);
}

TEST_F(AspiEntryPoints, CommandsForAnotherAddressFindNoDevice) {
  std::vector<uint8_t> buffer(96);
  auto srb = Srb(cdb::Inquiry(), SRB_DIR_IN, buffer);
  srb.SRB_Target = 1;
  EXPECT_EQ(SendASPI32Command(&srb), SS_NO_DEVICE);
  EXPECT_EQ(buffer, std::vector<uint8_t>(96, 0));
}

TEST_F(AspiEntryPoints, AnswersStopAtTheAllocationAndTheBuffer) {
  std::vector<uint8_t> buffer(64, 0xEE);
  auto srb = Srb(cdb::Inquiry(36), SRB_DIR_IN, buffer);
  ASSERT_EQ(SendASPI32Command(&srb), SS_COMP);
  EXPECT_EQ(srb.SRB_TargStat, STATUS_GOOD);
  EXPECT_EQ(std::string(buffer.begin() + 8, buffer.begin() + 32), "FORNAX  VIRTUAL RECORDER");
  EXPECT_EQ(buffer[36], 0xEE) << "cut to the allocation length";

  std::vector<uint8_t> small(96, 0xEE);
  auto short_srb = Srb(cdb::Inquiry(96), SRB_DIR_IN, small);
  short_srb.SRB_BufLen = 20;
  ASSERT_EQ(SendASPI32Command(&short_srb), SS_COMP);
  EXPECT_EQ(std::string(small.begin() + 16, small.begin() + 20), "VIRT");
  EXPECT_EQ(small[20], 0xEE) << "nothing written past the buffer length";
}

TEST_F(AspiEntryPoints, SenseGoesToTheSenseAreaUpToItsLength) {
  ASSERT_EQ(fornax_sim_remove(), 0);
  std::vector<uint8_t> none;
  auto srb = Srb(cdb::TestUnitReady(), 0, none);
  ASSERT_EQ(SendASPI32Command(&srb), SS_ERR);
  EXPECT_EQ(srb.SRB_Status, SS_ERR);
  EXPECT_EQ(srb.SRB_TargStat, STATUS_CHKCOND);
  EXPECT_EQ(srb.SRB_HaStat, HASTAT_OK);
  const std::vector<uint8_t> expected{0x70, 0, 0x02, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0x3A, 0x02, 0, 0, 0, 0};
  EXPECT_EQ(std::vector<uint8_t>(srb.SenseArea, srb.SenseArea + 18), expected);
  EXPECT_EQ(srb.SenseArea[18], 0xEE);

  auto limited = Srb(cdb::TestUnitReady(), 0, none);
  limited.SRB_SenseLen = 8;
  ASSERT_EQ(SendASPI32Command(&limited), SS_ERR);
  EXPECT_EQ(limited.SenseArea[7], 0x0A);
  EXPECT_EQ(limited.SenseArea[8], 0xEE);
}

TEST_F(AspiEntryPoints, MalformedRequestBlocksAreRefusedBeforeTheDrive) {
  Insert("dvd+r");
  std::vector<uint8_t> data = Pattern(0, 1, 0x11);
  auto wrong_direction = Srb(cdb::Write10(0, 1), SRB_DIR_IN, data);
  EXPECT_EQ(SendASPI32Command(&wrong_direction), SS_INVALID_SRB);
  auto cut_cdb = Srb(cdb::Write10(0, 1), SRB_DIR_OUT, data);
  cut_cdb.SRB_CDBLen = 6;
  EXPECT_EQ(SendASPI32Command(&cut_cdb), SS_INVALID_SRB);
  auto no_buffer = Srb(cdb::Write10(0, 1), SRB_DIR_OUT, data);
  no_buffer.SRB_BufPointer = nullptr;
  EXPECT_EQ(SendASPI32Command(&no_buffer), SS_INVALID_SRB);

  auto short_buffer = Srb(cdb::Write10(0, 2), SRB_DIR_OUT, data);
  EXPECT_EQ(SendASPI32Command(&short_buffer), SS_ERR);
  EXPECT_EQ(short_buffer.SRB_HaStat, HASTAT_DO_DU);
  EXPECT_EQ(NextWritable(1), 0u) << "nothing recorded from a short buffer";
  std::vector<uint8_t> one_block(2048);
  auto short_read = Srb(cdb::Read10(0, 2), SRB_DIR_IN, one_block);
  ASSERT_GOOD(Write(0, 2));
  EXPECT_EQ(SendASPI32Command(&short_read), SS_ERR);
  EXPECT_EQ(short_read.SRB_HaStat, HASTAT_DO_DU);
}

}  // namespace
}  // namespace fornax::sim::test
