#include "engine/disc/drive_session_source.h"

#include <algorithm>

#include "engine/drive/disc_sessions.h"
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
  return TDiscSessions(FDevice).Start(session, start);
}

// A drive that only reads has no track information: the end is unknown
// there, and no session is taken for cut short on its word.
bool TDriveSessionSource::SessionRecordedEnd(int session, uint32_t& end) {
  return TDiscSessions(FDevice).RecordedEnd(session, end);
}

}  // namespace fornax
