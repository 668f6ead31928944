#include "simdrive/disc_model.h"

#include <algorithm>

#include "simdrive/bytes.h"

namespace fornax::sim {
namespace {

uint32_t MsfField(int32_t lba) {
  uint8_t b[4];
  PutMsfAddress(b, lba);
  return GetBe32(b);
}

uint8_t DataMode(bool blank) { return blank ? 0x0F : 0x01; }

TrackInfo SequentialTrackInfo(const Disc& disc, const Track& t, uint32_t number) {
  const bool dvd_minus = disc.kind == MediumKind::kDvdR || disc.kind == MediumKind::kDvdRw;
  TrackInfo info;
  info.number = number;
  info.session = t.session;
  info.start = t.start;
  info.size = t.size;
  info.track_mode = IsCd(disc.kind) ? t.cd_mode : 4;
  info.packet = dvd_minus;
  info.packet_size = dvd_minus ? geometry::kEccBlock : 0;
  const bool open = t.reserved && !t.closed;
  info.reserved = open;
  info.blank = t.recorded == 0;
  info.data_mode = DataMode(info.blank);
  if (open) {
    info.nwa_valid = true;
    info.nwa = t.start + t.recorded;
    info.free = t.size > t.recorded ? t.size - t.recorded : 0;
  }
  if (IsDvd(disc.kind) && t.recorded > 0) {
    info.lra_valid = true;
    info.last_recorded = t.start + t.recorded - 1;
  }
  return info;
}

TrackInfo InvisibleTrackInfo(const Disc& disc) {
  const bool dvd_minus = disc.kind == MediumKind::kDvdR || disc.kind == MediumKind::kDvdRw;
  const uint32_t end = UsableEnd(disc);
  TrackInfo info;
  info.number = OpenTrackNumber(disc);
  info.session = static_cast<uint16_t>(disc.closed_sessions + 1);
  info.start = disc.open_start;
  info.nwa_valid = true;
  info.nwa = disc.open_start + disc.open_recorded;
  info.size = end > disc.open_start ? end - disc.open_start : 0;
  info.free = end > info.nwa ? end - info.nwa : 0;
  info.blank = disc.open_recorded == 0;
  info.packet = dvd_minus;
  info.packet_size = dvd_minus ? geometry::kEccBlock : 0;
  info.track_mode = IsCd(disc.kind) ? disc.open_cd_mode : 4;
  info.data_mode = DataMode(info.blank);
  if (IsDvd(disc.kind) && disc.open_recorded > 0) {
    info.lra_valid = true;
    info.last_recorded = info.nwa - 1;
  }
  return info;
}

TrackInfo OverwriteTrackInfo(const Disc& disc) {
  TrackInfo info;
  info.track_mode = 4;
  if (disc.kind == MediumKind::kDvdRw) {
    info.packet = info.fixed_packet = true;
    info.packet_size = geometry::kEccBlock;
  }
  if (disc.kind == MediumKind::kDvdPlusRw && !disc.formatted) {
    info.blank = true;
    info.size = info.free = OverwriteCapacity(disc);
  } else if (disc.intermediate) {
    info.blank = disc.grow_nwa == 0;
    info.nwa_valid = true;
    info.nwa = info.size = disc.grow_nwa;
    info.free = OverwriteCapacity(disc) > disc.grow_nwa ? OverwriteCapacity(disc) - disc.grow_nwa : 0;
  } else {
    info.size = disc.formatted_blocks;
  }
  info.data_mode = DataMode(info.blank);
  return info;
}

uint32_t OverwriteReadableEnd(const Disc& disc) {
  if (disc.kind == MediumKind::kDvdPlusRw && !disc.formatted) return 0;
  if (disc.intermediate) return disc.grow_nwa;
  return disc.formatted_blocks;
}

DiscSummary SummarizeOverwritable(const Disc& disc) {
  DiscSummary s;
  s.erasable = true;
  s.lead_out_field = OverwriteCapacity(disc);
  if (disc.kind == MediumKind::kDvdRam) {
    s.status = 3;
    s.last_session_state = 3;
  } else if (disc.kind == MediumKind::kDvdPlusRw && !disc.formatted) {
    s.status = 0;
    s.last_session_state = 0;
  } else if (disc.intermediate) {
    s.status = 1;
    s.last_session_state = 1;
  } else {
    s.status = 2;
    s.last_session_state = 3;
  }
  if (disc.kind == MediumKind::kDvdPlusRw) {
    switch (disc.background) {
      case BackgroundFormat::kNone: s.background_format = 0; break;
      case BackgroundFormat::kSuspended: s.background_format = 1; break;
      case BackgroundFormat::kRunning: s.background_format = 2; break;
      case BackgroundFormat::kDone: s.background_format = 3; break;
    }
  }
  return s;
}

uint32_t SequentialLeadIn(const Disc& disc) {
  const uint32_t end = LastClosedSessionEnd(disc);
  if (IsCd(disc.kind)) {
    if (disc.closed_sessions == 0) return MsfField(geometry::kCdLeadInStart);
    const uint32_t lead_out = disc.closed_sessions == 1 ? geometry::kCdFirstLeadOut
                                                        : geometry::kCdLaterLeadOut;
    return MsfField(static_cast<int32_t>(end + lead_out));
  }
  // DVD: where the gap before the next session begins.
  return disc.closed_sessions == 0 ? 0 : end;
}

DiscSummary SummarizeSequential(const Disc& disc) {
  DiscSummary s;
  s.erasable = IsRewritable(disc.kind);
  const auto track_count = static_cast<uint16_t>(disc.tracks.size());
  if (disc.complete) {
    s.status = 2;
    s.last_session_state = 3;
    s.sessions = disc.closed_sessions;
    s.first_track_last_session = static_cast<uint16_t>(FirstTrackOfSession(disc, disc.closed_sessions));
    s.last_track_last_session = track_count;
    s.lead_in_field = s.lead_out_field = 0xFFFFFFFF;
    s.disc_type = 0x00;
    return s;
  }
  s.status = HasAnyData(disc) ? 1 : 0;
  s.last_session_state = CurrentSessionHasData(disc) ? 1 : 0;
  s.sessions = static_cast<uint16_t>(disc.closed_sessions + 1);
  s.first_track_last_session = static_cast<uint16_t>(FirstTrackOfSession(disc, s.sessions));
  s.last_track_last_session = static_cast<uint16_t>(OpenTrackNumber(disc));
  s.lead_in_field = SequentialLeadIn(disc);
  s.lead_out_field = IsCd(disc.kind) ? MsfField(geometry::kCdLeadOutStart) : UsableEnd(disc);
  s.disc_type = IsCd(disc.kind) && disc.closed_sessions == 0 ? 0xFF : 0x00;
  return s;
}

}  // namespace

bool IsSequential(const Disc& disc) {
  switch (disc.kind) {
    case MediumKind::kCdR:
    case MediumKind::kCdRw:
    case MediumKind::kDvdR:
    case MediumKind::kDvdPlusR:
    case MediumKind::kDvdPlusRDl: return true;
    case MediumKind::kDvdRw: return !disc.restricted_overwrite;
    default: return false;
  }
}

bool IsOverwritable(const Disc& disc) {
  return disc.kind != MediumKind::kNone && !IsSequential(disc);
}

uint32_t UsableEnd(const Disc& disc) {
  switch (disc.kind) {
    case MediumKind::kCdR:
    case MediumKind::kCdRw: return geometry::kCdLeadOutStart;
    case MediumKind::kDvdR:
      return disc.closed_sessions == 0 ? geometry::kDvdRBlank : geometry::kDvdRBordered;
    case MediumKind::kDvdRw: return geometry::kDvdRw;
    case MediumKind::kDvdPlusR: return geometry::kDvdPlus;
    case MediumKind::kDvdPlusRDl: return geometry::kDvdPlusRDl;
    default: return OverwriteCapacity(disc);
  }
}

uint32_t OverwriteCapacity(const Disc& disc) {
  switch (disc.kind) {
    case MediumKind::kDvdPlusRw: return geometry::kDvdPlus;
    case MediumKind::kDvdRam: return disc.formatted_blocks;
    case MediumKind::kDvdRw: return geometry::kDvdRw;
    default: return 0;
  }
}

uint32_t OpenTrackNumber(const Disc& disc) { return static_cast<uint32_t>(disc.tracks.size()) + 1; }

uint32_t LastClosedSessionEnd(const Disc& disc) {
  uint32_t end = 0;
  for (const Track& t : disc.tracks)
    if (t.session <= disc.closed_sessions) end = std::max(end, TrackEnd(t));
  return end;
}

uint32_t FirstTrackOfSession(const Disc& disc, uint16_t session) {
  uint32_t number = 1;
  for (const Track& t : disc.tracks) {
    if (t.session >= session) break;
    ++number;
  }
  return number;
}

bool CurrentSessionHasData(const Disc& disc) {
  if (disc.open_recorded > 0) return true;
  return std::any_of(disc.tracks.begin(), disc.tracks.end(),
                     [&](const Track& t) { return t.session > disc.closed_sessions; });
}

bool HasAnyData(const Disc& disc) { return !disc.tracks.empty() || disc.open_recorded > 0; }

std::vector<TrackInfo> TrackInfos(const Disc& disc) {
  std::vector<TrackInfo> infos;
  if (disc.kind == MediumKind::kNone) return infos;
  if (IsOverwritable(disc)) {
    infos.push_back(OverwriteTrackInfo(disc));
    return infos;
  }
  uint32_t number = 1;
  for (const Track& t : disc.tracks) infos.push_back(SequentialTrackInfo(disc, t, number++));
  if (!disc.complete) infos.push_back(InvisibleTrackInfo(disc));
  return infos;
}

TrackInfo LeadInTrackInfo(const Disc& disc) {
  TrackInfo info;
  info.number = 0;
  info.session = 1;
  info.start = static_cast<uint32_t>(geometry::kCdLeadInStart);
  info.size = static_cast<uint32_t>(-geometry::kCdLeadInStart - static_cast<int32_t>(geometry::kCdPreGap));
  info.blank = !HasAnyData(disc);
  info.data_mode = DataMode(info.blank);
  return info;
}

DiscSummary Summarize(const Disc& disc) {
  return IsOverwritable(disc) ? SummarizeOverwritable(disc) : SummarizeSequential(disc);
}

uint32_t ReadCapacityLastLba(const Disc& disc) {
  if (IsSequential(disc)) {
    const uint32_t end = LastClosedSessionEnd(disc);
    return end > 0 ? end - 1 : 0;
  }
  const uint32_t end = OverwriteReadableEnd(disc);
  return end > 0 ? end - 1 : 0;
}

uint32_t FirstUnreadable(const Disc& disc, uint32_t lba, uint32_t count) {
  const uint64_t want_end = static_cast<uint64_t>(lba) + count;
  if (IsOverwritable(disc)) {
    const uint32_t end = OverwriteReadableEnd(disc);
    return want_end <= end ? static_cast<uint32_t>(want_end) : std::max(lba, end);
  }
  struct Range {
    uint64_t from, to;
  };
  std::vector<Range> ranges;
  ranges.reserve(disc.tracks.size() + 1);
  for (const Track& t : disc.tracks)
    ranges.push_back({t.start, uint64_t{t.start} + (t.closed ? t.size : t.recorded)});
  if (!disc.complete) ranges.push_back({disc.open_start, uint64_t{disc.open_start} + disc.open_recorded});
  // One sweep over the readable ranges in address order, however many.
  std::sort(ranges.begin(), ranges.end(), [](const Range& a, const Range& b) { return a.from < b.from; });
  uint64_t at = lba;
  for (const Range& r : ranges) {
    if (at >= want_end || r.from > at) break;
    at = std::max(at, r.to);
  }
  return static_cast<uint32_t>(std::min(at, want_end));
}

uint32_t RecordedEnd(const Disc& disc) {
  if (IsOverwritable(disc)) return disc.written_end;
  uint32_t end = disc.complete ? 0 : disc.open_start + disc.open_recorded;
  if (disc.open_recorded == 0) end = 0;
  for (const Track& t : disc.tracks)
    end = std::max(end, t.start + (t.closed ? t.size : t.recorded));
  return end;
}

}  // namespace fornax::sim
