#pragma once
// The recording rules of overwritable media: DVD+RW (formatted first, with a
// background format), DVD-RAM, and DVD-RW in restricted overwrite, which
// takes whole ECC blocks only and grows at its end while in the intermediate
// state a quick format leaves.

#include <cstdint>

#include "simdrive/drive_state.h"
#include "simdrive/sense.h"

namespace fornax::sim {

Sense CheckOverwrite(const Disc& disc, uint32_t lba, uint32_t count);
void RecordOverwrite(Disc& disc, uint32_t lba, uint32_t count);
// CLOSE TRACK/SESSION functions of DVD+RW (000b, 010b, 011b) and of a
// restricted-overwrite DVD-RW (010b).
Sense CloseOverwritable(Disc& disc, uint8_t function);
// A running DVD+RW background format ends by itself at its time.
void SettleBackgroundFormat(Disc& disc, int64_t now_ms);

}  // namespace fornax::sim
