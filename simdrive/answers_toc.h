#pragma once
// READ TOC/PMA/ATIP: the table of contents of the complete sessions (format
// 0), the last complete session (format 1) and the ATIP of a CD-R/RW
// (format 4). A DVD shows one track per complete session, as recorders do.

#include <cstdint>
#include <vector>

#include "simdrive/drive_state.h"
#include "simdrive/sense.h"

namespace fornax::sim {

struct TocTrack {
  uint8_t number = 1;
  uint8_t adr_control = 0x14;
  uint16_t session = 1;
  uint32_t start = 0;
};

struct Toc {
  std::vector<TocTrack> tracks;  // empty: no complete session
  uint32_t lead_out = 0;
  uint16_t last_session = 0;
};

Toc BuildToc(const Disc& disc);
// first_track: CDB byte 6 (0 from the first, AAh the lead-out alone).
std::vector<uint8_t> TocAnswer(const Toc& toc, uint8_t first_track, bool msf, Sense* refusal);
std::vector<uint8_t> SessionInfoAnswer(const Toc& toc, bool msf, Sense* refusal);
std::vector<uint8_t> AtipAnswer(MediumKind kind);

}  // namespace fornax::sim
