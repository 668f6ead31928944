#pragma once
// The drive of this process: it runs every command and control call under
// the state directory's lock, reading the metadata again when another
// process changed it and writing it back (after the sectors) when the call
// changed something.

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
  Reply Execute(const Command& cmd);

  using ControlCall = std::function<bool(DriveState& state, SectorFile& sectors, const std::string& dir,
                                         std::string* error)>;
  bool Control(const ControlCall& call, std::string* error);

 private:
  using SessionBody = std::function<bool(SectorFile& sectors, std::string* error)>;
  bool RunSession(const SessionBody& body, std::string* error);
  bool LoadState(SectorFile& sectors, std::string* error);

  std::mutex mutex_;  // flock does not order the threads of one process
  std::string dir_;
  std::string cached_text_;  // the metadata as last read or written by this process
  DriveState state_;
  Sense pending_sense_;
};

}  // namespace fornax::sim
