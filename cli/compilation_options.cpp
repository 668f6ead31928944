#include "cli/compilation_options.h"

#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>

#include "engine/recorder.h"

namespace fornax::cli {

void AddCompilationOptions(CLI::App& command, TCompilationOptions& options) {
  options.Command = &command;
  options.PathOption = command.add_option("PATH", options.Paths,
      "Files and folders to write, in this order (a folder brings its subfolders)");
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

bool TCompilationFeeder::IsExcluded(const std::string& path) const {
  if (!FExcludeExists) return false;
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

  recorder.OnDebugMessage = [this](TObject*, const std::string& message, uint8_t type) {
    // A name the disc holds spelled otherwise is told, but nothing is left out.
    const bool renamed = message.find(", TAKEN AS \"") != std::string::npos;
    if ((type == 3 || type == 4) && !renamed) ++FLeftOut;
    if (type == 1 && !FOptions.Verbose) return;
    FConsole.Line(message);
  };
  recorder.OnAddFile = [this](TObject*, const std::string& path, std::string& name, std::string&, TDateTime&, int,
                              int64_t, bool& skip) {
    if (skip) {
      FConsole.Line(">>> NAME LONGER THAN 108 CHARACTERS, NOT ADDED: " + (path.empty() ? name : path));
      ++FLeftOut;
      return;
    }
    if (path.empty()) return;
    // A link leading nowhere is recorded as a link, and nothing is read.
    struct stat own {}, target {};
    if (FOptions.RockRidge && ::lstat(path.c_str(), &own) == 0 && S_ISLNK(own.st_mode) &&
        ::stat(path.c_str(), &target) != 0) {
      ++FAdded;
      return;
    }
    if (IsExcluded(path)) {
      skip = true;  // an image cannot hold itself
      return;
    }
    if (::access(path.c_str(), R_OK) != 0) {
      FConsole.Line(">>> CAN'T READ FILE, NOT ADDED: " + path);
      ++FLeftOut;
      skip = true;
      return;
    }
    ++FAdded;
  };
}

bool TCompilationFeeder::Feed(TQzRecorder& recorder, const std::vector<TSourceRow>& rows, bool keep) {
  if (!keep) recorder.ClearCompilation(600000, 20000);
  FConsole.StartProgress([this] { return fmt::format("Adding files ... {}", FAdded.load()); });
  TPathMode mode = TPathMode::Flat;
  ParsePathMode(FOptions.PathMode, mode);
  FeedCompilation(recorder, rows, mode, FOptions.ArchiveOnly);
  FConsole.StopProgress();
  if (recorder.FileCount() == 0) {
    FConsole.Line("fornax-cli: nothing to write: no file or folder could be added");
    return false;
  }
  return true;
}

std::string TCompilationFeeder::LeftOutMessage() const {
  if (FLeftOut == 0) return "";
  return fmt::format("fornax-cli: {} entr{} left out; the messages above name them", FLeftOut.load(),
                     FLeftOut == 1 ? "y was" : "ies were");
}

}  // namespace fornax::cli
