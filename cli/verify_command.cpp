#include "cli/verify_command.h"

#include <algorithm>
#include <filesystem>
#include <fmt/format.h>
#include <memory>

#include "cli/drive_session.h"
#include "engine/recorder.h"

namespace fornax::cli {
namespace {

constexpr const char* kVerifyHelp = R"(Compare the files of a session of the disc with local files and folders.

Every file of the session is read back through the drive and compared byte
for byte (by a 128-bit hash) with the local file of the same path. The
sources are mapped as 'burn' maps them (-p flat: a folder's contents in the
root); a session without a Joliet tree has its names compared without case.
Files on one side only are named too.

Examples:
  fornax-cli verify ~/Documents
  fornax-cli verify --session 2 -p last photos/2024

Exit status: 0 the session holds the sources; 1 it could not be read;
3 some files differ, cannot be read or are on one side only (named).)";

struct TVerifyOptions {
  TDriveOptions Drive;
  int Session = 255;
  std::string PathMode = "flat";
  std::vector<std::string> Sources;
};

std::string DiscPathOf(const std::filesystem::path& relative) { return "/" + relative.generic_string(); }

// Where a source's own files go: the prefix its relative paths get.
std::string PrefixFor(const std::filesystem::path& source, const std::string& mode) {
  if (mode == "last") return "/" + source.filename().string();
  if (mode == "full") return "/" + std::filesystem::absolute(source).lexically_normal().relative_path().generic_string();
  return "";
}

int RunVerify(const TVerifyOptions& options) {
  TConsole console;
  std::vector<TLocalFile> locals;
  std::string problem;
  if (!MapSources(options.Sources, options.PathMode, locals, problem)) {
    console.Line("fornax-cli: " + problem);
    return 1;
  }
  TDriveSession session(options.Drive, console);
  if (!session.Open() || !session.Select() || !session.Ready(10000)) return 1;
  TQzRecorder& rec = session.Recorder();
  const int count = rec.SessionCount();
  if (count == 0) {
    console.Line("fornax-cli: the disc holds no session");
    return 1;
  }
  const int wanted = options.Session < 0 ? 255 : options.Session;
  if (wanted == 0 || (wanted != 255 && wanted > count)) {
    console.Line(fmt::format("fornax-cli: the disc holds {} session(s); there is no session {}", count, options.Session));
    return 1;
  }
  return ReportVerify(rec.VerifySession(wanted, locals), console);
}

}  // namespace

int ReportVerify(const TVerifyReport& report, TConsole& console) {
  for (const TFileProblem& p : report.Problems) console.Line("fornax-cli: verify: " + ProblemText(p));
  if (!report.Ran) {
    console.Line("fornax-cli: " + VerifySummary(report));
    return 1;
  }
  std::printf("%s\n", VerifySummary(report).c_str());
  return report.Passed() ? 0 : kExitVerifyFailed;
}

int ReportImageVerify(const TVerifyReport& report, int64_t sectors, TConsole& console) {
  for (const TFileProblem& p : report.Problems) console.Line("fornax-cli: verify: " + ProblemText(p));
  std::printf("%s\n", ImageVerifySummary(report, sectors).c_str());
  return report.Passed() ? 0 : kExitVerifyFailed;
}

bool MapSources(const std::vector<std::string>& sources, const std::string& mode, std::vector<TLocalFile>& files,
                std::string& problem) {
  namespace fs = std::filesystem;
  if (mode != "flat" && mode != "last" && mode != "full") {
    problem = fmt::format("'{}' is no path mode; give flat, full or last", mode);
    return false;
  }
  for (const std::string& text : sources) {
    fs::path source(text);
    while (source.has_filename() == false && source.has_parent_path() && source != source.root_path())
      source = source.parent_path();  // "photos/" names the folder photos
    std::error_code error;
    if (fs::is_regular_file(source, error)) {
      const std::string prefix = mode == "full" ? PrefixFor(source.parent_path(), mode) : "";
      files.push_back({prefix + "/" + source.filename().string(), source.string()});
      continue;
    }
    if (!fs::is_directory(source, error)) {
      problem = fmt::format("cannot find '{}'", text);
      return false;
    }
    const std::string prefix = PrefixFor(source, mode);
    // Links to folders are not followed, as the burn does not follow them.
    fs::recursive_directory_iterator walk(source, fs::directory_options::skip_permission_denied, error);
    for (; !error && walk != fs::recursive_directory_iterator(); walk.increment(error)) {
      if (!walk->is_regular_file(error)) continue;
      files.push_back({prefix + DiscPathOf(fs::relative(walk->path(), source)), walk->path().string()});
    }
    if (error) {
      problem = fmt::format("cannot walk '{}': {}", text, error.message());
      return false;
    }
  }
  std::sort(files.begin(), files.end(), [](const TLocalFile& a, const TLocalFile& b) { return a.DiscPath < b.DiscPath; });
  return true;
}

void AddVerifyCommand(CLI::App& app, int& exitCode) {
  auto options = std::make_shared<TVerifyOptions>();
  CLI::App* command = app.add_subcommand("verify", "Compare the files of a session of the disc with local files");
  command->description(kVerifyHelp);
  AddDriveOptions(*command, options->Drive);
  command->add_option("-s,--session", options->Session, "The session (1 is the first; -1 or 255: the last)")
      ->capture_default_str();
  command->add_option("-p,--paths", options->PathMode, "Where the sources lie on the disc: flat, full or last")
      ->capture_default_str();
  command->add_option("SOURCE", options->Sources, "Files and folders, as given to burn")->required();
  command->callback([options, &exitCode] { exitCode = RunVerify(*options); });
}

}  // namespace fornax::cli
