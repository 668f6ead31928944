#include "engine/disc/volume_descriptors.h"

#include <algorithm>
#include <cstring>

#include "engine/base/bytes.h"

namespace fornax {
namespace {

constexpr uint32_t kSector = 2048;
constexpr uint32_t kSystemAreaSectors = 16;
constexpr uint32_t kMostDescriptors = 32;
constexpr uint8_t kPrimary = 1, kSupplementary = 2, kTerminator = 255;

}  // namespace

bool IsVolumeDescriptor(const uint8_t* sector) {
  return std::memcmp(sector + 1, "CD001", 5) == 0 && sector[6] == 1;
}

TDescriptorSet ScanDescriptorSet(const TSectorReader& read, uint32_t start) {
  TDescriptorSet set;
  alignas(16) uint8_t sector[kSector];
  for (uint32_t i = 0; i < kMostDescriptors; ++i) {
    std::memset(sector, 0, sizeof sector);
    if (!read(start + kSystemAreaSectors + i, sector) || !IsVolumeDescriptor(sector)) break;
    ++set.Sectors;
    if (sector[0] == kTerminator) {
      set.Terminated = true;
      break;
    }
    if (sector[0] == kPrimary || sector[0] == kSupplementary) {
      set.Found = true;
      set.VolumeEnd = std::max(set.VolumeEnd, GetLe32(sector + 80));
    }
  }
  return set;
}

void OverlayDescriptorSet(uint8_t* image, uint32_t imageSectors, const uint8_t* descriptors,
                          uint32_t descriptorBytes) {
  if (descriptorBytes <= kSystemAreaSectors * kSector) return;
  const uint32_t available = imageSectors > kSystemAreaSectors ? imageSectors - kSystemAreaSectors : 0;
  const uint32_t sectors = std::min(descriptorBytes / kSector - kSystemAreaSectors, available);
  std::memcpy(image + kSystemAreaSectors * kSector, descriptors + kSystemAreaSectors * kSector,
              static_cast<size_t>(sectors) * kSector);
}

}  // namespace fornax
