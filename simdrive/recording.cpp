#include "simdrive/recording.h"

#include "simdrive/disc_model.h"
#include "simdrive/overwrite_recording.h"
#include "simdrive/sequential_recording.h"

namespace fornax::sim {

Sense CheckWrite(const Disc& disc, uint32_t lba, uint32_t count) {
  return IsSequential(disc) ? CheckSequentialWrite(disc, lba, count)
                            : CheckOverwrite(disc, lba, count);
}

void RecordWrite(Disc& disc, uint32_t lba, uint32_t count, uint8_t cd_mode) {
  if (IsSequential(disc))
    RecordSequentialWrite(disc, lba, count, cd_mode);
  else
    RecordOverwrite(disc, lba, count);
}

void FlushCache(Disc& disc) {
  if (IsSequential(disc)) FlushSequential(disc);
}

Sense CloseTrackSession(Disc& disc, uint8_t function, uint32_t track, uint8_t multisession,
                        uint32_t border_gap) {
  if (!IsSequential(disc)) return CloseOverwritable(disc, function);
  const bool plus = disc.kind == MediumKind::kDvdPlusR || disc.kind == MediumKind::kDvdPlusRDl;
  switch (function) {
    case close_function::kTrack: return CloseSequentialTrack(disc, track);
    case close_function::kSession: return CloseSequentialSession(disc, multisession, border_gap);
    case close_function::kFinalizeMinimalRadius:
    case close_function::kFinalize:
      if (plus) return FinalizeSequential(disc);
      break;
    default: break;
  }
  return sense::InvalidFieldInCdb(2, 2);
}

Sense ReserveTrack(Disc& disc, uint32_t blocks) {
  if (!IsSequential(disc)) return sense::kCannotWriteMedium;
  return ReserveSequentialTrack(disc, blocks);
}

}  // namespace fornax::sim
