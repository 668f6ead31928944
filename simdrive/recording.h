#pragma once
// One entry per recording command for every medium: picks the sequential or
// the overwritable rules for the disc in the drive.

#include <cstdint>

#include "simdrive/drive_state.h"
#include "simdrive/sense.h"

namespace fornax::sim {

namespace close_function {
inline constexpr uint8_t kStopFormat = 0;
inline constexpr uint8_t kTrack = 1;
inline constexpr uint8_t kSession = 2;
inline constexpr uint8_t kCompleteFormat = 3;
inline constexpr uint8_t kFinalizeMinimalRadius = 5;
inline constexpr uint8_t kFinalize = 6;
}  // namespace close_function

Sense CheckWrite(const Disc& disc, uint32_t lba, uint32_t count);
void RecordWrite(Disc& disc, uint32_t lba, uint32_t count, uint8_t cd_mode);
void FlushCache(Disc& disc);
Sense CloseTrackSession(Disc& disc, uint8_t function, uint32_t track, uint8_t multisession,
                        uint32_t border_gap);
Sense ReserveTrack(Disc& disc, uint32_t blocks);

}  // namespace fornax::sim
