#include "simdrive/overwrite_recording.h"

#include <algorithm>

#include "simdrive/disc_model.h"

namespace fornax::sim {
namespace {

constexpr uint8_t kCloseStopFormat = 0;
constexpr uint8_t kCloseSession = 2;
constexpr uint8_t kCloseCompleteFormat = 3;

bool EccAligned(uint32_t value) { return value % geometry::kEccBlock == 0; }

Sense CheckRestrictedOverwrite(const Disc& disc, uint32_t lba, uint64_t end) {
  if (!EccAligned(lba) || !EccAligned(static_cast<uint32_t>(end - lba)))
    return sense::kInvalidAddressForWrite;
  if (disc.intermediate) {
    if (lba > disc.grow_nwa) return sense::kInvalidAddressForWrite;
    const uint32_t capacity = OverwriteCapacity(disc);
    if (end > capacity) return sense::LbaOutOfRange(std::max(lba, capacity));
    return sense::kNone;
  }
  if (end > disc.formatted_blocks) return sense::LbaOutOfRange(std::max(lba, disc.formatted_blocks));
  return sense::kNone;
}

Sense CloseDvdPlusRw(Disc& disc, uint8_t function) {
  if (!disc.formatted) return sense::kMediumNotFormatted;
  switch (function) {
    case kCloseStopFormat:
    case kCloseSession:
      // Stopping leaves the format suspended; 010b also writes a lead-out
      // so that read-only drives take the disc.
      if (disc.background == BackgroundFormat::kRunning) disc.background = BackgroundFormat::kSuspended;
      return sense::kNone;
    case kCloseCompleteFormat:
      disc.background = BackgroundFormat::kDone;
      return sense::kNone;
    default: return sense::InvalidFieldInCdb(2, 2);
  }
}

}  // namespace

Sense CheckOverwrite(const Disc& disc, uint32_t lba, uint32_t count) {
  const uint64_t end = static_cast<uint64_t>(lba) + count;
  if (disc.kind == MediumKind::kDvdRw) return CheckRestrictedOverwrite(disc, lba, end);
  if (disc.kind == MediumKind::kDvdPlusRw && !disc.formatted) return sense::kMediumNotFormatted;
  if (end > disc.formatted_blocks) return sense::LbaOutOfRange(std::max(lba, disc.formatted_blocks));
  return sense::kNone;
}

void RecordOverwrite(Disc& disc, uint32_t lba, uint32_t count) {
  disc.written_end = std::max(disc.written_end, lba + count);
  if (disc.intermediate) disc.grow_nwa = std::max(disc.grow_nwa, lba + count);
}

Sense CloseOverwritable(Disc& disc, uint8_t function) {
  if (disc.kind == MediumKind::kDvdPlusRw) return CloseDvdPlusRw(disc, function);
  if (disc.kind == MediumKind::kDvdRw && function == kCloseSession) {
    if (disc.intermediate) {
      disc.formatted_blocks = disc.grow_nwa;
      disc.intermediate = false;
      disc.formatted = true;
    }
    return sense::kNone;
  }
  return sense::InvalidFieldInCdb(2, 2);
}

void SettleBackgroundFormat(Disc& disc, int64_t now_ms) {
  if (disc.background == BackgroundFormat::kRunning && now_ms >= disc.background_end_ms)
    disc.background = BackgroundFormat::kDone;
}

}  // namespace fornax::sim
