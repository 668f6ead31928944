#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "engine/base/bytes.h"
#include "engine/disc/volume_descriptors.h"

namespace fornax {
namespace {

constexpr uint32_t kSector = 2048;

// Sectors in memory, descriptors put where a test wants them.
struct TSectors {
  std::vector<uint8_t> Bytes = std::vector<uint8_t>(64 * kSector, 0);
  void Descriptor(uint32_t lba, uint8_t type, uint32_t volumeEnd = 0) {
    uint8_t* p = Bytes.data() + lba * kSector;
    p[0] = type;
    std::memcpy(p + 1, "CD001", 5);
    p[6] = 1;
    PutLe32(p + 80, volumeEnd);
  }
  TSectorReader Reader() {
    return [this](uint32_t lba, uint8_t* out) {
      if (lba >= 64) return false;
      std::memcpy(out, Bytes.data() + lba * kSector, kSector);
      return true;
    };
  }
};

TEST(VolumeDescriptors, TheSetEndsAtItsTerminatorAndTellsTheFurthestEnd) {
  TSectors disc;
  disc.Descriptor(16, 1, 500);
  disc.Descriptor(17, 0);  // a boot record claims no volume
  disc.Descriptor(18, 2, 520);
  disc.Descriptor(19, 255);
  disc.Descriptor(20, 2, 99999);  // what an older, longer set left behind
  const TDescriptorSet set = ScanDescriptorSet(disc.Reader(), 0);
  EXPECT_TRUE(set.Found);
  EXPECT_TRUE(set.Terminated);
  EXPECT_EQ(set.VolumeEnd, 520u);
  EXPECT_EQ(set.Sectors, 4u);

  TSectors blank;
  EXPECT_FALSE(ScanDescriptorSet(blank.Reader(), 0).Found);
  blank.Descriptor(16 + 30, 1, 7);
  EXPECT_EQ(ScanDescriptorSet(blank.Reader(), 30).VolumeEnd, 7u) << "a later session's set";
  EXPECT_FALSE(ScanDescriptorSet(blank.Reader(), 60).Found) << "past the end of what can be read";
}

TEST(VolumeDescriptors, AnOverlayChangesOnlyTheDescriptorSectors) {
  std::vector<uint8_t> unit(32 * kSector, 0xAB);  // what the disc held
  std::vector<uint8_t> copy(19 * kSector, 0x00);  // a system area and three descriptors
  std::memset(copy.data() + 16 * kSector, 0x11, 3 * kSector);
  OverlayDescriptorSet(unit.data(), 32, copy.data(), static_cast<uint32_t>(copy.size()));
  EXPECT_EQ(unit[0], 0xAB) << "the system area stays";
  EXPECT_EQ(unit[16 * kSector - 1], 0xAB);
  EXPECT_EQ(unit[16 * kSector], 0x11);
  EXPECT_EQ(unit[19 * kSector - 1], 0x11);
  EXPECT_EQ(unit[19 * kSector], 0xAB) << "a file an earlier session placed after its set stays";
}

}  // namespace
}  // namespace fornax
