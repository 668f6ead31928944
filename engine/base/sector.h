#pragma once

#include <cstdint>

namespace fornax {

inline constexpr int64_t kSectorSize = 2048;

// Whole sectors needed for a number of bytes.
inline constexpr int64_t SectorsFor(int64_t bytes) { return (bytes + kSectorSize - 1) / kSectorSize; }
inline constexpr int64_t RoundUpToSector(int64_t bytes) { return SectorsFor(bytes) * kSectorSize; }

}  // namespace fornax
