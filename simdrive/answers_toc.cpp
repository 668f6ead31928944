#include "simdrive/answers_toc.h"

#include <algorithm>

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

Toc SequentialDvdToc(const Disc& disc) {
  Toc toc;
  for (uint16_t s = 1; s <= disc.closed_sessions; ++s) {
    auto first = std::find_if(disc.tracks.begin(), disc.tracks.end(),
                              [&](const Track& t) { return t.session == s; });
    if (first == disc.tracks.end()) continue;
    toc.tracks.push_back({static_cast<uint8_t>(s), kDvdAdrControl, s, first->start});
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

}  // namespace

std::vector<uint8_t> FullTocAnswer(const Disc& disc, uint8_t first_session, Sense* refusal) {
  if (Sense s = IllegalForDvd(disc); !s.Good()) return *refusal = s, std::vector<uint8_t>{};
  const Toc toc = BuildToc(disc);
  if (toc.tracks.empty() || first_session > toc.last_session) {
    *refusal = sense::InvalidFieldInCdb(first_session > toc.last_session ? 6 : 2);
    return {};
  }
  std::vector<uint8_t> b(4, 0);
  b[2] = 1;
  b[3] = static_cast<uint8_t>(toc.last_session);
  for (uint16_t session = std::max<uint16_t>(first_session, 1); session <= toc.last_session; ++session) {
    std::vector<const TocTrack*> tracks;
    uint32_t end = 0;
    for (size_t i = 0; i < toc.tracks.size(); ++i) {
      if (toc.tracks[i].session != session) continue;
      tracks.push_back(&toc.tracks[i]);
    }
    for (const Track& t : disc.tracks)
      if (t.session == session) end = std::max(end, TrackEnd(t));
    if (tracks.empty()) continue;
    const auto s8 = static_cast<uint8_t>(session);
    const uint8_t control = tracks.front()->adr_control;
    PutFullTocEntry(b, {s8, control, kPointFirstTrack, {}, 0, {tracks.front()->number, disc.disc_type, 0}});
    PutFullTocEntry(b, {s8, control, kPointLastTrack, {}, 0, {tracks.back()->number, 0, 0}});
    PutFullTocEntry(b, {s8, control, kPointLeadOut, {}, 0, LbaToMsf(static_cast<int32_t>(end))});
    for (const TocTrack* t : tracks)
      PutFullTocEntry(b, {s8, t->adr_control, t->number, {}, 0, LbaToMsf(static_cast<int32_t>(t->start))});
    // B0: where the next session's program area starts, when one may follow.
    const bool later_session = session < toc.last_session;
    if (later_session || !disc.complete) {
      uint32_t next = disc.open_start;
      if (later_session)
        for (const TocTrack& t : toc.tracks)
          if (t.session == session + 1) {
            next = t.start;
            break;
          }
      const auto adr5 = static_cast<uint8_t>(0x50 | (control & 0x0F));
      const uint8_t pointers = session == 1 ? 2 : 1;
      PutFullTocEntry(b, {s8, adr5, kPointNextSession, LbaToMsf(static_cast<int32_t>(next)), pointers,
                          LbaToMsf(static_cast<int32_t>(geometry::kCdLeadOutStart))});
      if (session == 1)
        PutFullTocEntry(b, {s8, adr5, kPointFirstLeadIn, {}, 0, LbaToMsf(geometry::kCdLeadInStart)});
    }
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
