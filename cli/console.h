#pragma once
// Terminal output of the command-line tool: engine lines on stderr, and one
// live progress line that log lines push out of the way.

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace fornax::cli {

class TConsole {
 public:
  TConsole();
  ~TConsole();

  // Prints a line on stderr (after clearing the progress line).
  void Line(const std::string& text);
  // Redraws the progress line from `describe` five times a second until
  // StopProgress; nothing is drawn when stderr is not a terminal.
  void StartProgress(std::function<std::string()> describe);
  void StopProgress();
  bool Interactive() const { return FInteractive; }

 private:
  void ClearProgressLocked();

  std::mutex FMutex;
  std::condition_variable FWake;
  std::function<std::string()> FDescribe;
  std::thread FTicker;
  bool FStop = false;
  bool FShown = false;
  bool FInteractive = false;
};

// "12.3 MB" style sizes (decimal megabytes, as the rest of the tool shows them).
std::string FormatMegabytes(int64_t bytes);

}  // namespace fornax::cli
