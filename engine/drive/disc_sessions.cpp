#include "engine/drive/disc_sessions.h"

#include "engine/drive/scsi_device.h"

namespace fornax {
namespace {

constexpr uint8_t kIllegalRequest = 0x05;
constexpr uint8_t kUnitAttention = 0x06;
// Enough for the header and one entry of a READ TOC answer.
constexpr uint32_t kTocShortAnswer = 12;

uint8_t SenseKey(const TSCSIDevice& device) { return device.LastSense()[2] & 0x0F; }

}  // namespace

bool TDiscSessions::ReadTrack(int session, bool& refused) {
  refused = false;
  if (session < 1 || session > 255) return false;
  const uint8_t track = static_cast<uint8_t>(session);
  if (FDevice.ReadTrackInfo(track)) return true;
  if (SenseKey(FDevice) == kUnitAttention && FDevice.ReadTrackInfo(track)) return true;
  refused = SenseKey(FDevice) == kIllegalRequest;
  return false;
}

// The format in byte 2 first, as MMC has it. A drive that answers with the
// table of contents instead, or refuses, is asked the older way: format 0 in
// byte 2 and the session format in the top bits of the last byte (40h), as
// the Linux kernel asks every drive.
bool TDiscSessions::ReadSessionInfo(TSessionInfo& info) {
  for (const uint8_t control : {uint8_t{0x00}, uint8_t{0x40}}) {
    alignas(16) uint8_t answer[kTocShortAnswer] = {};
    const uint8_t format = control == 0 ? 1 : 0;
    if (!FDevice.ReadToc(false, format, 0, answer, sizeof answer, control)) {
      if (FDevice.NoMedium()) return false;
      continue;
    }
    if (IsSessionInfo(answer)) {
      info = ParseSessionInfo(answer);
      return true;
    }
  }
  return false;
}

// READ TOC format 0 from `track` on (0: from the first track); the answer's
// header names the disc's first track.
bool TDiscSessions::ReadTocTrackStart(uint8_t track, uint32_t& start, uint8_t* firstTrack) {
  alignas(16) uint8_t answer[kTocShortAnswer] = {};
  if (!FDevice.ReadToc(false, 0, track, answer, sizeof answer)) return false;
  if (firstTrack) *firstTrack = answer[2];
  return TocTrackStart(answer, sizeof answer, track == 0 ? answer[2] : track, start);
}

int TDiscSessions::TocSessionCount() {
  TSessionInfo info;
  return ReadSessionInfo(info) ? info.LastSession : 0;
}

bool TDiscSessions::TocExtent(int session, TSessionExtent& extent) {
  TSessionInfo info;
  if (!ReadSessionInfo(info) || session < 1 || session > info.LastSession) return false;
  extent = TSessionExtent{};
  if (session == info.LastSession) {
    extent.Start = info.Start;
    uint32_t leadOut = 0;
    if (ReadTocTrackStart(kLeadOutTrack, leadOut) && leadOut >= info.Start) {
      extent.Size = leadOut - info.Start;
      extent.SizeKnown = true;
    }
    return true;
  }
  uint8_t firstTrack = 0, track = 0;
  uint32_t firstStart = 0;
  if (!ReadTocTrackStart(0, firstStart, &firstTrack)) return false;
  if (!TrackOfEarlierSession(info, firstTrack, session, track)) return false;
  if (track == firstTrack) {
    extent.Start = firstStart;
    return true;
  }
  return ReadTocTrackStart(track, extent.Start);
}

bool TDiscSessions::Extent(int session, TSessionExtent& extent) {
  bool refused = false;
  if (ReadTrack(session, refused)) {
    const TTrackInfo& track = FDevice.TrackInfo();
    extent = TSessionExtent{track.TrackStart, track.TrackSize, true};
    return true;
  }
  return refused && TocExtent(session, extent);
}

bool TDiscSessions::Start(int session, uint32_t& start) {
  TSessionExtent extent;
  if (!Extent(session, extent)) return false;
  start = extent.Start;
  return true;
}

bool TDiscSessions::RecordedEnd(int session, uint32_t& end) {
  bool refused = false;
  if (!ReadTrack(session, refused)) return false;
  const TTrackInfo& track = FDevice.TrackInfo();
  const bool nwaValid = (track.Raw[7] & 0x01) != 0;
  end = nwaValid ? track.NextWritableAddress : track.TrackStart + track.TrackSize;
  return true;
}

}  // namespace fornax
