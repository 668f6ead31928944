#pragma once
// What goes into a compilation, as the iso and burn commands take it: the
// files and folders in order, where folders go, the volume label, the boot
// image, Joliet, archive-only; and the engine handlers that report what is
// left out.

#include <CLI/CLI.hpp>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "cli/compilation_feed.h"
#include "cli/console.h"
#include "cli/repeated_lines.h"

namespace fornax {
class TQzRecorder;
}

namespace fornax::cli {

// What one compilation holds at most: entries (files and folders together),
// and folders among them.
inline constexpr int kMaxEntries = 600000;
inline constexpr int kMaxFolders = 20000;

struct TCompilationOptions {
  std::vector<std::string> Paths;
  std::vector<std::string> ShallowFolders;
  std::string Volume;
  std::string BootImage;
  std::string PathMode = "flat";
  bool NoJoliet = false;
  bool RockRidge = true;  // Linux users expect their modes and links back
  bool ArchiveOnly = false;
  bool Verbose = false;
  // Set when the options are added, for the order of rows.
  CLI::App* Command = nullptr;
  CLI::Option* PathOption = nullptr;
  CLI::Option* ShallowOption = nullptr;
};

void AddCompilationOptions(CLI::App& command, TCompilationOptions& options);
// The rows in the order the user gave them, as PATH or as --no-recurse.
std::vector<TSourceRow> RowsInOrder(const TCompilationOptions& options);
// A problem the user can mend before any work starts, or empty.
std::string CheckSources(const TCompilationOptions& options, const std::vector<TSourceRow>& rows);

// Fills the engine's compilation, counting what is left out; the file named
// by `exclude` (an image being written) never goes in.
class TCompilationFeeder {
 public:
  TCompilationFeeder(const TCompilationOptions& options, TConsole& console) : FOptions(options), FConsole(console) {}
  // Sets the engine's switches and handlers; the log handler stays in place
  // for the rest of the command.
  void Configure(TQzRecorder& recorder, const std::string& exclude = "");
  // Adds every row (to an emptied compilation unless `keep`); false (with a
  // message) when the compilation ends up empty.
  bool Feed(TQzRecorder& recorder, const std::vector<TSourceRow>& rows, bool keep = false);
  int LeftOut() const { return FLeftOut; }
  // "N entries were left out" when some were (and that the compilation filled
  // up, when it did); empty otherwise.
  std::string LeftOutMessage() const;

 private:
  bool IsExcluded(const std::string& path, int64_t size) const;
  void ReportCapacity(const std::string& message);

  const TCompilationOptions& FOptions;
  TConsole& FConsole;
  std::atomic<int64_t> FAdded{0};
  std::atomic<int> FLeftOut{0};
  bool FExcludeExists = false;
  uint64_t FExcludeDevice = 0, FExcludeInode = 0;
  int64_t FExcludeSize = 0;
  // The entry the engine was adding last: a capacity line names none.
  std::string FLastSubject;
  TRepeatedLines FCapacityLines;
  std::atomic<bool> FFull{false};
};

}  // namespace fornax::cli
