#pragma once
// The volume descriptor set of a session as a reader finds it: the sectors
// from the session's start + 16 up to the set terminator. Where a file system
// ends tells where a new session may start on an overwritable disc, and
// whether a session on a write-once disc holds all it claims.

#include <cstdint>
#include <functional>

namespace fornax {

// Reads one 2048-byte sector; false when it cannot be read.
using TSectorReader = std::function<bool(uint32_t lba, uint8_t* sector)>;

struct TDescriptorSet {
  bool Found = false;          // a primary or supplementary descriptor was met
  uint32_t VolumeEnd = 0;      // the largest volume space size of those descriptors
  uint32_t Sectors = 0;        // descriptors read, the terminator included
  bool Terminated = false;     // the set ended with its terminator
};

// A descriptor sector: "CD001" at bytes 1-5 and version 1 at byte 6.
bool IsVolumeDescriptor(const uint8_t* sector);

// Walks the set from `start` + 16, at most 32 sectors, stopping at the
// terminator or at the first sector that is no descriptor.
TDescriptorSet ScanDescriptorSet(const TSectorReader& read, uint32_t start);

// Sectors 16 to 16 + n - 1 of `image` replaced by the n descriptor sectors of
// `descriptors` (which starts with the 16 sectors of a system area); the
// sectors around them keep what they held.
void OverlayDescriptorSet(uint8_t* image, uint32_t imageSectors, const uint8_t* descriptors,
                          uint32_t descriptorBytes);

}  // namespace fornax
