#include "simdrive/answers_toc.h"

#include <algorithm>
#include <map>
#include <optional>
#include <span>

#include "simdrive/bytes.h"
#include "simdrive/disc_model.h"

namespace fornax::sim {
namespace {

constexpr uint8_t kLeadOutTrack = 0xAA;
constexpr uint8_t kDvdAdrControl = 0x14;  // ADR 1, data track

void PutAddress(uint8_t* p, uint32_t lba, bool msf) {
  if (msf)
    PutMsfAddress(p, static_cast<int32_t>(lba));
  else
    PutBe32(p, lba);
}

void PutEntry(uint8_t* p, uint8_t number, uint8_t adr_control, uint32_t lba, bool msf) {
  p[1] = adr_control;
  p[2] = number;
  PutAddress(p + 4, lba, msf);
}

Toc CdToc(const Disc& disc) {
  Toc toc;
  uint8_t number = 1;
  for (const Track& t : disc.tracks) {
    if (t.session <= disc.closed_sessions)
      toc.tracks.push_back({number, static_cast<uint8_t>(0x10 | (t.cd_mode & 0x0F)), t.session, t.start});
    ++number;
  }
  toc.lead_out = LastClosedSessionEnd(disc);
  toc.last_session = disc.closed_sessions;
  return toc;
}

// One entry per complete session, at its first track: the tracks come in the
// order of their sessions, so one pass finds each.
Toc SequentialDvdToc(const Disc& disc) {
  Toc toc;
  uint32_t listed = 0;
  for (const Track& t : disc.tracks) {
    if (t.session > disc.closed_sessions || t.session <= listed) continue;
    listed = t.session;
    toc.tracks.push_back({static_cast<uint8_t>(t.session), kDvdAdrControl, t.session, t.start});
  }
  toc.lead_out = LastClosedSessionEnd(disc);
  toc.last_session = disc.closed_sessions;
  return toc;
}

}  // namespace

Toc BuildToc(const Disc& disc) {
  if (disc.kind == MediumKind::kNone) return {};
  if (IsCd(disc.kind)) return CdToc(disc);
  if (IsSequential(disc)) return SequentialDvdToc(disc);
  const DiscSummary summary = Summarize(disc);
  if (summary.last_session_state != 3) return {};
  Toc toc;
  toc.tracks.push_back({1, kDvdAdrControl, 1, 0});
  toc.lead_out = disc.formatted_blocks;
  toc.last_session = 1;
  return toc;
}

std::vector<uint8_t> TocAnswer(const Toc& toc, uint8_t first_track, bool msf, Sense* refusal) {
  if (toc.tracks.empty() || (first_track > toc.tracks.back().number && first_track != kLeadOutTrack)) {
    *refusal = sense::InvalidFieldInCdb(6);
    return {};
  }
  std::vector<const TocTrack*> listed;
  if (first_track != kLeadOutTrack)
    for (const TocTrack& t : toc.tracks)
      if (t.number >= first_track) listed.push_back(&t);
  std::vector<uint8_t> b(4 + 8 * (listed.size() + 1), 0);
  PutBe16(&b[0], static_cast<uint32_t>(b.size() - 2));
  b[2] = toc.tracks.front().number;
  b[3] = toc.tracks.back().number;
  uint8_t* p = &b[4];
  for (const TocTrack* t : listed) {
    PutEntry(p, t->number, t->adr_control, t->start, msf);
    p += 8;
  }
  PutEntry(p, kLeadOutTrack, toc.tracks.back().adr_control, toc.lead_out, msf);
  return b;
}

std::vector<uint8_t> SessionInfoAnswer(const Toc& toc, bool msf, Sense* refusal) {
  if (toc.tracks.empty()) {
    *refusal = sense::InvalidFieldInCdb(2);
    return {};
  }
  auto first = std::find_if(toc.tracks.begin(), toc.tracks.end(),
                            [&](const TocTrack& t) { return t.session == toc.last_session; });
  // Every complete session holds a track (state_check.h); should one not,
  // the answer still names a track that exists.
  if (first == toc.tracks.end()) first = std::prev(toc.tracks.end());
  std::vector<uint8_t> b(12, 0);
  PutBe16(&b[0], 10);
  b[2] = 1;
  b[3] = static_cast<uint8_t>(toc.last_session);
  PutEntry(&b[4], first->number, first->adr_control, first->start, msf);
  return b;
}

std::vector<uint8_t> AtipAnswer(MediumKind kind) {
  std::vector<uint8_t> b(28, 0);
  PutBe16(&b[0], 26);
  b[4] = 0xD2;  // writing power 5, reference speed 2
  b[6] = kind == MediumKind::kCdRw ? 0xC0 : 0x80;
  const Msf lead_in = LbaToMsf(geometry::kCdLeadInStart);
  const Msf lead_out = LbaToMsf(static_cast<int32_t>(geometry::kCdLeadOutStart));
  b[8] = lead_in.m;
  b[9] = lead_in.s;
  b[10] = lead_in.f;
  b[12] = lead_out.m;
  b[13] = lead_out.s;
  b[14] = lead_out.f;
  return b;
}

namespace {

constexpr size_t kFullTocEntryBytes = 11;
constexpr uint8_t kPointFirstTrack = 0xA0;
constexpr uint8_t kPointLastTrack = 0xA1;
constexpr uint8_t kPointLeadOut = 0xA2;
constexpr uint8_t kPointNextSession = 0xB0;
constexpr uint8_t kPointFirstLeadIn = 0xC0;

struct FullTocEntry {
  uint8_t session = 1;
  uint8_t adr_control = 0x14;
  uint8_t point = 0;
  Msf atime;
  uint8_t zero = 0;
  Msf pmsf;
};

void PutFullTocEntry(std::vector<uint8_t>& b, const FullTocEntry& e) {
  const uint8_t bytes[kFullTocEntryBytes] = {e.session, e.adr_control, 0,      e.point,  e.atime.m, e.atime.s,
                                             e.atime.f, e.zero,        e.pmsf.m, e.pmsf.s, e.pmsf.f};
  b.insert(b.end(), bytes, bytes + kFullTocEntryBytes);
}

Sense IllegalForDvd(const Disc& disc) {
  return IsCd(disc.kind) ? sense::kNone : sense::InvalidFieldInCdb(2);
}

// The entries of one complete session: A0, A1, A2, its tracks, then B0 (when
// a next session may follow) and, in session 1, C0.
void PutFullTocSession(std::vector<uint8_t>& b, const Disc& disc, std::span<const TocTrack> tracks, uint32_t end,
                       std::optional<uint32_t> next_session_start) {
  const uint16_t session = tracks.front().session;
  const auto s8 = static_cast<uint8_t>(session);
  const uint8_t control = tracks.front().adr_control;
  PutFullTocEntry(b, {s8, control, kPointFirstTrack, {}, 0, {tracks.front().number, disc.disc_type, 0}});
  PutFullTocEntry(b, {s8, control, kPointLastTrack, {}, 0, {tracks.back().number, 0, 0}});
  PutFullTocEntry(b, {s8, control, kPointLeadOut, {}, 0, LbaToMsf(static_cast<int32_t>(end))});
  for (const TocTrack& t : tracks)
    PutFullTocEntry(b, {s8, t.adr_control, t.number, {}, 0, LbaToMsf(static_cast<int32_t>(t.start))});
  // B0: where the next session's program area starts, when one may follow.
  if (!next_session_start) return;
  const auto adr5 = static_cast<uint8_t>(0x50 | (control & 0x0F));
  const uint8_t pointers = session == 1 ? 2 : 1;
  PutFullTocEntry(b, {s8, adr5, kPointNextSession, LbaToMsf(static_cast<int32_t>(*next_session_start)), pointers,
                      LbaToMsf(static_cast<int32_t>(geometry::kCdLeadOutStart))});
  if (session == 1) PutFullTocEntry(b, {s8, adr5, kPointFirstLeadIn, {}, 0, LbaToMsf(geometry::kCdLeadInStart)});
}

}  // namespace

// The TOC lists the tracks of the complete sessions in order, so a session is
// a run of its entries; the work is one pass over the tracks, whatever the
// numbers in the state.
std::vector<uint8_t> FullTocAnswer(const Disc& disc, uint8_t first_session, Sense* refusal) {
  if (Sense s = IllegalForDvd(disc); !s.Good()) return *refusal = s, std::vector<uint8_t>{};
  const Toc toc = BuildToc(disc);
  if (toc.tracks.empty() || first_session > toc.last_session) {
    *refusal = sense::InvalidFieldInCdb(first_session > toc.last_session ? 6 : 2);
    return {};
  }
  std::map<uint16_t, uint32_t> ends;    // of each session's last track
  std::map<uint16_t, uint32_t> starts;  // of each session's first track
  for (const Track& t : disc.tracks) {
    uint32_t& end = ends[t.session];
    end = std::max(end, TrackEnd(t));
  }
  for (const TocTrack& t : toc.tracks) starts.emplace(t.session, t.start);
  std::vector<uint8_t> b(4, 0);
  b[2] = 1;
  b[3] = static_cast<uint8_t>(toc.last_session);
  const std::span<const TocTrack> all(toc.tracks);
  for (size_t from = 0; from < all.size();) {
    const uint16_t session = all[from].session;
    size_t to = from + 1;
    while (to < all.size() && all[to].session == session) ++to;
    if (session >= first_session) {
      std::optional<uint32_t> next;
      if (session < toc.last_session) {
        const auto later = starts.find(static_cast<uint16_t>(session + 1));
        next = later != starts.end() ? later->second : disc.open_start;
      } else if (!disc.complete) {
        next = disc.open_start;
      }
      PutFullTocSession(b, disc, all.subspan(from, to - from), ends[session], next);
    }
    from = to;
  }
  PutBe16(&b[0], static_cast<uint32_t>(b.size() - 2));
  return b;
}

std::vector<uint8_t> PmaAnswer(const Disc& disc, Sense* refusal) {
  if (Sense s = IllegalForDvd(disc); !s.Good()) return *refusal = s, std::vector<uint8_t>{};
  std::vector<uint8_t> b(4, 0);
  uint8_t number = 1;
  for (const Track& t : disc.tracks) {
    if (t.session > disc.closed_sessions && t.closed) {
      const auto last = static_cast<int32_t>(TrackEnd(t)) - 1;
      PutFullTocEntry(b, {0, static_cast<uint8_t>(0x10 | (t.cd_mode & 0x0F)), number, LbaToMsf(last), 0,
                          LbaToMsf(static_cast<int32_t>(t.start))});
    }
    ++number;
  }
  PutBe16(&b[0], static_cast<uint32_t>(b.size() - 2));
  return b;
}

std::vector<uint8_t> CdTextAnswer(const Disc& disc, Sense* refusal) {
  if (Sense s = IllegalForDvd(disc); !s.Good()) return *refusal = s, std::vector<uint8_t>{};
  return {0x00, 0x02, 0x00, 0x00};
}

}  // namespace fornax::sim
