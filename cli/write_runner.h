#pragma once
// Follows a write or erase the engine runs on its threads: runs its events on
// this thread, redraws a progress line, and turns Ctrl-C into an abort that
// still lets the drive be left usable.

#include <atomic>
#include <string>

#include "cli/console.h"
#include "engine/pipeline/event_queue.h"

namespace fornax {
class TQzRecorder;
}

namespace fornax::cli {

class TWriteRunner {
 public:
  TWriteRunner(TQzRecorder& recorder, TConsole& console, bool toDrive);
  ~TWriteRunner();

  // Before a write starts: completion comes through the runner's queue.
  void Install();
  // Shows the progress line (before a call that blocks while it writes).
  void ShowProgress();
  // Waits for the end of the write that was started; its error text, empty
  // on success.
  std::string Finish();
  // The same for an erase; true when it ended without error.
  bool FinishErase();
  bool Interrupted() const;

 private:
  std::string WriteLine() const;

  TQzRecorder& FRecorder;
  TConsole& FConsole;
  const bool FToDrive;
  TEventQueue FEvents;
  bool FDone = false;
  bool FEraseError = false;
  bool FShowing = false;
  std::string FError;
};

}  // namespace fornax::cli
