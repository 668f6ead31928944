#include "cli/compilation_options.h"

#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>

#include "engine/recorder.h"

namespace fornax::cli {

void AddCompilationOptions(CLI::App& command, TCompilationOptions& options) {
  options.Command = &command;
  options.PathOption = command.add_option("PATH", options.Paths,
      fmt::format("Files and folders to write, in this order (a folder brings its subfolders); one "
                  "compilation holds at most {} files and folders, {} folders with the root among them: what comes "
                  "past that is left out and the exit status says so",
                  GroupedCount(kMaxEntries), GroupedCount(kMaxFolders)));
  options.ShallowOption = command.add_option("-n,--no-recurse", options.ShallowFolders,
      "A folder whose own files go in, without its subfolders (repeat as needed)")
      ->type_name("FOLDER")->allow_extra_args(false);
  command.add_option("-p,--paths", options.PathMode,
      "Where folders go: flat (contents in the root), full (the whole source path), last (only the last folder)")
      ->check(CLI::IsMember({"flat", "full", "last"}))->capture_default_str();
  command.add_option("-V,--volume", options.Volume, "Volume label shown by file managers");
  command.add_option("-b,--boot", options.BootImage, "Make the disc or image bootable with this El Torito boot image");
  command.add_flag("--no-joliet", options.NoJoliet, "Leave out the Joliet tree (only 8.3 names)");
  command.add_flag("--rock-ridge,!--no-rock-ridge", options.RockRidge,
      "Rock Ridge in the ISO 9660 tree: modes, owners, times, whole names, symbolic links kept as links "
      "(on by default; --no-rock-ridge follows links to files and leaves links to folders out)");
  command.add_flag("-a,--archive-only", options.ArchiveOnly,
      "Only files changed since they were last archived; marks them archived after a good write");
  command.add_flag("-v,--verbose", options.Verbose, "Also show the engine's information lines and the layout report");
}

std::vector<TSourceRow> RowsInOrder(const TCompilationOptions& options) {
  std::vector<TSourceRow> rows;
  size_t nextPath = 0, nextShallow = 0;
  for (const CLI::Option* option : options.Command->parse_order()) {
    if (option == options.PathOption && nextPath < options.Paths.size())
      rows.push_back({options.Paths[nextPath++], true});
    else if (option == options.ShallowOption && nextShallow < options.ShallowFolders.size())
      rows.push_back({options.ShallowFolders[nextShallow++], false});
  }
  return rows;
}

std::string CheckSources(const TCompilationOptions& options, const std::vector<TSourceRow>& rows) {
  if (rows.empty()) return "name at least one file or folder to write";
  for (const TSourceRow& row : rows) {
    struct stat st {};
    if (::stat(row.Path.c_str(), &st) != 0) return fmt::format("cannot find '{}'", row.Path);
    if (!row.Recursive && !S_ISDIR(st.st_mode))
      return fmt::format("--no-recurse takes a folder, and '{}' is not one", row.Path);
  }
  if (!options.BootImage.empty()) {
    struct stat boot {};
    if (::access(options.BootImage.c_str(), R_OK) != 0 || ::stat(options.BootImage.c_str(), &boot) != 0 ||
        !S_ISREG(boot.st_mode))
      return fmt::format("cannot read the boot image '{}'", options.BootImage);
    if (boot.st_size == 0) return fmt::format("the boot image '{}' is empty", options.BootImage);
  }
  return "";
}

// A file of another size is another file: only files of the excluded one's
// size cost a look-up.
bool TCompilationFeeder::IsExcluded(const std::string& path, int64_t size) const {
  if (!FExcludeExists || size != FExcludeSize) return false;
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && st.st_dev == FExcludeDevice && st.st_ino == FExcludeInode;
}

void TCompilationFeeder::Configure(TQzRecorder& recorder, const std::string& exclude) {
  recorder.JolietFileSystem = !FOptions.NoJoliet;
  recorder.RockRidge = FOptions.RockRidge;
  recorder.IdVolume = FOptions.Volume;
  recorder.Bootable = !FOptions.BootImage.empty();
  recorder.BootImageFile = FOptions.BootImage;
  recorder.DoDebug = FOptions.Verbose;
  struct stat out {};
  FExcludeExists = !exclude.empty() && ::stat(exclude.c_str(), &out) == 0;
  FExcludeDevice = out.st_dev;
  FExcludeInode = out.st_ino;
  FExcludeSize = static_cast<int64_t>(out.st_size);

  recorder.OnDebugMessage = [this](TObject*, const std::string& message, uint8_t type) {
    // A name the disc holds spelled otherwise is told, but nothing is left out.
    const bool renamed = message.find(", TAKEN AS \"") != std::string::npos;
    if ((type == 3 || type == 4) && !renamed) ++FLeftOut;
    if (type == 3) return ReportCapacity(message);
    if (type == 1 && !FOptions.Verbose) return;
    FConsole.Line(message);
  };
  // The engine leaves out what it cannot read before it asks; the handlers
  // touch the file system only for a file that may be the image itself.
  recorder.OnAddFile = [this](TObject*, const std::string& path, std::string& name, std::string&, TDateTime&, int,
                              int64_t size, bool& skip) {
    FLastSubject = path.empty() ? name : path;
    if (skip) {
      FConsole.Line(">>> NAME LONGER THAN 108 CHARACTERS, NOT ADDED: " + (path.empty() ? name : path));
      ++FLeftOut;
      return;
    }
    if (path.empty()) return;
    if (IsExcluded(path, size)) {
      skip = true;  // an image cannot hold itself
      return;
    }
    ++FAdded;
  };
  recorder.OnAddDir = [this](TObject*, std::string& name, std::string&, bool&) {
    FLastSubject = "folder \"" + name + "\"";
  };
}

// The first capacity line of a kind names where the compilation filled up;
// the ones after it (one per entry met later) are summed up after the feed.
void TCompilationFeeder::ReportCapacity(const std::string& message) {
  FFull = true;
  if (!FCapacityLines.Note(message, FLastSubject)) return;
  std::string line = fmt::format(
      "{} (one compilation holds at most {} files and folders, {} folders with the root among them)", message,
      GroupedCount(kMaxEntries), GroupedCount(kMaxFolders));
  if (!FLastSubject.empty()) line += "; first left out: " + FLastSubject;
  FConsole.Line(line);
}

bool TCompilationFeeder::Feed(TQzRecorder& recorder, const std::vector<TSourceRow>& rows, bool keep) {
  if (!keep) recorder.ClearCompilation(kMaxEntries, kMaxFolders);
  FConsole.StartProgress([this] { return fmt::format("Adding files ... {}", FAdded.load()); });
  TPathMode mode = TPathMode::Flat;
  ParsePathMode(FOptions.PathMode, mode);
  FeedCompilation(recorder, rows, mode, FOptions.ArchiveOnly);
  FConsole.StopProgress();
  for (const std::string& line : FCapacityLines.Summary()) FConsole.Line(line);
  if (recorder.FileCount() == 0) {
    FConsole.Line("fornax-cli: nothing to write: no file or folder could be added");
    return false;
  }
  return true;
}

std::string TCompilationFeeder::LeftOutMessage() const {
  if (FLeftOut == 0) return "";
  // The scan stops at the first folder that no longer fits, so what lay
  // beyond it was never counted.
  if (FFull)
    return fmt::format("fornax-cli: the compilation filled up: {} entr{} left out, and so was everything in the "
                       "folders not yet scanned then; the messages above name the first ones",
                       GroupedCount(FLeftOut.load()), FLeftOut == 1 ? "y was" : "ies were");
  return fmt::format("fornax-cli: {} entr{} left out; the messages above name them", FLeftOut.load(),
                     FLeftOut == 1 ? "y was" : "ies were");
}

}  // namespace fornax::cli
