#include "simdrive/drive.h"

#include <sys/stat.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <utility>

#include "simdrive/dispatch.h"
#include "simdrive/operations.h"
#include "simdrive/state_check.h"
#include "simdrive/state_codec.h"

namespace fornax::sim {
namespace {

// Holds the directory's flock for one call.
class LockHolder {
 public:
  explicit LockHolder(StateDirectory& files) : files_(files) {}
  ~LockHolder() {
    if (locked_) files_.Unlock();
  }
  bool Lock(std::string* error) { return locked_ = files_.Lock(error); }

 private:
  StateDirectory& files_;
  bool locked_ = false;
};

// The reason as one printable line of bounded length: it quotes what a user
// wrote, and goes to a terminal and into the state text.
std::string RefusalNote(const std::string& why, bool sectorsKept) {
  std::string note = "the stored drive state was refused: " + why;
  const std::string tail = sectorsKept ? "; set aside as state.corrupt, its sectors as disc.data.corrupt"
                                       : "; set aside as state.corrupt, its sectors left in disc.data";
  note.resize(std::min(note.size(), kMaxNoteBytes - tail.size()));
  for (char& c : note)
    if (!IsPlainText(std::string_view(&c, 1), 1)) c = '?';
  return note + tail;
}

bool DirectoryExists(const std::string& dir) {
  struct stat st {};
  return stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

Drive& Drive::Instance() {
  static Drive drive;
  return drive;
}

bool Drive::SetStateDirectory(const std::string& dir, std::string* error) {
  const std::string path = dir.empty() ? DefaultStateDirectory() : dir;
  if (!MakeDirectories(path, error)) return false;
  std::lock_guard<std::mutex> guard(mutex_);
  dir_ = path;
  files_.Close();
  pending_sense_ = sense::kNone;
  return true;
}

Reply Drive::Execute(const Command& cmd) {
  std::unique_lock<std::mutex> guard(mutex_);
  Reply reply;
  std::string error;
  int signal = 0;
  int64_t wait_ms = 0;
  const bool stored = RunSession(
      [&](SectorFile& sectors, std::string*) {
        const int64_t now_us = NowUs();
        CommandContext ctx{state_, sectors, now_us / 1000, pending_sense_};
        ctx.now_us = now_us;
        ctx.signals_allowed = signals_allowed_;
        reply = Dispatch(ctx, cmd);
        signal = ctx.raise_signal;
        wait_ms = ctx.wait_ms;
        return true;
      },
      &error);
  // A drive whose own storage fails reports a hardware error.
  if (!stored) {
    reply = Reply::Check(sense::kInternalTargetFailure);
    wait_ms = 0;
  }
  pending_sense_ = reply.status == Completion::kCheckCondition ? reply.sense : sense::kNone;
  guard.unlock();
  // Raised once the state is stored, so that a process killed here leaves the
  // drive as it was before this command, as a real one would be.
  if (signal != 0) std::raise(signal);
  SleepMs(wait_ms);
  return reply;
}

bool Drive::Control(const ControlCall& call, std::string* error) {
  std::lock_guard<std::mutex> guard(mutex_);
  return RunSession([&](SectorFile& sectors, std::string* e) { return call(state_, sectors, dir_, e); }, error);
}

bool Drive::RunSession(const SessionBody& body, std::string* error) {
  if (dir_.empty()) dir_ = DefaultStateDirectory();
  if (!files_.Ensure(dir_, error)) return false;
  LockHolder lock(files_);
  if (!lock.Lock(error)) return false;
  if (!LoadState(error)) return false;
  SettleOperations(state_, NowMs());
  const DriveState before = state_;
  const bool ok = body(files_.sectors(), error);
  SectorFile& sectors = files_.sectors();
  const bool wipe = sectors.TakeWipeRequest();
  const bool forced = std::exchange(store_, false);
  if (!wipe && !forced && state_ == before) return ok;
  // The sectors a command wrote are already in the data file; the state that
  // claims them goes in now. A wipe is done only once a state that no longer
  // claims the old sectors is stored, and marked in it until done.
  if (wipe) state_.wipe_pending = true;
  if (!StoreState(error)) {
    state_ = before;
    return false;
  }
  if (wipe) {
    if (!sectors.Truncate()) return *error = "cannot clear the disc's sectors", false;
    state_.wipe_pending = false;
    if (!StoreState(error)) return false;
  }
  return ok;
}

bool Drive::StoreState(std::string* error) { return files_.state().Store(EncodeState(state_), error); }

bool Drive::LoadState(std::string* error) {
  std::string text;
  std::string why;
  switch (files_.state().Load(&text, error)) {
    case StateFile::Loaded::kUnchanged: return true;
    case StateFile::Loaded::kText: {
      DriveState loaded;
      if (!DecodeState(text, &loaded, &why)) break;
      state_ = std::move(loaded);
      // A state of the older format is stored in slots at once.
      if (!files_.state().InSlots()) store_ = true;
      // A process died between storing a new disc and emptying the sector file.
      if (state_.wipe_pending) files_.sectors().Wipe();
      state_.wipe_pending = false;
      return true;
    }
    case StateFile::Loaded::kMissing:
      // Nothing there yet: a fresh drive. The directory itself may have been
      // removed under this process: it is made again.
      if (!DirectoryExists(dir_)) {
        files_.Close();
        if (!files_.Ensure(dir_, error) || !files_.Lock(error)) return false;
      }
      state_ = FreshDriveState();
      files_.sectors().Wipe();
      return true;
    case StateFile::Loaded::kUnreadable: why = "not a drive state of this library's format"; break;
  }
  if (!error->empty()) return false;  // the file could not be read at all
  // Nothing the drive can take: a fresh drive with a blank disc, whose sectors
  // must not show what an earlier disc held. The refused file is kept to be
  // looked at, and why it was refused goes to whoever looks at the drive: the
  // description shows it until a reset, and this process says it at once.
  // The sectors are kept beside it: a state refused by a later version of
  // these rules may have been a user's disc. Where they cannot be copied
  // they are not emptied either (a blank disc reads none of them).
  files_.state().SetAside();
  std::string notCopied;
  const bool kept = files_.sectors().KeepCopy(&notCopied);
  state_ = FreshDriveState();
  state_.refused_state = RefusalNote(why, kept);
  std::fprintf(stderr, "fornax simulated recorder (%s): %s\n", dir_.c_str(), state_.refused_state.c_str());
  if (!kept) std::fprintf(stderr, "fornax simulated recorder (%s): %s\n", dir_.c_str(), notCopied.c_str());
  if (kept) files_.sectors().Wipe();
  return true;
}

}  // namespace fornax::sim
