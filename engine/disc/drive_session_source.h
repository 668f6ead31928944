#pragma once
// The disc in the selected drive as a source of sessions and sectors.

#include <functional>
#include <optional>
#include <vector>

#include "engine/disc/sector_source.h"
#include "engine/drive/drive_records.h"

namespace fornax {

class TSCSIDevice;

class TDriveSessionSource : public TSessionSource {
 public:
  TDriveSessionSource(TSCSIDevice& device, std::function<int()> sessionCount)
      : FDevice(device), FSessionCount(std::move(sessionCount)) {}
  bool ReadSectors(uint32_t lba, uint32_t count, uint8_t* out) override;
  std::string LastError() const override;
  int SessionCount() override { return FSessionCount(); }
  // The start of the session's data track (one track per session), from the
  // table of contents on a drive without track information.
  bool SessionStart(int session, uint32_t& start) override;
  // The next writable address of a track still open, else its end; false
  // (unknown) on a drive without track information.
  bool SessionRecordedEnd(int session, uint32_t& end) override;
  // Asked of the drive once: the recorded parts of every track and the next
  // writable address on sequential media; up to the end of the file system
  // at the start of an overwritable disc; up to READ CAPACITY's last sector
  // on a drive without track information.
  TRecordedArea RecordedArea() override;
  // Where a burn that has asked the drive lays its new session out from,
  // when it is known better than from the track information.
  void SetNewSessionStart(uint32_t start) { FNewSessionStart = start; }

 private:
  TRecordedArea QueryRecordedArea();
  // The tracks of the disc; false when the drive tells no track information.
  bool ReadTracks(std::vector<TTrackInfo>& tracks);
  TRecordedArea OverwritableArea();

  TSCSIDevice& FDevice;
  std::function<int()> FSessionCount;
  std::optional<TRecordedArea> FArea;
  std::optional<uint32_t> FNewSessionStart;
};

// What READ TRACK INFORMATION of every track tells (tracks 1 to the last
// track of the last session, in order): each track holds data from its start
// up to its next writable address while it is open, else over its size; a
// blank track holds none. The next session starts at the next writable
// address of the last track, when it has one (a closed disc has none).
TRecordedArea AreaOfTracks(const std::vector<TTrackInfo>& tracks);

}  // namespace fornax
