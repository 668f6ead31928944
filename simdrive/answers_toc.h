#pragma once
// READ TOC/PMA/ATIP: the table of contents of the complete sessions (format
// 0), the last complete session (format 1), the full TOC (2), the PMA (3),
// the ATIP of a CD-R/RW (4) and CD-TEXT (5). A DVD shows one track per
// complete session, as recorders do, and has formats 0 and 1 only.

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
// Format 2, the full TOC of a CD from session first_session on (0: from 1):
// per complete session A0, A1, A2, its tracks, then B0 (when a next session
// may follow) and, in session 1, C0. Addresses are MSF.
std::vector<uint8_t> FullTocAnswer(const Disc& disc, uint8_t first_session, Sense* refusal);
// Format 3, the PMA of a CD-R/RW: the tracks of the session still open.
std::vector<uint8_t> PmaAnswer(const Disc& disc, Sense* refusal);
// Format 5, CD-TEXT: the drive writes none, so the header alone on a CD.
std::vector<uint8_t> CdTextAnswer(const Disc& disc, Sense* refusal);

}  // namespace fornax::sim
