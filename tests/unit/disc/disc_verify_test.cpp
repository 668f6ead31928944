#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "engine/disc/disc_verify.h"
#include "support/temp_folder.h"

namespace fornax {
namespace {

constexpr uint32_t kSector = 2048;

// Sectors in memory, some of which the "drive" cannot read.
class TDamagedSource : public TMemorySource {
 public:
  TDamagedSource(std::vector<uint8_t> bytes, std::set<uint32_t> bad) : TMemorySource(std::move(bytes)), FBad(std::move(bad)) {}
  bool ReadSectors(uint32_t lba, uint32_t count, uint8_t* out) override {
    for (uint32_t s = lba; s < lba + count; ++s)
      if (FBad.count(s)) {
        Reads.emplace_back(lba, count);
        return false;
      }
    return TMemorySource::ReadSectors(lba, count, out);
  }
  std::string LastError() const override { return "UNRECOVERED READ ERROR"; }

 private:
  std::set<uint32_t> FBad;
};

// A disc of `sectors` whose every byte tells where it lies.
std::vector<uint8_t> Disc(uint32_t sectors) {
  std::vector<uint8_t> bytes(static_cast<size_t>(sectors) * kSector);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>((i * 131 + i / kSector) & 0xFF);
  return bytes;
}

THash128 HashOf(const std::vector<uint8_t>& disc, const TExtentFile& f) {
  return HashBytes(disc.data() + static_cast<size_t>(f.Extent) * kSector, static_cast<size_t>(f.Size));
}

TEST(HashExtents, NeighbouringFilesAreReadTogetherInLargeReadsAndHashedToTheirOwnLength) {
  const std::vector<uint8_t> bytes = Disc(2000);
  TMemorySource disc(bytes);
  // Given out of disc order; the second lies after a small gap, the third
  // spans more than one read, the last lies far away.
  const std::vector<TExtentFile> files{{40, 3 * kSector + 5}, {20, 100}, {21, 10 * kSector}, {44, 600 * kSector + 1},
                                       {30, 0}, {1900, 7000}};
  const std::vector<TExtentHash> hashes = HashExtents(disc, files);
  ASSERT_EQ(hashes.size(), files.size());
  for (size_t i = 0; i < files.size(); ++i) {
    EXPECT_TRUE(hashes[i].Read) << i;
    EXPECT_EQ(hashes[i].Hash, HashOf(bytes, files[i])) << i;
  }
  EXPECT_EQ(hashes[4].Hash, HashBytes(nullptr, 0)) << "an empty file reads nothing";
  // Sectors 20 to 644 in reads of 512 and the rest, then the far file.
  EXPECT_EQ(disc.Reads, (std::vector<std::pair<uint32_t, uint32_t>>{{20, 512}, {532, 113}, {1900, 4}}));
}

TEST(HashExtents, AFailedReadIsNarrowedToTheSectorsThatFailAndTheFilesOnThem) {
  const std::vector<uint8_t> bytes = Disc(300);
  TDamagedSource disc(bytes, {105, 106});
  const std::vector<TExtentFile> files{{100, 5 * kSector}, {105, 2 * kSector}, {107, 3 * kSector}};
  const std::vector<TExtentHash> hashes = HashExtents(disc, files);
  EXPECT_TRUE(hashes[0].Read);
  EXPECT_EQ(hashes[0].Hash, HashOf(bytes, files[0]));
  EXPECT_FALSE(hashes[1].Read);
  EXPECT_EQ(hashes[1].Failed, (std::vector<TSectorRange>{{105, 2}}));
  EXPECT_EQ(hashes[1].Error, "UNRECOVERED READ ERROR");
  EXPECT_TRUE(hashes[2].Read);
  EXPECT_EQ(hashes[2].Hash, HashOf(bytes, files[2]));
}

TEST(DifferingSectors, NameTheSectorsWhereTheDiscAndALocalFileDiffer) {
  std::vector<uint8_t> bytes = Disc(1200);
  const TExtentFile file{10, 1100 * kSector + 300};
  test::TTempFolder tmp;
  const std::string local = tmp.Write(
      "f.bin", std::string(reinterpret_cast<const char*>(bytes.data()) + 10 * kSector, static_cast<size_t>(file.Size)));
  bytes[(10 + 3) * kSector + 7] ^= 1;
  bytes[(10 + 600) * kSector] ^= 1;
  bytes[(10 + 601) * kSector + 2047] ^= 1;
  bytes[(10 + 1100) * kSector + 299] ^= 1;  // the last byte of the file
  bytes[(10 + 1100) * kSector + 300] ^= 1;  // padding after it: no difference
  TMemorySource disc(bytes);
  std::vector<TSectorRange> sectors;
  std::string error;
  ASSERT_TRUE(DifferingSectors(disc, file, local, sectors, error)) << error;
  EXPECT_EQ(sectors, (std::vector<TSectorRange>{{13, 1}, {610, 2}, {1110, 1}}));
  EXPECT_FALSE(DifferingSectors(disc, file, tmp.Path("missing"), sectors, error));
  EXPECT_NE(error.find("cannot open"), std::string::npos) << error;
}

}  // namespace
}  // namespace fornax
