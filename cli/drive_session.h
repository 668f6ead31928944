#pragma once
// Opening a drive for a command of the tool: loads the transport, finds the
// drive the user named (or the first one), selects it, and shows the
// engine's lines on stderr.

#include <CLI/CLI.hpp>

#include <memory>
#include <string>

#include "cli/console.h"
#include "engine/drive/disc_sessions.h"
#include "engine/recorder.h"

namespace fornax::cli {

struct TDriveOptions {
  std::string Device;     // an address "H:T:L", a device node, or part of a list line
  std::string Transport;  // a transport library to use instead of the drives found
  bool Trace = false;
  bool Verbose = false;
};

// Adds --device, --transport, --trace and (unless the command has its own)
// --verbose to a command.
void AddDriveOptions(CLI::App& command, TDriveOptions& options, bool withVerbose = true);

class TDriveSession {
 public:
  TDriveSession(const TDriveOptions& options, TConsole& console);
  // Loads the transport and lists the drives; false (with a message) when no
  // transport could be loaded.
  bool Open();
  // Selects the drive the options name; false with a message when none matches.
  bool Select();
  // Whether the drive is ready, waiting up to `waitMs` for one that is
  // becoming so. False with a message: at once "no disc in the drive" with
  // the drive's reason when it holds none, else why it is not ready.
  bool Ready(int waitMs);
  TQzRecorder& Recorder() { return *FRecorder; }

 private:
  const TDriveOptions& FOptions;
  TConsole& FConsole;
  std::unique_ptr<TQzRecorder> FRecorder;
};

// Reads the tree of a session of the disc (1 is the first; -1 or 255 the
// last) into the recorder's compilation. A session the disc does not hold is
// refused with a message rather than taken as the last one.
bool ImportRequestedSession(TQzRecorder& recorder, int requested, TConsole& console);

// What the tool says of a drive that is not ready: `noMedium` when the drive
// said that it holds no disc, `reason` its last error.
std::string NotReadyMessage(bool noMedium, const std::string& reason);

// The header and one row of a session table: number, first sector and size
// (a question mark where the drive does not tell it), and a note.
extern const char* const kSessionTableHeader;
std::string SessionRow(int session, const TSessionExtent& extent, const std::string& note);

// The line of the list that an address, a device node or a part of a line
// names; empty when none does.
std::string MatchDevice(const std::vector<std::string>& lines, const std::string& wanted);

}  // namespace fornax::cli
