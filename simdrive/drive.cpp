#include "simdrive/drive.h"

#include <csignal>

#include "simdrive/dispatch.h"
#include "simdrive/operations.h"
#include "simdrive/state_codec.h"

namespace fornax::sim {

Drive& Drive::Instance() {
  static Drive drive;
  return drive;
}

bool Drive::SetStateDirectory(const std::string& dir, std::string* error) {
  const std::string path = dir.empty() ? DefaultStateDirectory() : dir;
  if (!MakeDirectories(path, error)) return false;
  std::lock_guard<std::mutex> guard(mutex_);
  dir_ = path;
  cached_text_.clear();
  pending_sense_ = sense::kNone;
  return true;
}

Reply Drive::Execute(const Command& cmd) {
  std::lock_guard<std::mutex> guard(mutex_);
  Reply reply;
  std::string error;
  int signal = 0;
  const bool stored = RunSession(
      [&](SectorFile& sectors, std::string*) {
        CommandContext ctx{state_, sectors, NowMs(), pending_sense_};
        reply = Dispatch(ctx, cmd);
        signal = ctx.raise_signal;
        return true;
      },
      &error);
  // Raised once the state is stored, so that a process killed here leaves the
  // drive as it was before this command, as a real one would be.
  if (signal != 0) std::raise(signal);
  // A drive whose own storage fails reports a hardware error.
  if (!stored) reply = Reply::Check(sense::kInternalTargetFailure);
  pending_sense_ = reply.status == Completion::kCheckCondition ? reply.sense : sense::kNone;
  return reply;
}

bool Drive::Control(const ControlCall& call, std::string* error) {
  std::lock_guard<std::mutex> guard(mutex_);
  return RunSession([&](SectorFile& sectors, std::string* e) { return call(state_, sectors, dir_, e); }, error);
}

bool Drive::RunSession(const SessionBody& body, std::string* error) {
  if (dir_.empty()) dir_ = DefaultStateDirectory();
  if (!MakeDirectories(dir_, error)) return false;
  DirectoryLock lock;
  SectorFile sectors;
  if (!lock.Acquire(dir_, error) || !sectors.Open(dir_, error) || !LoadState(sectors, error)) return false;
  SettleOperations(state_, NowMs());
  const DriveState before = state_;
  const bool ok = body(sectors, error);
  // Sectors first: the metadata must never claim blocks that are not on disk.
  if (!sectors.Sync()) {
    state_ = before;
    *error = "cannot make the disc's sectors durable";
    return false;
  }
  const std::string text = EncodeState(state_);
  if (text != cached_text_) {
    if (!WriteStateFile(dir_, text, error)) {
      state_ = before;
      return false;
    }
    cached_text_ = text;
  }
  return ok;
}

bool Drive::LoadState(SectorFile& sectors, std::string* error) {
  std::string text;
  bool exists = false;
  if (!ReadStateFile(dir_, &text, &exists, error)) return false;
  if (exists && !cached_text_.empty() && text == cached_text_) return true;
  DriveState loaded;
  std::string why;
  if (exists && DecodeState(text, &loaded, &why)) {
    state_ = std::move(loaded);
    cached_text_ = text;
    return true;
  }
  // Nothing there yet (or nothing readable): a fresh drive with a blank disc,
  // whose sectors must not show what an earlier disc held.
  if (exists) SetAsideStateFile(dir_);
  state_ = FreshDriveState();
  cached_text_.clear();
  if (!sectors.Wipe()) return *error = "cannot clear the disc's sectors", false;
  return true;
}

}  // namespace fornax::sim
