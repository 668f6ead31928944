#pragma once
// The recording rules of write-once and sequential media (CD-R/RW, DVD-R,
// DVD-RW sequential, DVD+R, DVD+R DL): writes only at a next writable
// address, tracks that are reserved, filled and closed, sessions (borders)
// closed with the gap each medium leaves, and the complete disc. Each
// operation answers the sense a drive gives when it refuses.

#include <cstdint>

#include "simdrive/drive_state.h"
#include "simdrive/sense.h"

namespace fornax::sim {

Sense CheckSequentialWrite(const Disc& disc, uint32_t lba, uint32_t count);
// Records blocks already checked; cd_mode is page 05's track mode.
void RecordSequentialWrite(Disc& disc, uint32_t lba, uint32_t count, uint8_t cd_mode);
// SYNCHRONIZE CACHE: a CD drive in track-at-once ends the open track there.
void FlushSequential(Disc& disc);
Sense CloseSequentialTrack(Disc& disc, uint32_t number);
// multisession: page 05 byte 3 bits 7-6 as they are now.
Sense CloseSequentialSession(Disc& disc, uint8_t multisession, uint32_t border_gap);
// DVD+R and DVD+R DL close functions 101b and 110b.
Sense FinalizeSequential(Disc& disc);
Sense ReserveSequentialTrack(Disc& disc, uint32_t blocks);

}  // namespace fornax::sim
