// Overwritable media: DVD+RW and its format, DVD-RAM, DVD-RW in restricted
// overwrite with its ECC-block alignment and intermediate state.

#include "drive_fixture.h"
#include "simdrive/simdrive.h"

namespace fornax::sim::test {
namespace {

const std::vector<uint8_t> kPlusRwFormat{0x00, 0x82, 0x00, 0x08, 0x00, 0x23, 0x05, 0x40, 0x98, 0x00, 0x00, 0x00};
const std::vector<uint8_t> kRamFormat{0x00, 0x82, 0x00, 0x08, 0x00, 0x22, 0x21, 0x20, 0x00, 0x00, 0x08, 0x00};
const std::vector<uint8_t> kQuickWithDcrt{0x00, 0xA2, 0x00, 0x08, 0x00, 0x00, 0x03, 0xE8, 0x54, 0x00, 0x00, 0x10};
const std::vector<uint8_t> kQuick{0x00, 0x82, 0x00, 0x08, 0x00, 0x00, 0x00, 0x00, 0x54, 0x00, 0x00, 0x10};
const std::vector<uint8_t> kGrow{0x00, 0x82, 0x00, 0x08, 0x00, 0x00, 0x00, 0x00, 0x4C, 0x00, 0x00, 0x10};

class OverwriteMedia : public DriveTest {
 protected:
  uint16_t Profile() { return Send(cdb::GetConfiguration(2, 0), 16).Be16(6); }
  std::vector<uint8_t> ReadBlocks(uint32_t lba, uint16_t blocks) {
    const Outcome o = Send(cdb::Read10(lba, blocks), blocks * 2048u);
    EXPECT_GOOD(o);
    return o.data;
  }
  // The descriptor types READ FORMAT CAPACITIES offers after the current one.
  std::vector<uint8_t> OfferedTypes() {
    const Outcome o = Send(cdb::FormatCapacities(), 248);
    std::vector<uint8_t> types;
    for (size_t at = 12; at < 4 + size_t{o.data[3]}; at += 8) types.push_back(o.data[at + 4] >> 2);
    return types;
  }
};

TEST_F(OverwriteMedia, DvdPlusRwIsFormattedBeforeItTakesWrites) {
  Insert("dvd+rw");
  EXPECT_EQ(Profile(), 0x001A);
  const Outcome feature = Send(cdb::GetConfiguration(2, 0x2A, 16), 16);
  const std::vector<uint8_t> expected{0, 0, 0, 0x0C, 0, 0, 0, 0x1A, 0, 0x2A, 0x01, 0x04, 0x01, 0, 0, 0};
  EXPECT_EQ(feature.data, expected);
  EXPECT_EQ(DiscInfo().data[2], 0x10) << "erasable, empty";
  EXPECT_SENSE(Write(0, 32), 5, 0x30, 0x10);
  EXPECT_SENSE(Send(cdb::Close(false, 3, 255)), 5, 0x30, 0x10);
  const Outcome capacities = Send(cdb::FormatCapacities(), 248);
  EXPECT_EQ(capacities.Be32(4), 2295104u);
  EXPECT_EQ(capacities.data[8], 0x01) << "unformatted";
  EXPECT_EQ(OfferedTypes(), std::vector<uint8_t>{0x26});

  ASSERT_EQ(fornax_sim_set_durations(0, 300, 0), 0);
  ASSERT_GOOD(Format(kPlusRwFormat));
  EXPECT_SENSE(DiscInfo(), 2, 0x04, 0x04) << "formatting in the foreground";
  ASSERT_TRUE(WaitWhileInProgress(5000));
  const Outcome running = DiscInfo();
  EXPECT_EQ(running.data[2] & 0x0F, 0x0E) << "formatted: complete";
  EXPECT_EQ(running.data[7] & 0x03, 2) << "background format running";
  EXPECT_GOOD(Write(1000, 32)) << "writes work during the background format";
  EXPECT_EQ(ReadBlocks(1000, 32), Pattern(1000, 32, 0xA5));
  EXPECT_EQ(ReadBlocks(0, 1), std::vector<uint8_t>(2048, 0)) << "unwritten formatted blocks";
  EXPECT_GOOD(Send(cdb::Close(false, 3, 255)));
  EXPECT_EQ(DiscInfo().data[7] & 0x03, 3) << "background format done";
  EXPECT_EQ(Send(cdb::ReadCapacity(), 8).Be32(0), 2295103u);
  EXPECT_SENSE(Send(cdb::Close(false, 1, 1)), 5, 0x24, 0x00);
  EXPECT_SENSE(Write(2295104 - 16, 32), 5, 0x21, 0x00);
}

TEST_F(OverwriteMedia, DvdPlusRwRefusesUnknownFormatParameters) {
  Insert("dvd+rw");
  auto list = kPlusRwFormat;
  list[11] = 2;  // neither a new format nor a restart
  EXPECT_SENSE(Format(list), 5, 0x26, 0x00);
  list[11] = 1;
  EXPECT_SENSE(Format(list), 5, 0x26, 0x00) << "nothing to restart on a blank disc";
  list[8] = 0x00;  // format type 00h is not offered on DVD+RW
  list[11] = 0;
  EXPECT_SENSE(Format(list), 5, 0x26, 0x00);
}

TEST_F(OverwriteMedia, DvdRamWritesAnywhereAndFormatsItsOfferedSizes) {
  Insert("dvd-ram");
  EXPECT_EQ(DiscInfo().data[2], 0x1F) << "erasable, complete session, status other";
  EXPECT_GOOD(Write(5, 3));
  EXPECT_GOOD(Write(100000, 1));
  auto blocks = ReadBlocks(0, 8);
  EXPECT_EQ(std::vector<uint8_t>(blocks.begin(), blocks.begin() + 5 * 2048), std::vector<uint8_t>(5 * 2048, 0));
  EXPECT_EQ(std::vector<uint8_t>(blocks.begin() + 5 * 2048, blocks.end()), Pattern(5, 3, 0xA5));
  EXPECT_SENSE(Write(2236704 - 1, 2), 5, 0x21, 0x00);
  EXPECT_EQ(Send(cdb::ReadCapacity(), 8).Be32(0), 2236703u);
  auto odd = kRamFormat;
  odd[7] = 0x21;  // a size the disc does not offer
  EXPECT_SENSE(Format(odd), 5, 0x26, 0x00);
  ASSERT_GOOD(Format(kRamFormat));
  EXPECT_EQ(ReadBlocks(5, 1), std::vector<uint8_t>(2048, 0)) << "formatting clears the disc";
  EXPECT_SENSE(Send(cdb::Blank(false, 0)), 5, 0x30, 0x00);
}

TEST_F(OverwriteMedia, DvdRwQuickFormatGrowsByAlignedWritesAndCloses) {
  Insert("dvd-rw-seq");
  EXPECT_EQ(Profile(), 0x0014);
  EXPECT_SENSE(Format(kQuickWithDcrt), 5, 0x26, 0x00);
  ASSERT_GOOD(Format(kQuick));
  EXPECT_EQ(Profile(), 0x0013);
  EXPECT_EQ(NextWritable(1), 0u);
  EXPECT_SENSE(Write(8, 16), 5, 0x21, 0x02) << "start off an ECC block";
  EXPECT_SENSE(Write(0, 8), 5, 0x21, 0x02) << "length off an ECC block";
  EXPECT_SENSE(Write(32, 16), 5, 0x21, 0x02) << "beyond the end it grows from";
  EXPECT_GOOD(Write(0, 32));
  EXPECT_GOOD(Write(32, 32));
  EXPECT_GOOD(Write(0, 32, 0x5A)) << "overwriting inside the written area";
  EXPECT_EQ(NextWritable(1), 64u);
  EXPECT_EQ(DiscInfo().data[2] & 0x0F, 0x05) << "intermediate: appendable, incomplete";

  EXPECT_GOOD(Send(cdb::Close(true, 2, 0)));
  EXPECT_EQ(DiscInfo().data[2] & 0x0F, 0x0E);
  EXPECT_EQ(Send(cdb::ReadCapacity(), 8).Be32(0), 63u);
  EXPECT_SENSE(Write(64, 16), 5, 0x21, 0x00);
  EXPECT_EQ(OfferedTypes(), (std::vector<uint8_t>{0x00, 0x10, 0x13, 0x15}));

  ASSERT_GOOD(Format(kGrow));
  EXPECT_EQ(NextWritable(1), 64u) << "grows on from the closed area";
  EXPECT_EQ(ReadBlocks(0, 32), Pattern(0, 32, 0x5A)) << "growing keeps the data";

  EXPECT_GOOD(Send(cdb::Blank(false, 1)));
  EXPECT_EQ(Profile(), 0x0014);
  EXPECT_EQ(DiscInfo().data[2] & 0x0F, 0x00);
  const Outcome incremental = Send(cdb::GetConfiguration(2, 0x21, 16), 16);
  EXPECT_EQ(incremental.data[10] & 0x01, 0) << "minimal blank: incremental writing is gone";
}

TEST_F(OverwriteMedia, FullyFormattedDvdRwOffersNoGrowth) {
  Insert("dvd-rw-ro");
  EXPECT_EQ(Profile(), 0x0013);
  EXPECT_EQ(OfferedTypes(), (std::vector<uint8_t>{0x00, 0x10, 0x15}));
  EXPECT_SENSE(Format(kGrow), 5, 0x26, 0x00);
  EXPECT_GOOD(Write(2297888 - 32, 32));
  EXPECT_SENSE(Write(2297888, 16), 5, 0x21, 0x00);
}

}  // namespace
}  // namespace fornax::sim::test
