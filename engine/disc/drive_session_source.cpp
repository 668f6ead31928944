#include "engine/disc/drive_session_source.h"

#include <algorithm>

#include "engine/drive/scsi_device.h"

namespace fornax {

bool TDriveSessionSource::ReadSectors(uint32_t lba, uint32_t count, uint8_t* out) {
  // READ (10) counts blocks in 16 bits; longer reads go in pieces.
  while (count > 0) {
    const uint16_t piece = static_cast<uint16_t>(std::min<uint32_t>(count, 32));
    if (!FDevice.ReadSectors(lba, piece, out, piece * 2048u)) return false;
    lba += piece;
    count -= piece;
    out += piece * 2048u;
  }
  return true;
}

std::string TDriveSessionSource::LastError() const { return FDevice.LastError(); }

bool TDriveSessionSource::SessionStart(int session, uint32_t& start) {
  if (session < 1 || session > 255 || !FDevice.ReadTrackInfo(static_cast<uint8_t>(session))) return false;
  start = FDevice.TrackInfo().TrackStart;
  return true;
}

bool TDriveSessionSource::SessionRecordedEnd(int session, uint32_t& end) {
  if (session < 1 || session > 255 || !FDevice.ReadTrackInfo(static_cast<uint8_t>(session))) return false;
  const TTrackInfo& track = FDevice.TrackInfo();
  const bool nwaValid = (track.Raw[7] & 0x01) != 0;
  end = nwaValid ? track.NextWritableAddress : track.TrackStart + track.TrackSize;
  return true;
}

}  // namespace fornax
