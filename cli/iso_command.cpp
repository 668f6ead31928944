#include "cli/iso_command.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fmt/format.h>
#include <memory>

#include "cli/compilation_feed.h"
#include "cli/console.h"
#include "engine/image/stream_ex.h"
#include "engine/recorder.h"

namespace fornax::cli {
namespace {

constexpr const char* kIsoHelp = R"(Build an ISO 9660 image file from files and folders.

The image holds an ISO 9660 file system with short (8.3) names, which every
system can read, and a Joliet tree with the full names (up to 108 characters),
which Linux, macOS and Windows show. Write the image to a disc later with any
burning tool, mount it, or hand it to a virtual machine.

Examples:
  fornax-cli iso backup.iso ~/Documents
      puts the contents of Documents in the root of the image
  fornax-cli iso photos.iso --paths last ~/Pictures/2024 ~/Pictures/2025
      keeps the folders 2024 and 2025 in the image
  fornax-cli iso boot.iso --boot floppy.img --volume RESCUE tools/
      makes a bootable image labelled RESCUE

Exit status: 0 the image holds everything asked for; 1 nothing was written
(the reason is printed); 2 the image was written but some entries were left
out (the messages above the summary name them).)";

struct TIsoOptions {
  std::string Output;
  std::vector<std::string> Paths;
  std::vector<std::string> ShallowFolders;
  std::string Volume;
  std::string BootImage;
  std::string PathMode = "flat";
  bool NoJoliet = false;
  bool ArchiveOnly = false;
  bool Verbose = false;
};

// Rows in the order the user gave them, whether as PATH or as --no-recurse.
std::vector<TSourceRow> RowsInOrder(const CLI::App& command, const CLI::Option* paths,
                                    const CLI::Option* shallow, const TIsoOptions& options) {
  std::vector<TSourceRow> rows;
  size_t nextPath = 0, nextShallow = 0;
  for (const CLI::Option* option : command.parse_order()) {
    if (option == paths && nextPath < options.Paths.size())
      rows.push_back({options.Paths[nextPath++], true});
    else if (option == shallow && nextShallow < options.ShallowFolders.size())
      rows.push_back({options.ShallowFolders[nextShallow++], false});
  }
  return rows;
}

// Problems the user can mend before any work starts.
std::string CheckInputs(const TIsoOptions& options, const std::vector<TSourceRow>& rows) {
  if (rows.empty()) return "name at least one file or folder to put in the image";
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
  struct stat out {};
  if (::stat(options.Output.c_str(), &out) == 0 && S_ISDIR(out.st_mode))
    return fmt::format("'{}' is a folder; give the name of the image file to write", options.Output);
  return "";
}

class TIsoBuild {
 public:
  TIsoBuild(const TIsoOptions& options, TConsole& console) : FOptions(options), FConsole(console) {}

  int Run(const std::vector<TSourceRow>& rows) {
    TQzRecorder recorder;
    Configure(recorder);
    recorder.ClearCompilation(600000, 20000);

    FConsole.StartProgress([this] { return fmt::format("Adding files ... {}", FAdded.load()); });
    TPathMode mode = TPathMode::Flat;
    ParsePathMode(FOptions.PathMode, mode);
    FeedCompilation(recorder, rows, mode, FOptions.ArchiveOnly);
    FConsole.StopProgress();
    if (recorder.FileCount() == 0) {
      FConsole.Line("fornax-cli: nothing to write: no file or folder could be added");
      return 1;
    }

    const bool verbose = FOptions.Verbose;
    recorder.DoDebug = false;  // the build below lays out again and reports then
    recorder.PrepareImage(true, nullptr);
    const int64_t total = recorder.Layout().TrackSectors * 2048;
    recorder.DoDebug = verbose;

    std::string writeError;
    recorder.OnWriteDone = [&](TObject*, const std::string& error) { writeError = error; };
    const auto started = std::chrono::steady_clock::now();
    FConsole.StartProgress([&] { return WriteProgress(recorder.BytesWritten(), total, started); });
    try {
      recorder.BuildISOFile(FOptions.Output, true);
    } catch (const EStreamError& error) {
      FConsole.StopProgress();
      FConsole.Line(fmt::format("fornax-cli: the image was not written: {}", error.what()));
      return 1;
    }
    FConsole.StopProgress();
    if (!writeError.empty()) {
      FConsole.Line("fornax-cli: " + writeError);
      return 1;
    }
    if (FOptions.ArchiveOnly) recorder.ClearArchiveBits();

    const int folders = recorder.DirectoryCount();
    std::printf("%s: %d files, %d folders, %s (%lld sectors)\n", FOptions.Output.c_str(),
                recorder.FileCount() - folders, folders, FormatMegabytes(total).c_str(),
                static_cast<long long>(recorder.Layout().TrackSectors));
    if (FLeftOut > 0) {
      FConsole.Line(fmt::format("fornax-cli: {} entr{} left out; the messages above name them",
                                FLeftOut.load(), FLeftOut == 1 ? "y was" : "ies were"));
      return 2;
    }
    return 0;
  }

