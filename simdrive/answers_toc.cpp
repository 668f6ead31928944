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
      toc.tracks.push_back({number, static_cast<uint8_t>(0x10 | (t.cd_mode == 5 ? 5 : 4)), t.session, t.start});
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

}  // namespace fornax::sim
