#include "cli/compilation_feed.h"

#include <sys/stat.h>

#include <filesystem>

#include "engine/platform/dir_listing.h"
#include "engine/recorder.h"

namespace fornax::cli {

bool ParsePathMode(const std::string& text, TPathMode& mode) {
  if (text == "flat") mode = TPathMode::Flat;
  else if (text == "full") mode = TPathMode::Full;
  else if (text == "last") mode = TPathMode::LastFolder;
  else return false;
  return true;
}

void FeedCompilation(TQzRecorder& recorder, const std::vector<TSourceRow>& rows, TPathMode mode,
                     bool archiveOnly) {
  const bool keepPath = mode != TPathMode::Flat;
  recorder.KeepLastFolderOnly = mode == TPathMode::LastFolder;
  for (const TSourceRow& row : rows) {
    std::error_code error;
    const std::string path = std::filesystem::absolute(row.Path, error).lexically_normal().string();
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
      std::string folder = path;
      if (folder.back() != '/') folder += '/';
      recorder.AddDirectoryTree(recorder.RootDirectory(), folder, "*.*", faAnyFile, row.Recursive,
                                keepPath, archiveOnly);
    } else {
      recorder.AddFileEntry("\\", path, keepPath);
    }
  }
  recorder.RemoveEmptyDirectories();
}

}  // namespace fornax::cli
