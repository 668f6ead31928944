#include "cli/disc_commands.h"

#include <sys/stat.h>

#include <filesystem>
#include <fmt/format.h>
#include <memory>

#include "cli/drive_session.h"
#include "engine/base/date_time.h"
#include "engine/base/text.h"
#include "engine/disc/local_names.h"
#include "engine/recorder.h"

namespace fornax::cli {
namespace {

struct TDiscOptions {
  TDriveOptions Drive;
  int Session = 255;
  std::string DiscPath = "/";
  std::string Destination;
};

// Opens the drive and reads a session's tree into the compilation.
bool OpenSession(TDriveSession& session, const TDiscOptions& options, TConsole& console) {
  if (!session.Open() || !session.Select()) return false;
  if (!session.Ready(10000)) return false;
  TQzRecorder& rec = session.Recorder();
  rec.ClearCompilation(600000, 20000);
  return ImportRequestedSession(rec, options.Session, console);
}

// A name of the disc as ls shows it: the local name extraction gives it, or
// the name itself where it has none.
std::string ShownName(const std::string& name) {
  const std::string local = LocalFileName(name);
  return local.empty() ? name : local;
}

std::string DateText(TDateTime value) {
  const TDateTimeParts p = DecodeDateTime(value);
  return fmt::format("{:04d}-{:02d}-{:02d} {:02d}:{:02d}:{:02d}", p.Year, p.Month, p.Day, p.Hour, p.Minute, p.Second);
}

// The entry at a path of the disc ("/docs/a.txt"); the root gives null with found set.
const TFEntry* FindPath(TQzRecorder& rec, const std::string& path, bool& found) {
  found = true;
  const TDEntry* dir = rec.RootDirectory();
  const TFEntry* entry = nullptr;
  size_t start = 0;
  while (start < path.size()) {
    const size_t end = std::min(path.find('/', start), path.size());
    const std::string part = path.substr(start, end - start);
    start = end + 1;
    if (part.empty()) continue;
    if (!dir) break;
    entry = rec.FindEntry(dir, part);
    if (!entry) entry = rec.FindEntry(dir, part + ".");
    if (!entry) {
      found = false;
      return nullptr;
    }
    dir = entry->Directory;
  }
  return entry;
}

void List(const TDEntry* dir, const std::string& prefix) {
  for (const TFEntry* e = dir->FirstEntry; e; e = e->Next) {
    const std::string name = prefix + ShownName(e->LongName);
    if (e->IsDirectory()) {
      std::printf("d %14s  %s  %s/\n", "-", DateText(e->DateTime).c_str(), name.c_str());
      List(e->Directory, name + "/");
    } else {
      std::printf("f %14lld  %s  %s\n", static_cast<long long>(e->ISOSize), DateText(e->DateTime).c_str(), name.c_str());
    }
  }
}

int Sessions(const TDiscOptions& options) {
  TConsole console;
  TDriveSession session(options.Drive, console);
  if (!session.Open() || !session.Select() || !session.Ready(10000)) return 1;
  TQzRecorder& rec = session.Recorder();
  const int count = rec.SessionCount();
  if (count == 0) {
    std::printf("The disc holds no session.\n");
    return 0;
  }
  std::printf("%s", kSessionTableHeader);
  const bool open = rec.HasOpenSession();
  TDiscSessions sessions(rec);
  int unknown = 0;
  for (int n = 1; n <= count; ++n) {
    TSessionExtent extent;
    if (!sessions.Extent(n, extent)) {
      const std::string reason = rec.LastError().empty() ? "" : ": " + rec.LastError();
      console.Line(fmt::format("fornax-cli: the drive does not tell where session {} lies{}", n, reason));
      ++unknown;
      continue;
    }
    const bool cutShort = rec.SessionCutShort(n);
    const char* note = cutShort ? "  cut short by an interrupted write: its files are not whole"
                       : open && n == count ? "  open (not closed yet)"
                                            : "";
    std::printf("%s", SessionRow(n, extent, note).c_str());
  }
  return unknown == 0 ? 0 : 1;
}

// Reads the session and finds the path asked for in it: `entry` is null for
// the root. False, with a message, when either fails.
bool OpenDiscPath(TDriveSession& session, const TDiscOptions& options, TConsole& console, const TFEntry*& entry) {
  if (!OpenSession(session, options, console)) return false;
  bool found = false;
  entry = FindPath(session.Recorder(), options.DiscPath, found);
  if (!found) console.Line(fmt::format("fornax-cli: the session holds no '{}'", options.DiscPath));
  return found;
}

int Ls(const TDiscOptions& options) {
  TConsole console;
  TDriveSession session(options.Drive, console);
  const TFEntry* entry = nullptr;
  if (!OpenDiscPath(session, options, console, entry)) return 1;
  TQzRecorder& rec = session.Recorder();
  if (entry && !entry->IsDirectory()) {
    std::printf("f %14lld  %s  %s\n", static_cast<long long>(entry->ISOSize), DateText(entry->DateTime).c_str(),
                options.DiscPath.c_str());
    return 0;
  }
  std::string prefix = options.DiscPath;
  if (prefix.empty() || prefix.back() != '/') prefix += '/';
  List(entry ? entry->Directory : rec.RootDirectory(), prefix);
  return 0;
}

// Extracts a folder of the disc, or a file, below `destination`, the one
// path taken as the user gave it: whatever the disc's names, nothing is made
// outside it and no link is followed there.
int ExtractFolder(TQzRecorder& rec, const TFEntry* entry, const std::string& destination, TConsole& console) {
  std::string error;
  TExtractionFolder folder = TExtractionFolder::OpenDestination(destination, error);
  std::string shown = destination;
  if (folder.Opened() && entry) {
    const std::string name = LocalFileName(entry->LongName);
    shown = name.empty() ? destination : folder.PathOf(name);
    if (name.empty()) error = fmt::format("the name '{}' is not safe as a local file name", entry->LongName);
    folder = name.empty() ? TExtractionFolder() : folder.Subfolder(name, error);
  }
  TTreeExtraction result;
  result.OnFailure = [&console](const std::string& failure) { console.Line("fornax-cli: " + failure); };
  if (folder.Opened()) {
    rec.ExtractTree(entry ? entry->Directory : rec.RootDirectory(), folder, result);
  } else {
    result.OnFailure(error);
    result.Failures.push_back(error);
  }
  if (!result.Failures.empty()) {
    console.Line(fmt::format("fornax-cli: extracted {} files into {}; {} could not be (named above)", result.Files,
                             shown, result.Failures.size()));
    return 1;
  }
  std::printf("Extracted %d files into %s\n", result.Files, shown.c_str());
  return 0;
}

int Extract(const TDiscOptions& options) {
  TConsole console;
  TDriveSession session(options.Drive, console);
  const TFEntry* entry = nullptr;
  if (!OpenDiscPath(session, options, console, entry)) return 1;
  TQzRecorder& rec = session.Recorder();
  if (entry && entry->IsDirectory()) return ExtractFolder(rec, entry, options.Destination, console);
  if (!entry) return ExtractFolder(rec, nullptr, options.Destination, console);
  std::string destination = options.Destination;
  std::error_code error;
  if (std::filesystem::is_directory(destination, error)) {
    const std::string name = LocalFileName(entry->LongName);
    if (name.empty()) {
      console.Line(fmt::format("fornax-cli: cannot extract '{}': the name is not safe as a local file name",
                               options.DiscPath));
      return 1;
    }
    destination = (std::filesystem::path(destination) / name).string();
  }
  if (!rec.ExtractFile(entry, destination)) {
    console.Line(fmt::format("fornax-cli: cannot extract '{}': {}", options.DiscPath, rec.ExtractError()));
    return 1;
  }
  std::printf("Extracted %s\n", destination.c_str());
  return 0;
}

void AddSessionOption(CLI::App& command, TDiscOptions& options) {
  command.add_option("-s,--session", options.Session, "The session (1 is the first; -1 or 255: the last)")
      ->capture_default_str();
}

}  // namespace

void AddDiscCommands(CLI::App& app, int& exitCode) {
  auto sessions = std::make_shared<TDiscOptions>();
  CLI::App* sessionsCommand = app.add_subcommand("sessions", "List the sessions of the disc: number, start, size");
  AddDriveOptions(*sessionsCommand, sessions->Drive);
  sessionsCommand->callback([sessions, &exitCode] { exitCode = Sessions(*sessions); });

  auto ls = std::make_shared<TDiscOptions>();
  CLI::App* lsCommand = app.add_subcommand("ls", "List the files of a session of the disc (names, sizes, dates)");
  AddDriveOptions(*lsCommand, ls->Drive);
  AddSessionOption(*lsCommand, *ls);
  lsCommand->add_option("PATH", ls->DiscPath, "A folder or file of the disc (default: all of it)");
  lsCommand->callback([ls, &exitCode] { exitCode = Ls(*ls); });

  auto extract = std::make_shared<TDiscOptions>();
  CLI::App* extractCommand = app.add_subcommand(
      "extract", "Copy a file, or a whole folder, from a session of the disc to this computer");
  AddDriveOptions(*extractCommand, extract->Drive);
  AddSessionOption(*extractCommand, *extract);
  extractCommand->add_option("DISC_PATH", extract->DiscPath, "The file or folder on the disc ('/' for all)")->required();
  extractCommand->add_option("DEST", extract->Destination,
                             "Where to put it: a file name, or a folder (a folder is copied into it)")
      ->required();
  extractCommand->callback([extract, &exitCode] { exitCode = Extract(*extract); });
}

}  // namespace fornax::cli
