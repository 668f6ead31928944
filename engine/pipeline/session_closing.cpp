// Closing tracks and sessions: the steps per medium, each one asked again
// while the drive is still busy, and the repair of a session left open.

#include "engine/pipeline/session_closing.h"

#include <fmt/format.h>

#include "engine/base/messages.h"
#include "engine/base/pacing.h"
#include "engine/drive/medium_queries.h"
#include "engine/recorder.h"

namespace fornax {
namespace {

constexpr int kBusyCloseTries = 1000;  // seconds of "in progress" answers at most
constexpr int kCloseWaitMs = 240000;

bool SessionCloses(uint8_t function) { return function == 2 || function == 5 || function == 6; }

}  // namespace

std::vector<TCloseStep> SessionCloseSteps(uint8_t medium, uint8_t track, bool finalize, bool cdImmediate) {
  switch (medium) {
    case mtDVDPlusR:
      return {{false, 1, track}, {false, static_cast<uint8_t>(finalize ? 6 : 2), static_cast<uint8_t>(finalize ? 0 : 255)}};
    case mtDVDPlusRDL: return {{false, 1, track}, {false, static_cast<uint8_t>(finalize ? 6 : 2), 0}};
    case mtDVDR:
    case mtDVDRWSequential:
      return {{true, 1, track},
              {true, 1, static_cast<uint8_t>(track + 1), true},
              {true, 2, static_cast<uint8_t>(track + 2)}};
    case mtDVDRWRestricted: return {{true, 2, 0}};
    case mtDVDPlusRW: return {{false, 3, 255}};
    case mtDVDRAM: return {};
    default: return {{cdImmediate, 2, 0}};
  }
}

bool TQzRecorder::RunCloseStep(const TCloseStep& step, bool oneMoreTry) {
  bool closed = CloseTrackSessionFunction(step.Immediate, step.Function, 0, 0, step.Track);
  // A drive still writing out answers "in progress"; it is asked again.
  TPollPause pause(kBusyCloseTries * 1000, 1000);
  while (!closed) {
    if (!(TargetBusy() || LastSense()[12] == 0x04)) {
      if (oneMoreTry) closed = CloseTrackSessionFunction(step.Immediate, step.Function, 0, 0, step.Track);
      break;
    }
    if (!pause.Sleep()) break;
    closed = CloseTrackSessionFunction(step.Immediate, step.Function, 0, 0, step.Track);
  }
  // An immediate close goes on after its answer; the next command waits for it.
  if (closed && step.Immediate) WaitReady(kCloseWaitMs, 1000);
  return closed;
}

bool TQzRecorder::RunCloseSteps(const std::vector<TCloseStep>& steps, bool finalize) {
  const uint8_t code = TSCSIDevice::CurrentMediumCode();
  // The multi-session field of the page is what a CD or DVD-R session close obeys.
  const bool keep = FinalizeDisc;
  FinalizeDisc = finalize;
  if (code != mtDVDR || finalize) SetWriteParameters(false, UnderrunProtection, code, finalize, finalize);
  FinalizeDisc = keep;
  const bool cd = code < mtDVDROM;
  for (const TCloseStep& step : steps)
    if (!RunCloseStep(step, cd) && !step.Optional) return false;
  return true;
}

bool TQzRecorder::HasOpenSession() {
  const uint8_t code = MediumType();
  if (!IsSequentialMedium(code) || !ReadDiscInformation()) return false;
  const TDiscInformation& info = DiscInformation();
  return info.DiscStatus() != 2 && info.LastSessionState() == 1;
}

TCloseOutcome TQzRecorder::CloseOpenSession(bool finalize) {
  const uint8_t code = MediumType();
  SetCurrentMediumCode(code);
  if (!IsSequentialMedium(code)) return finalize ? TCloseOutcome::CannotFinalize : TCloseOutcome::NothingOpen;
  if (!ReadDiscInformation()) return TCloseOutcome::Failed;
  const TDiscInformation info = DiscInformation();
  if (info.DiscStatus() == 2) return TCloseOutcome::NothingOpen;
  const bool open = info.LastSessionState() == 1;
  // A CD or DVD-R is closed for good by the close of a session that holds
  // data; with every session closed already only DVD+R can still finalize.
  if (!open && !(finalize && (code == mtDVDPlusR || code == mtDVDPlusRDL)))
    return finalize && info.DiscStatus() != 0 ? TCloseOutcome::CannotFinalize : TCloseOutcome::NothingOpen;
  if (open) Log(std::string(">>> ") + kMsgClosingOpenSession, ltStatus);
  std::vector<TCloseStep> steps;
  const uint8_t first = info.Raw[5], last = info.LastTrackInLastSession();
  for (uint8_t track = first; open && track != 0 && track <= last; ++track) {
    if (!ReadTrackInfo(track)) continue;
    const uint8_t flags = TrackInfo().Raw[6];
    const bool reserved = flags & 0x80, blank = flags & 0x40, nwaValid = TrackInfo().Raw[7] & 0x01;
    // Tracks still being written: the one with data and a next writable
    // address, and a reservation not yet filled.
    if ((nwaValid && !blank) || (reserved && nwaValid)) steps.push_back({false, 1, track});
  }
  const std::vector<TCloseStep> full = SessionCloseSteps(code, last, finalize, ImmediateClose());
  for (const TCloseStep& step : full)
    if (SessionCloses(step.Function)) steps.push_back(step);
  if (!RunCloseSteps(steps, finalize)) return TCloseOutcome::Failed;
  if (!ReadDiscInformation()) return TCloseOutcome::Failed;
  const TDiscInformation& after = DiscInformation();
  const bool done = finalize ? after.DiscStatus() == 2 : after.LastSessionState() != 1;
  if (!done) return TCloseOutcome::Failed;
  return TCloseOutcome::Closed;
}

}  // namespace fornax
