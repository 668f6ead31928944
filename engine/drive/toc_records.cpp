#include "engine/drive/toc_records.h"

#include <algorithm>

#include "engine/base/bytes.h"

namespace fornax {

namespace {
constexpr uint32_t kTocHeader = 4;
constexpr uint32_t kTocEntry = 8;
}  // namespace

bool IsSessionInfo(const uint8_t* answer) {
  const uint8_t first = answer[2], last = answer[3], track = answer[6];
  return GetBe16(answer) == 0x000A && first >= 1 && last >= first && track != kLeadOutTrack;
}

TSessionInfo ParseSessionInfo(const uint8_t* answer) {
  TSessionInfo info;
  info.FirstSession = answer[2];
  info.LastSession = answer[3];
  info.FirstTrackOfLast = answer[6];
  info.Start = GetBe32(answer + 8);
  return info;
}

bool TocTrackStart(const uint8_t* answer, uint32_t length, uint8_t track, uint32_t& start) {
  if (length < kTocHeader) return false;
  // The length field counts the bytes after itself; a drive may send fewer.
  const uint32_t end = std::min<uint32_t>(length, GetBe16(answer) + 2u);
  for (uint32_t at = kTocHeader; at + kTocEntry <= end; at += kTocEntry) {
    if (answer[at + 2] != track) continue;
    start = GetBe32(answer + at + 4);
    return true;
  }
  return false;
}

bool TrackOfEarlierSession(const TSessionInfo& info, uint8_t firstTrack, int session, uint8_t& track) {
  if (session < 1 || session >= info.LastSession || firstTrack == 0 || firstTrack == kLeadOutTrack) return false;
  if (session == 1) {
    track = firstTrack;
    return true;
  }
  const int lastFirst = info.FirstTrackOfLast;
  if (lastFirst < firstTrack || lastFirst - firstTrack + 1 != info.LastSession) return false;
  track = static_cast<uint8_t>(firstTrack + session - 1);
  return true;
}

}  // namespace fornax