 private:
  void Configure(TQzRecorder& recorder) {
    recorder.JolietFileSystem = !FOptions.NoJoliet;
    recorder.IdVolume = FOptions.Volume;
    recorder.Bootable = !FOptions.BootImage.empty();
    recorder.BootImageFile = FOptions.BootImage;
    recorder.DoDebug = FOptions.Verbose;
    struct stat out {};
    FOutputExists = ::stat(FOptions.Output.c_str(), &out) == 0;
    FOutputDevice = out.st_dev;
    FOutputInode = out.st_ino;

    recorder.OnDebugMessage = [this](TObject*, const std::string& message, uint8_t type) {
      if (type == 3 || type == 4) ++FLeftOut;
      if (type == 1 && !FOptions.Verbose) return;
      FConsole.Line(message);
    };
    recorder.OnAddFile = [this](TObject*, const std::string& path, std::string& longName,
                                std::string&, TDateTime&, int, int64_t, bool& skip) {
      if (skip) {
        FConsole.Line(">>> NAME LONGER THAN 108 CHARACTERS, NOT ADDED: " + path);
        ++FLeftOut;
        return;
      }
      if (path.empty()) return;
      if (IsOutputFile(path)) {
        skip = true;  // an image cannot hold itself
        return;
      }
      if (::access(path.c_str(), R_OK) != 0) {
        FConsole.Line(">>> CAN'T READ FILE, NOT ADDED: " + path);
        ++FLeftOut;
        skip = true;
        return;
      }
      (void)longName;
      ++FAdded;
    };
  }

  bool IsOutputFile(const std::string& path) const {
    if (!FOutputExists) return false;
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && st.st_dev == FOutputDevice && st.st_ino == FOutputInode;
  }

  static std::string WriteProgress(int64_t written, int64_t total,
                                   std::chrono::steady_clock::time_point started) {
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const double percent = total > 0 ? 100.0 * static_cast<double>(written) / static_cast<double>(total) : 0;
    const double speed = seconds > 0 ? static_cast<double>(written) / seconds / 1e6 : 0;
    return fmt::format("Writing {} of {}  {:3.0f}%  {:.1f} MB/s", FormatMegabytes(written),
                       FormatMegabytes(total), percent, speed);
  }

  const TIsoOptions& FOptions;
  TConsole& FConsole;
  std::atomic<int64_t> FAdded{0};
  std::atomic<int> FLeftOut{0};
  bool FOutputExists = false;
  dev_t FOutputDevice = 0;
  ino_t FOutputInode = 0;
};

}  // namespace

void AddIsoCommand(CLI::App& app, int& exitCode) {
  auto options = std::make_shared<TIsoOptions>();
  CLI::App* command = app.add_subcommand("iso", "Build an ISO 9660 + Joliet image file");
  command->description(kIsoHelp);
  command->add_option("OUTPUT", options->Output, "Image file to write (replaced if it exists)")->required();
  CLI::Option* paths = command->add_option("PATH", options->Paths,
      "Files and folders to put in the image, in this order (a folder brings its subfolders)");
  CLI::Option* shallow = command->add_option("-n,--no-recurse", options->ShallowFolders,
      "A folder whose own files go in, without its subfolders (repeat as needed)")
      ->type_name("FOLDER")->allow_extra_args(false);
  command->add_option("-p,--paths", options->PathMode,
      "Where folders go: flat (contents in the root), full (the whole source path), last (only the last folder)")
      ->check(CLI::IsMember({"flat", "full", "last"}))->capture_default_str();
  command->add_option("-V,--volume", options->Volume, "Volume label shown by file managers");
  command->add_option("-b,--boot", options->BootImage, "Make the image bootable with this El Torito boot image");
  command->add_flag("--no-joliet", options->NoJoliet, "Leave out the Joliet tree (only 8.3 names)");
  command->add_flag("-a,--archive-only", options->ArchiveOnly,
      "Only files changed since they were last archived; marks them archived after a good build");
  command->add_flag("-v,--verbose", options->Verbose, "Also show the layout report");

  command->callback([command, paths, shallow, options, &exitCode] {
    TConsole console;
    const std::vector<TSourceRow> rows = RowsInOrder(*command, paths, shallow, *options);
    const std::string problem = CheckInputs(*options, rows);
    if (!problem.empty()) {
      console.Line("fornax-cli: " + problem);
      exitCode = 1;
      return;
    }
    TIsoBuild build(*options, console);
    exitCode = build.Run(rows);
  });
}

}  // namespace fornax::cli
