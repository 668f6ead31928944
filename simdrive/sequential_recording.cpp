#include "simdrive/sequential_recording.h"

#include <algorithm>

#include "simdrive/disc_model.h"

namespace fornax::sim {
namespace {

uint64_t RoundUpToEcc(uint64_t blocks) {
  return (blocks + geometry::kEccBlock - 1) / geometry::kEccBlock * geometry::kEccBlock;
}

bool IsDvdMinus(const Disc& disc) {
  return disc.kind == MediumKind::kDvdR || disc.kind == MediumKind::kDvdRw;
}

// What separates a closed track from the next one of the same session.
uint32_t TrackGap(const Disc& disc) {
  if (IsCd(disc.kind)) return geometry::kCdPreGap;
  if (IsDvdMinus(disc)) return geometry::kDvdLinkGap;
  return 0;
}

// The length a track ends with once closed: a CD track gets its two run-out
// blocks (and is padded to four seconds), DVD tracks end on an ECC block.
uint32_t ClosedLength(const Disc& disc, uint32_t recorded) {
  if (IsCd(disc.kind)) return std::max(recorded, geometry::kCdMinimumTrack) + geometry::kCdRunOut;
  return static_cast<uint32_t>(RoundUpToEcc(recorded));
}

Track* FindTrack(Disc& disc, uint32_t number) {
  if (number == 0 || number > disc.tracks.size()) return nullptr;
  return &disc.tracks[number - 1];
}

void EndOpenTrack(Disc& disc) {
  Track t;
  t.start = disc.open_start;
  t.recorded = disc.open_recorded;
  t.size = ClosedLength(disc, disc.open_recorded);
  t.session = static_cast<uint16_t>(disc.closed_sessions + 1);
  t.closed = true;
  t.cd_mode = disc.open_cd_mode;
  disc.tracks.push_back(t);
  disc.open_start = TrackEnd(t) + TrackGap(disc);
  disc.open_recorded = 0;
}

void MakeComplete(Disc& disc) {
  disc.complete = true;
  disc.open_recorded = 0;
  disc.test_offset = 0;
}

// The first block of the next session, or 0 when the disc is to be complete.
uint32_t NextSessionStart(const Disc& disc, uint8_t multisession, uint32_t border_gap) {
  const uint32_t end = LastClosedSessionEnd(disc);
  switch (disc.kind) {
    case MediumKind::kCdR:
    case MediumKind::kCdRw:
      if (multisession != 3) return 0;
      return end + (disc.closed_sessions == 1 ? geometry::kCdFirstSessionGap
                                              : geometry::kCdLaterSessionGap);
    case MediumKind::kDvdR:
    case MediumKind::kDvdRw: return multisession == 3 ? end + border_gap : 0;
    case MediumKind::kDvdPlusRDl:
      if (disc.closed_sessions >= geometry::kDvdPlusRDlSessionLimit) return 0;
      if (end + geometry::kDvdPlusSessionGap + geometry::kDvdPlusRDlMinimumRoom > UsableEnd(disc))
        return 0;
      return end + geometry::kDvdPlusSessionGap;
    default: return end + geometry::kDvdPlusSessionGap;
  }
}

// Why the current session cannot be closed yet: a track still open.
Sense OpenTrackRefusal(const Disc& disc) {
  if (disc.open_recorded > 0) return sense::kSessionFixationIncompleteTrack;
  for (const Track& t : disc.tracks)
    if (t.session > disc.closed_sessions && !t.closed) return sense::kReservedTrackNotFull;
  return sense::kNone;
}

}  // namespace

Sense CheckSequentialWrite(const Disc& disc, uint32_t lba, uint32_t count) {
  if (disc.complete) return sense::kCannotWriteMedium;
  const uint64_t end = static_cast<uint64_t>(lba) + count;
  if (lba == disc.open_start + disc.open_recorded) {
    const uint32_t usable = UsableEnd(disc);
    if (end > usable) return sense::LbaOutOfRange(std::max(lba, usable));
    return sense::kNone;
  }
  for (const Track& t : disc.tracks) {
    if (!t.reserved || t.closed || lba != t.start + t.recorded) continue;
    return end > TrackEnd(t) ? sense::kInvalidAddressForWrite : sense::kNone;
  }
  return sense::kInvalidAddressForWrite;
}

void RecordSequentialWrite(Disc& disc, uint32_t lba, uint32_t count, uint8_t cd_mode) {
  disc.written_end = std::max(disc.written_end, lba + count);
  if (lba == disc.open_start + disc.open_recorded) {
    if (disc.open_recorded == 0) disc.open_cd_mode = cd_mode;
    disc.open_recorded += count;
    return;
  }
  for (Track& t : disc.tracks) {
    if (!t.reserved || t.closed || lba != t.start + t.recorded) continue;
    t.recorded += count;
    // A reserved track that is full is complete without a CLOSE TRACK.
    if (t.recorded == t.size) t.closed = true;
    return;
  }
}

void FlushSequential(Disc& disc) {
  if (IsCd(disc.kind) && !disc.complete && disc.open_recorded > 0) EndOpenTrack(disc);
}

Sense CloseSequentialTrack(Disc& disc, uint32_t number) {
  if (!disc.complete && number == OpenTrackNumber(disc)) {
    if (disc.open_recorded > 0) EndOpenTrack(disc);
    return sense::kNone;  // closing the blank invisible track does nothing
  }
  Track* t = FindTrack(disc, number);
  if (t == nullptr) return sense::InvalidFieldInCdb(4);
  t->closed = true;  // a reserved track is padded to its reserved size
  return sense::kNone;
}

Sense CloseSequentialSession(Disc& disc, uint8_t multisession, uint32_t border_gap) {
  if (disc.complete) return sense::kCannotWriteMedium;
  if (Sense refusal = OpenTrackRefusal(disc); !refusal.Good()) return refusal;
  if (!CurrentSessionHasData(disc)) return sense::kNone;  // an empty session: nothing to close
  ++disc.closed_sessions;
  disc.test_offset = 0;
  const uint32_t next = NextSessionStart(disc, multisession, border_gap);
  if (next == 0 || next >= UsableEnd(disc)) {
    MakeComplete(disc);
    return sense::kNone;
  }
  disc.open_start = next;
  disc.open_recorded = 0;
  return sense::kNone;
}

Sense FinalizeSequential(Disc& disc) {
  if (disc.complete) return sense::kNone;
  if (Sense refusal = OpenTrackRefusal(disc); !refusal.Good()) return refusal;
  if (!HasAnyData(disc)) return sense::kNone;
  if (CurrentSessionHasData(disc)) ++disc.closed_sessions;
  MakeComplete(disc);
  return sense::kNone;
}

Sense ReserveSequentialTrack(Disc& disc, uint32_t blocks) {
  if (disc.complete) return sense::kCannotWriteMedium;
  if (blocks == 0) return sense::InvalidFieldInCdb(5);
  if (disc.open_recorded > 0) return sense::kCommandSequenceError;
  // Counted in 64 bits: rounding a count near 2^32 up to an ECC block must
  // not wrap to an empty track.
  const uint64_t size = IsDvd(disc.kind) ? RoundUpToEcc(blocks) : blocks;
  if (disc.open_start + size > UsableEnd(disc)) return sense::InvalidFieldInCdb(5);
  Track t;
  t.start = disc.open_start;
  t.size = static_cast<uint32_t>(size);
  t.session = static_cast<uint16_t>(disc.closed_sessions + 1);
  t.reserved = true;
  disc.tracks.push_back(t);
  disc.open_start = TrackEnd(t) + TrackGap(disc);
  return sense::kNone;
}

}  // namespace fornax::sim
