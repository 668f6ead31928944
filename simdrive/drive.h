#pragma once
// The drive of this process: it runs every command and control call under
// the state directory's lock. The state lives in memory; the metadata file
// is decoded again only when another process changed it, and stored (after
// the sectors) only when the call changed something. See StateFile for why
// this survives a process killed at any point.

#include <atomic>
#include <functional>
#include <mutex>
#include <string>

#include "simdrive/command.h"
#include "simdrive/storage.h"

namespace fornax::sim {

class Drive {
 public:
  static Drive& Instance();

  // Empty: the default directory again.
  bool SetStateDirectory(const std::string& dir, std::string* error);
  // Runs one command. A command that takes time without the Immed bit (a
  // close, a flush, OPC, blank, format) returns only after that time, but
  // spends it outside the lock: meanwhile other initiators see the
  // operation in progress.
  Reply Execute(const Command& cmd);

  using ControlCall = std::function<bool(DriveState& state, SectorFile& sectors, const std::string& dir,
                                         std::string* error)>;
  bool Control(const ControlCall& call, std::string* error);
  // Signal faults fire only in processes that allow them (see CommandContext).
  void AllowSignalFaults(bool allow) { signals_allowed_ = allow; }

 private:
  using SessionBody = std::function<bool(SectorFile& sectors, std::string* error)>;
  bool RunSession(const SessionBody& body, std::string* error);
  bool LoadState(std::string* error);
  bool StoreState(std::string* error);

  std::mutex mutex_;  // flock does not order the threads of one process
  std::string dir_;
  StateDirectory files_;
  DriveState state_;
  bool store_ = false;  // store the state even if the call changed nothing
  std::atomic<bool> signals_allowed_{true};
  Sense pending_sense_;
};

}  // namespace fornax::sim
