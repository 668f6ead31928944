#pragma once
// Where the sessions of the disc in the selected drive lie. A recorder tells
// it track by track (READ TRACK INFORMATION with the session's number: one
// track per session, as the engine writes them). A drive that only reads
// refuses that command; it still has a table of contents, which gives the
// number of complete sessions, where each track starts and where the last
// session ends.

#include <cstdint>

#include "engine/drive/toc_records.h"

namespace fornax {

class TSCSIDevice;

struct TSessionExtent {
  uint32_t Start = 0;
  uint32_t Size = 0;
  bool SizeKnown = false;  // a table of contents tells only the last session's end
};

class TDiscSessions {
 public:
  explicit TDiscSessions(TSCSIDevice& device) : FDevice(device) {}

  // The last complete session by the table of contents; 0 when the drive
  // does not tell it.
  int TocSessionCount();
  bool Start(int session, uint32_t& start);
  bool Extent(int session, TSessionExtent& extent);
  // One past the last sector the session's track holds: the next writable
  // address of a track still open, else its end. Only track information
  // tells it; false (unknown) on a drive without it.
  bool RecordedEnd(int session, uint32_t& end);
  // READ TOC format 1, checked to be one (see IsSessionInfo).
  bool ReadSessionInfo(TSessionInfo& info);

 private:
  // READ TRACK INFORMATION of the session's track, asked once more after a
  // unit attention; `refused` when the drive refused the command itself or
  // its fields (ILLEGAL REQUEST), as drives that only read do.
  bool ReadTrack(int session, bool& refused);
  bool ReadTocTrackStart(uint8_t track, uint32_t& start, uint8_t* firstTrack = nullptr);
  bool TocExtent(int session, TSessionExtent& extent);

  TSCSIDevice& FDevice;
};

}  // namespace fornax
