#pragma once
// The disc in the selected drive as a source of sessions and sectors.

#include <functional>

#include "engine/disc/sector_source.h"

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

 private:
  TSCSIDevice& FDevice;
  std::function<int()> FSessionCount;
};

}  // namespace fornax
