#include "simdrive/cue_sheet.h"

#include <climits>
#include <vector>

#include "simdrive/bytes.h"
#include "simdrive/disc_model.h"
#include "simdrive/sequential_recording.h"

namespace fornax::sim {
namespace {

constexpr size_t kEntryBytes = 8;
constexpr uint8_t kLeadIn = 0x00;
constexpr uint8_t kLeadOut = 0xAA;
constexpr uint8_t kLastTrackNumber = 99;
constexpr int32_t kPreGap = static_cast<int32_t>(geometry::kCdPreGap);

struct TimePoint {
  uint8_t control = 0;
  uint8_t track = 0;
  uint8_t index = 0;
  uint8_t form = 0;
  int32_t lba = 0;
};

bool Generated(uint8_t form) { return form == cue_form::kAudioPause || form == cue_form::kDataPause; }

}  // namespace

Sense ParseCueSheet(const Disc& disc, std::span<const uint8_t> sheet, CueSheet* cue) {
  const Sense bad = sense::kInvalidFieldInParameters;
  if (sheet.empty() || sheet.size() % kEntryBytes != 0) return bad;
  std::vector<TimePoint> points;
  for (size_t at = 0; at < sheet.size(); at += kEntryBytes) {
    const uint8_t* e = &sheet[at];
    const uint8_t adr = e[0] & 0x0F;
    if (adr == 2 || adr == 3) continue;  // MCN, ISRC: sub-channel only
    if (adr != 1) return bad;
    // Sub-channel data and CD-TEXT in the lead-in (form bits 7-6) are not taken.
    if (e[3] & 0xC0) return bad;
    if (e[6] >= 60 || e[7] >= 75) return bad;
    TimePoint p;
    p.control = static_cast<uint8_t>(e[0] >> 4);
    p.track = e[1];
    p.index = e[2];
    p.form = e[3];
    p.lba = MsfToLba(Msf{e[5], e[6], e[7]});
    points.push_back(p);
  }
  // Lead-in first, lead-out last, tracks between.
  if (points.size() < 3 || points.front().track != kLeadIn || points.back().track != kLeadOut) return bad;
  if (!Generated(points.front().form) || !Generated(points.back().form)) return bad;
  CueSheet out;
  out.lead_out = points.back().lba;
  const auto first_number = OpenTrackNumber(disc);
  int32_t previous = INT32_MIN;
  for (size_t i = 1; i + 1 < points.size(); ++i) {
    const TimePoint& p = points[i];
    if (p.form != cue_form::kMode1) return bad;  // 2048-byte data blocks only
    if (p.lba < -kPreGap || p.lba < previous) return bad;
    previous = p.lba;
    const bool new_track = out.tracks.empty() || p.track != out.tracks.back().number;
    if (new_track) {
      const uint32_t expected = out.tracks.empty() ? first_number : out.tracks.back().number + 1u;
      if (p.track != expected || p.track > kLastTrackNumber || p.index > 1) return bad;
      if (!out.tracks.empty()) {
        CueTrack& last = out.tracks.back();
        if (last.start == INT32_MIN) return bad;  // the previous track had no INDEX 1
        last.end = p.lba;
      }
      CueTrack t;
      t.number = p.track;
      t.control = p.control;
      t.first = p.lba;
      t.start = p.index == 1 ? p.lba : INT32_MIN;  // INDEX 0: the pre-gap first
      out.tracks.push_back(t);
      continue;
    }
    CueTrack& t = out.tracks.back();
    const uint8_t expected_index = t.start == INT32_MIN ? 1 : 2;
    if (p.index < expected_index || p.index > kLastTrackNumber) return bad;
    if (p.index == 1) {
      t.start = p.lba;
      t.control = p.control;  // the track's CTL is that of its start
    }
  }
  if (out.tracks.empty() || out.tracks.back().start == INT32_MIN) return bad;
  if (out.lead_out < previous) return bad;
  out.tracks.back().end = out.lead_out;
  // Track 1 of the session where the disc's next track starts; its pre-gap,
  // when announced, the 150 blocks before it.
  const auto session_start = static_cast<int32_t>(disc.open_start);
  const CueTrack& first = out.tracks.front();
  if (first.start != session_start || (first.first != first.start && first.first != session_start - kPreGap))
    return bad;
  for (const CueTrack& t : out.tracks)
    if (t.end - t.start < static_cast<int32_t>(geometry::kCdMinimumTrack)) return bad;
  if (out.lead_out > static_cast<int32_t>(UsableEnd(disc))) return bad;
  out.next = first.first;
  *cue = std::move(out);
  return sense::kNone;
}

void FinishSessionAtOnce(Disc& disc, uint8_t multisession, uint32_t border_gap) {
  const auto session = static_cast<uint16_t>(disc.closed_sessions + 1);
  for (const CueTrack& c : disc.cue.tracks) {
    Track t;
    t.start = static_cast<uint32_t>(c.start);
    t.size = t.recorded = static_cast<uint32_t>(c.end - c.start);
    t.session = session;
    t.closed = true;
    t.cd_mode = c.control;
    disc.tracks.push_back(t);
  }
  disc.disc_type = disc.cue.disc_type;
  disc.cue = CueSheet{};
  CloseSequentialSession(disc, multisession, border_gap);
}

}  // namespace fornax::sim
