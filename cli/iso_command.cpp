#include "cli/iso_command.h"

#include <sys/stat.h>

#include <fmt/format.h>
#include <memory>

#include "cli/compilation_options.h"
#include "cli/console.h"
#include "cli/write_runner.h"
#include "engine/image/stream_ex.h"
#include "engine/recorder.h"

namespace fornax::cli {
namespace {

constexpr const char* kIsoHelp = R"(Build an ISO 9660 image file from files and folders.

The image holds an ISO 9660 file system with short (8.3) names, which every
system can read, and a Joliet tree with the full names (up to 108 characters),
which Linux, macOS and Windows show. Rock Ridge (on unless --no-rock-ridge)
adds each entry's mode, owner, times and whole name to the ISO 9660 tree and
keeps symbolic links as links. Write the image to a disc later with
'fornax-cli burn-iso', mount it, or hand it to a virtual machine. Folders that
end up empty are left out.

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
  TCompilationOptions Compilation;
  bool Quick = false;
};

int RunIso(const TIsoOptions& options) {
  TConsole console;
  const std::vector<TSourceRow> rows = RowsInOrder(options.Compilation);
  std::string problem = CheckSources(options.Compilation, rows);
  struct stat out {};
  if (problem.empty() && ::stat(options.Output.c_str(), &out) == 0 && S_ISDIR(out.st_mode))
    problem = fmt::format("'{}' is a folder; give the name of the image file to write", options.Output);
  if (!problem.empty()) {
    console.Line("fornax-cli: " + problem);
    return 1;
  }

  TQzRecorder recorder;
  TCompilationFeeder feeder(options.Compilation, console);
  feeder.Configure(recorder, options.Output);
  if (!feeder.Feed(recorder, rows)) return 1;

  TWriteRunner runner(recorder, console, false);
  runner.Install();
  std::string error;
  try {
    runner.ShowProgress();
    recorder.BuildISOFile(options.Output, options.Quick);
    error = runner.Finish();
  } catch (const EStreamError& failure) {
    console.StopProgress();
    console.Line(fmt::format("fornax-cli: the image was not written: {}", failure.what()));
    return 1;
  }
  if (!error.empty()) {
    console.Line("fornax-cli: the image was not written: " + error);
    return 1;
  }
  if (options.Compilation.ArchiveOnly) recorder.ClearArchiveBits();

  const int folders = recorder.DirectoryCount();
  const int64_t sectors = options.Quick ? recorder.TrackSectors() : recorder.ImageSectors();
  std::printf("%s: %d files, %d folders, %s (%lld sectors)\n", options.Output.c_str(),
              recorder.FileCount() - folders, folders, FormatMegabytes(sectors * 2048).c_str(),
              static_cast<long long>(sectors));
  if (feeder.LeftOut() > 0) {
    console.Line(feeder.LeftOutMessage());
    return 2;
  }
  return 0;
}

}  // namespace

void AddIsoCommand(CLI::App& app, int& exitCode) {
  auto options = std::make_shared<TIsoOptions>();
  CLI::App* command = app.add_subcommand("iso", "Build an ISO 9660 + Joliet image file");
  command->description(kIsoHelp);
  command->add_option("OUTPUT", options->Output, "Image file to write (replaced if it exists)")->required();
  AddCompilationOptions(*command, options->Compilation);
  command->add_flag("--quick", options->Quick,
                    "Write the image in one pass on this thread, without the read-ahead cache "
                    "(and without padding a small image to 300 sectors)");
  command->callback([options, &exitCode] { exitCode = RunIso(*options); });
}

}  // namespace fornax::cli
