#pragma once
// What a disc looks like from outside: its tracks with their flags and
// addresses, its status and sessions, what can be read and what READ
// CAPACITY says. All pure functions of the recorded state, shared by every
// answer that describes the disc.

#include <cstdint>
#include <vector>

#include "simdrive/drive_state.h"

namespace fornax::sim {

bool IsSequential(const Disc& disc);
bool IsOverwritable(const Disc& disc);

// The end of the area the invisible track may grow into (sequential media).
uint32_t UsableEnd(const Disc& disc);
// The largest formatted size the medium can have (overwritable media).
uint32_t OverwriteCapacity(const Disc& disc);
inline uint32_t TrackEnd(const Track& t) { return t.start + t.size; }
uint32_t OpenTrackNumber(const Disc& disc);
// The end of the last track of the last closed session; 0 before any.
uint32_t LastClosedSessionEnd(const Disc& disc);
// Sessions closed or open on a sequential disc; the first track of session s.
uint32_t FirstTrackOfSession(const Disc& disc, uint16_t session);
bool CurrentSessionHasData(const Disc& disc);
bool HasAnyData(const Disc& disc);

// One track as READ TRACK INFORMATION describes it.
struct TrackInfo {
  uint32_t number = 1;
  uint16_t session = 1;
  uint32_t start = 0;
  uint32_t size = 0;
  uint32_t free = 0;
  uint32_t nwa = 0;
  uint32_t last_recorded = 0;
  uint32_t packet_size = 0;
  bool nwa_valid = false;
  bool lra_valid = false;
  bool reserved = false;  // RT
  bool blank = false;
  bool packet = false;
  bool fixed_packet = false;
  uint8_t track_mode = 4;
  uint8_t data_mode = 1;
  bool operator==(const TrackInfo&) const = default;
};

// Tracks 1..n: the closed and reserved ones, then the invisible track while
// the disc can grow; overwritable media have one track over the whole disc.
std::vector<TrackInfo> TrackInfos(const Disc& disc);
// The CD lead-in as "track 0".
TrackInfo LeadInTrackInfo(const Disc& disc);

// What READ DISC INFORMATION says about the disc as a whole.
struct DiscSummary {
  uint8_t status = 0;              // 0 empty, 1 appendable, 2 complete, 3 other
  uint8_t last_session_state = 0;  // 0 empty, 1 incomplete, 3 complete
  bool erasable = false;
  uint16_t sessions = 1;
  uint16_t first_track_last_session = 1;
  uint16_t last_track_last_session = 1;
  uint8_t disc_type = 0;
  uint8_t background_format = 0;
  uint32_t lead_in_field = 0;   // as sent: 00 M S F on CD, an LBA on DVD, FFFFFFFFh complete
  uint32_t lead_out_field = 0;
};
DiscSummary Summarize(const Disc& disc);

// READ CAPACITY: the last LBA of the last complete session (0 without one).
uint32_t ReadCapacityLastLba(const Disc& disc);
// The first block of [lba, lba + count) that cannot be read, or lba + count.
uint32_t FirstUnreadable(const Disc& disc, uint32_t lba, uint32_t count);
// One past the highest block the disc holds, for the exported image.
uint32_t RecordedEnd(const Disc& disc);

}  // namespace fornax::sim
