#include "simdrive/state_check.h"

#include <algorithm>

#include "simdrive/disc_model.h"
#include "simdrive/format_unit.h"
#include "simdrive/mode_pages.h"
#include "simdrive/write_buffer.h"

namespace fornax::sim {
namespace {

// Instants are wall-clock milliseconds; this one lies thousands of years
// ahead, and an instant plus any duration below stays far from overflow.
constexpr int64_t kLatestMs = int64_t{1} << 47;
// The longest operation: a duration of the control interface (an int of
// milliseconds) and the buffer drained at 1 kB/s on top.
constexpr int64_t kLongestMs = int64_t{1} << 32;
// The buffer holds at most its size, or one WRITE (10) larger than that
// taken into an empty buffer.
constexpr uint64_t kMaxBufferFill = std::max<uint64_t>(kBufferBytes, uint64_t{0xFFFF} * 2048);
// Track numbers are 16 bits in the answers, the invisible track included.
constexpr size_t kMaxTracks = 0xFFFE;
constexpr size_t kMaxCueTracks = 99;
constexpr uint32_t kPastUsableEnd = geometry::kCdMinimumTrack + geometry::kCdRunOut + geometry::kCdPreGap;

std::string Why(std::string_view key, const std::string& what) { return std::string(key) + ": " + what; }
std::string Num(uint64_t n) { return std::to_string(n); }
std::string SignedNum(int64_t n) { return std::to_string(n); }

bool InstantFits(int64_t ms) { return ms >= 0 && ms <= kLatestMs; }

std::string IdentityFault(const Identity& id) {
  const std::pair<const char*, const std::string*> fields[] = {
      {"identity.vendor", &id.vendor}, {"identity.product", &id.product}, {"identity.revision", &id.revision}};
  for (const auto& [key, text] : fields)
    if (!IsPlainText(*text, kMaxIdentityBytes))
      return Why(key, "not printable ASCII of at most " + Num(kMaxIdentityBytes) + " characters");
  return {};
}

// Bytes 0 and 1 never change, and MODE SELECT changes only the bits the
// changeable page shows, starting from the default page.
std::string Page05Fault(const std::array<uint8_t, kPage05Bytes>& page) {
  const auto start = DefaultPage05();
  const auto mask = WriteParametersChangeable();
  for (int i = 0; i < kPage05Bytes; ++i) {
    const uint8_t fixed = i < 2 ? 0xFF : static_cast<uint8_t>(~mask[i]);
    if (((page[i] ^ start[i]) & fixed) != 0)
      return Why("page05", "byte " + std::to_string(i) + " holds bits no host can set");
  }
  return {};
}

std::string FaultListFault(const Faults& f) {
  if (f.busy_commands < 0) return Why("fault.busy", "a negative number of commands");
  if (f.write_errors.size() > kMaxFaultEntries)
    return Why("fault.write-error", Num(f.write_errors.size()) + " entries, more than " + Num(kMaxFaultEntries));
  for (const WriteFault& w : f.write_errors)
    if (w.key == 0 || w.key > 0x0F || w.remaining < 0)
      return Why("fault.write-error", "at " + Num(w.lba) + " a sense key outside 1-Fh or a negative count");
  if (f.read_errors.size() > kMaxFaultEntries)
    return Why("fault.read-error", Num(f.read_errors.size()) + " entries, more than " + Num(kMaxFaultEntries));
  for (const ReadFault& r : f.read_errors)
    if (r.count == 0 || r.remaining < 0)
      return Why("fault.read-error", "at " + Num(r.lba) + " no block or a negative count");
  // Armed with a signal to raise, or spent: nothing left of it.
  const bool armed = f.signal_countdown > 0 && f.signal_number > 0 && f.signal_number < 65;
  const bool spent = f.signal_countdown == 0 && f.signal_number == 0 && f.signal_opcode == 0;
  if (!armed && !spent) return Why("fault.signal", "neither armed with a signal nor spent");
  if (!InstantFits(f.not_ready_until_ms)) return Why("fault.not-ready-until", "not a time the clock shows");
  if (f.write_speed_kbps < 0) return Why("fault.write-speed", "a negative speed");
  return {};
}

std::string TimingFault(const DriveState& s) {
  const Durations& d = s.durations;
  if (d.blank_ms < 0 || d.format_ms < 0 || d.close_ms < 0) return Why("durations", "a negative duration");
  if (d.opc_ms < 0) return Why("duration.opc", "a negative duration");
  const Operation& op = s.operation;
  if (op.kind == OperationKind::kNone ? op.start_ms != 0 || op.duration_ms != 0
                                      : !InstantFits(op.start_ms) || op.duration_ms <= 0 || op.duration_ms > kLongestMs)
    return Why("operation", "a start or duration no operation has");
  const WriteBuffer& b = s.buffer;
  // At speed 0 the buffer is always empty.
  if (s.faults.write_speed_kbps == 0 ? !(b == WriteBuffer{})
                                     : b.fill_bytes > kMaxBufferFill || b.at_us < 0 || b.at_us > kLatestMs * 1000)
    return Why("buffer", "a fill or time the write buffer cannot have");
  return {};
}

std::string DriveFault(const DriveState& s) {
  if (std::string why = IdentityFault(s.identity); !why.empty()) return why;
  if (std::string why = Page05Fault(s.page05); !why.empty()) return why;
  if (std::string why = FaultListFault(s.faults); !why.empty()) return why;
  if (std::string why = TimingFault(s); !why.empty()) return why;
  if (s.border_gap > kMaxBorderGap) return Why("border-gap", Num(s.border_gap) + " blocks, more than a whole DVD-R");
  // Only a medium in a closed tray can have changed for the host.
  if (s.unit_attention && !s.MediumReachable()) return Why("unit-attention", "set without a medium in a closed tray");
  if (!IsPlainText(s.refused_state, kMaxNoteBytes)) return Why("refused-state", "not a printable line");
  return {};
}

// Media without tracks: DVD+RW, DVD-RAM and DVD-RW in restricted overwrite.
std::string OverwritableFault(const Disc& d) {
  if (!d.tracks.empty()) return Why("track", "a track on " + std::string(MediumName(d.kind, d.restricted_overwrite)));
  if (d.open_start != 0 || d.open_recorded != 0 || d.open_cd_mode != 4)
    return Why("disc.open", "an invisible track on a medium without tracks");
  if (d.closed_sessions != 0) return Why("disc.closed-sessions", "sessions on a medium without tracks");
  if (d.complete) return Why("disc.complete", "set on an overwritable medium");
  if (!(d.cue == CueSheet{})) return Why("cue", "a cue sheet on a DVD");
  if (d.disc_type != 0) return Why("disc.type", "a CD session format on a DVD");
  if (d.test_offset != 0) return Why("disc.test-offset", "a test write on a medium that has none");
  const bool restricted = d.kind == MediumKind::kDvdRw;
  if (d.kind == MediumKind::kDvdPlusRw) {
    if (d.formatted_blocks != (d.formatted ? geometry::kDvdPlus : 0))
      return Why("disc.formatted", Num(d.formatted_blocks) + " blocks, not the size of a DVD+RW format");
  } else if (!d.formatted) {
    return Why("disc.formatted", "an unformatted " + std::string(MediumName(d.kind, d.restricted_overwrite)));
  } else if (restricted) {
    if (d.formatted_blocks > geometry::kDvdRw)
      return Why("disc.formatted", Num(d.formatted_blocks) + " blocks, beyond the medium");
  } else {
    const auto offered = OfferedFormats(d);
    if (std::none_of(offered.begin(), offered.end(),
                     [&](const FormatDescriptor& f) { return f.blocks == d.formatted_blocks; }))
      return Why("disc.formatted", Num(d.formatted_blocks) + " blocks, not a size DVD-RAM is formatted to");
  }
  if ((d.intermediate || d.grow_nwa != 0) && (!restricted || d.grow_nwa > geometry::kDvdRw))
    return Why("disc.intermediate", "a growing end beyond the medium, or on a medium that does not grow");
  if (d.background != BackgroundFormat::kNone
          ? d.kind != MediumKind::kDvdPlusRw || !d.formatted || !InstantFits(d.background_end_ms)
          : d.background_end_ms != 0)
    return Why("disc.background", "a background format other than on a formatted DVD+RW");
  const uint32_t readable_end = d.intermediate ? d.grow_nwa : d.formatted_blocks;
  if (d.written_end > readable_end)
    return Why("disc.written-end", Num(d.written_end) + ", beyond the " + Num(readable_end) + " blocks recorded");
  return {};
}

// Tracks in disc order without overlaps, each within the medium, sessions
// numbered on from 1 without a gap; only the last session, still open, may
// hold a reserved track that is not yet full.
std::string TrackFault(const Disc& d) {
  if (d.tracks.size() > kMaxTracks) return Why("track", Num(d.tracks.size()) + " tracks, more than " + Num(kMaxTracks));
  const uint64_t limit = AddressLimit(d);
  uint64_t previous_end = 0;
  uint32_t previous_session = 1;
  for (size_t i = 0; i < d.tracks.size(); ++i) {
    const Track& t = d.tracks[i];
    const std::string key = "track " + Num(i + 1);
    const uint64_t end = uint64_t{t.start} + t.size;
    if (t.size == 0 || t.recorded > t.size || end > limit)
      return Why(key, "start " + Num(t.start) + ", " + Num(t.size) + " blocks, " + Num(t.recorded) +
                          " recorded: empty, overfull or beyond the medium");
    if (t.start < previous_end) return Why(key, "starts at " + Num(t.start) + ", inside the track before it");
    if (t.session < previous_session || t.session > previous_session + 1 || (i == 0 && t.session != 1))
      return Why(key, "session " + Num(t.session) + " does not follow session " + Num(previous_session));
    if (t.cd_mode > 0x0F) return Why(key, "track mode " + Num(t.cd_mode) + " beyond 4 bits");
    const bool open_reserved = t.reserved && !t.closed && t.recorded < t.size;
    if (!t.closed && (!open_reserved || t.session <= d.closed_sessions || d.complete))
      return Why(key, "left open, but not a reserved track of the session being written");
    previous_end = end;
    previous_session = t.session;
  }
  return {};
}

std::string SessionFault(const Disc& d) {
  const uint32_t last = d.tracks.empty() ? 0 : d.tracks.back().session;
  // Every closed session holds a track; tracks beyond them are the open session's.
  if (d.closed_sessions > last)
    return Why("disc.closed-sessions", Num(d.closed_sessions) + ", but session " + Num(last + 1) + " holds no track");
  if (last > d.closed_sessions + (d.complete ? 0u : 1u))
    return Why("disc.closed-sessions", Num(d.closed_sessions) + ", but a track lies in session " + Num(last));
  if (d.complete && (d.closed_sessions == 0 || d.open_recorded != 0 || d.test_offset != 0 || d.cue.Active()))
    return Why("disc.complete", "a complete disc without a session, or still being written");
  return {};
}

std::string OpenTrackFault(const Disc& d) {
  if (d.open_cd_mode > 0x0F) return Why("disc.open", "track mode " + Num(d.open_cd_mode) + " beyond 4 bits");
  if (d.complete) return {};
  const uint64_t last_end = d.tracks.empty() ? 0 : uint64_t{d.tracks.back().start} + d.tracks.back().size;
  if (d.open_start < last_end || d.open_start > AddressLimit(d))
    return Why("disc.open", "the invisible track starts at " + Num(d.open_start) + ", not after the last track");
  // Writes to the invisible track end within the medium's area.
  if (d.open_recorded > 0 && uint64_t{d.open_start} + d.open_recorded > UsableEnd(d))
    return Why("disc.open",
               Num(d.open_recorded) + " blocks recorded from " + Num(d.open_start) + ", beyond the medium");
  return {};
}

// A session at once announced by SEND CUE SHEET, checked as ParseCueSheet
// builds it: tracks numbered on from the disc's, one after the other from
// the invisible track's start, at least four seconds each, the lead-out
// within the medium, and the writes somewhere between the first block and it.
std::string CueFault(const Disc& d) {
  const CueSheet& c = d.cue;
  if (!c.Active()) {
    if (c.next != 0 || c.lead_out != 0 || c.disc_type != 0) return Why("cue", "without a track");
    return {};
  }
  if (!IsCd(d.kind)) return Why("cue", "a cue sheet on a DVD");
  const bool open_track =
      d.open_recorded > 0 || std::any_of(d.tracks.begin(), d.tracks.end(), [](const Track& t) { return !t.closed; });
  if (open_track) return Why("cue", "a session at once beside a track still being written");
  if (c.tracks.size() > kMaxCueTracks || d.tracks.size() + c.tracks.size() > kMaxCueTracks)
    return Why("cue", "tracks numbered beyond 99");
  int64_t previous_end = int64_t{d.open_start} - geometry::kCdPreGap;
  for (size_t i = 0; i < c.tracks.size(); ++i) {
    const CueTrack& t = c.tracks[i];
    const std::string key = "cue.track " + Num(i + 1);
    if (t.number != d.tracks.size() + 1 + i) return Why(key, "number " + Num(t.number) + " out of sequence");
    if (t.control > 0x0F) return Why(key, "control " + Num(t.control) + " beyond 4 bits");
    const bool placed = i == 0 ? t.start == int64_t{d.open_start} && (t.first == t.start || t.first == previous_end)
                               : t.first == previous_end && t.start >= t.first;
    if (!placed) return Why(key, "does not start where the track before it ends");
    if (int64_t{t.end} - t.start < geometry::kCdMinimumTrack) return Why(key, "shorter than four seconds");
    previous_end = t.end;
  }
  if (c.lead_out != previous_end || c.lead_out > int64_t{UsableEnd(d)})
    return Why("cue", "lead-out at " + SignedNum(c.lead_out) + ", not the end of the last track within the medium");
  if (c.next < c.tracks.front().first || c.next >= c.lead_out)
    return Why("cue", "next block " + SignedNum(c.next) + " outside the session");
  return {};
}

std::string SequentialFault(const Disc& d) {
  if (d.formatted || d.formatted_blocks != 0) return Why("disc.formatted", "a format on a sequential medium");
  if (d.intermediate || d.grow_nwa != 0) return Why("disc.intermediate", "set on a sequential medium");
  if (d.background != BackgroundFormat::kNone || d.background_end_ms != 0)
    return Why("disc.background", "a background format on a sequential medium");
  if (std::string why = SessionFault(d); !why.empty()) return why;
  if (std::string why = TrackFault(d); !why.empty()) return why;
  if (std::string why = OpenTrackFault(d); !why.empty()) return why;
  if (std::string why = CueFault(d); !why.empty()) return why;
  const uint64_t limit = AddressLimit(d);
  if (d.written_end > limit) return Why("disc.written-end", Num(d.written_end) + ", beyond the medium");
  if (d.test_offset > limit) return Why("disc.test-offset", Num(d.test_offset) + ", beyond the medium");
  if (d.disc_type != 0 && !IsCd(d.kind)) return Why("disc.type", "a CD session format on a DVD");
  return {};
}

std::string DiscFault(const Disc& d) {
  if (d.kind == MediumKind::kNone) return d == Disc{} ? std::string() : Why("medium", "none, but a disc is described");
  if (d.restricted_overwrite && d.kind != MediumKind::kDvdRw)
    return Why("disc.restricted-overwrite", "set on " + std::string(MediumName(d.kind, false)));
  if (d.minimally_blanked && !(d.kind == MediumKind::kDvdRw && !d.restricted_overwrite))
    return Why("disc.minimally-blanked", "set on " + std::string(MediumName(d.kind, d.restricted_overwrite)));
  return IsSequential(d) ? SequentialFault(d) : OverwritableFault(d);
}

}  // namespace

bool IsPlainText(std::string_view text, size_t limit) {
  return text.size() <= limit && std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
}

uint64_t AddressLimit(const Disc& disc) {
  if (disc.kind == MediumKind::kNone) return 0;
  if (IsOverwritable(disc)) return OverwriteCapacity(disc);
  // A DVD-R's area is the largest before its first border.
  Disc blank = disc;
  blank.closed_sessions = 0;
  return uint64_t{UsableEnd(blank)} + kPastUsableEnd;
}

std::string StateFault(const DriveState& state) {
  if (std::string why = DriveFault(state); !why.empty()) return why;
  return DiscFault(state.disc);
}

}  // namespace fornax::sim
