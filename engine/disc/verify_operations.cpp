// The engine's verify of the disc in the drive: the session the last burn
// wrote against what it sent, or a session against local files.

#include "engine/base/messages.h"
#include "engine/disc/disc_verify.h"
#include "engine/disc/drive_session_source.h"
#include "engine/recorder.h"

namespace fornax {

TVerifyReport TQzRecorder::VerifyLastBurn() {
  if (!FBurnRecord.Kept()) {
    // Nothing to compare with is no pass.
    TVerifyReport report;
    report.Error = kMsgNothingToVerify;
    return report;
  }
  TDriveSessionSource source(*this, [this] { return SessionCount(); });
  if (FBurnRecord.ForImage()) return VerifySentImage(source, FBurnRecord);
  // The session just written is the disc's last; on an overwritable disc the
  // one its start describes.
  const int session = std::max(1, SessionCount());
  return VerifySentFiles(source, session, FBurnRecord, [this](const std::string& m, uint8_t t) { Log(m, t); });
}

TVerifyReport TQzRecorder::VerifySession(int Session, const std::vector<TLocalFile>& Locals) {
  TDriveSessionSource source(*this, [this] { return SessionCount(); });
  return VerifyAgainstLocal(source, Session, Locals, [this](const std::string& m, uint8_t t) { Log(m, t); });
}

}  // namespace fornax
