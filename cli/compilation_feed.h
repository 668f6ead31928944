#pragma once
// Fills the engine's compilation from the files and folders named on the
// command line, in the order given.

#include <string>
#include <vector>

namespace fornax {
class TQzRecorder;
}

namespace fornax::cli {

// Where the source's folders go on the disc.
enum class TPathMode {
  Flat,       // files in the root, a folder's contents straight into the root
  Full,       // the source path is recreated (without the leading "/")
  LastFolder  // only the last folder of the source path is recreated
};

struct TSourceRow {
  std::string Path;
  bool Recursive = true;  // folders only: take their subfolders too
};

bool ParsePathMode(const std::string& text, TPathMode& mode);

// Adds every row (folders with their contents, files one by one), then drops
// folders left empty. Paths must exist.
void FeedCompilation(TQzRecorder& recorder, const std::vector<TSourceRow>& rows, TPathMode mode,
                     bool archiveOnly);

}  // namespace fornax::cli
