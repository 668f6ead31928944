#include "cli/read_iso_command.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>

#include "cli/drive_session.h"
#include "engine/disc/disc_image_copy.h"
#include "engine/disc/drive_session_source.h"
#include "engine/disc/sector_map.h"
#include "engine/disc/volume_descriptors.h"
#include "engine/drive/medium_queries.h"
#include "engine/recorder.h"

namespace fornax::cli {
namespace {

constexpr const char* kReadIsoHelp = R"(Copy the disc in the drive into an ISO image file.

Without --session the image holds the whole disc: sector N of the disc at byte
N x 2048 of the file, from sector 0 to the end of the last session (on a
DVD+RW, DVD-RAM or restricted-overwrite DVD-RW: to the end of the file system
at its start). What lies between sessions (a CD's lead-out and lead-in) is
zeros. Mounted or opened, such an image shows the first session; xorriso's
'-load sbsector START' shows any other ('fornax-cli sessions' lists where each
starts).

With --session N the image is that session as a disc of its own, the one every
program opens: its file system names sectors by their number on the disc, so
each sector keeps its number (the image is as large as the disc up to the
session's end, and sparse), the sectors of earlier sessions that its files lie
on (files it took over from them) are copied to their places too, and its
descriptors are copied to sector 16, where readers look for them.

The disc is read 32 sectors at a time. A read that fails is tried again, then
sector by sector, so that only the sectors that cannot be read are lost: they
are zeros in the image, and at the end their numbers and the files and folders
they belong to are listed. The image is written to OUTPUT.part and renamed when
it is done.

Examples:
  fornax-cli read-iso disc.iso               the whole disc
  fornax-cli read-iso last.iso --session -1  the last session, for any program

Exit status: 0 every sector was read; 1 no image was written (the reason is
printed); 2 the image was written, but some sectors could not be read (listed
with what they belong to).)";

struct TReadIsoOptions {
  TDriveOptions Drive;
  std::string Output;
  bool SessionGiven = false;  // without it, the whole disc
  int Session = 0;            // -1 or 255: the last session
  bool Force = false;
};

constexpr int kNotesShown = 10;

std::atomic<bool> gInterrupted{false};

void OnInterrupt(int) { gInterrupted = true; }

// Ctrl-C (or a plain kill) stops the copy between two reads, so that the
// unfinished file is removed; the handlers before are back afterwards.
class TInterruptGuard {
 public:
  TInterruptGuard() {
    gInterrupted = false;
    struct sigaction action {};
    action.sa_handler = &OnInterrupt;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, &FPreviousInt);
    ::sigaction(SIGTERM, &action, &FPreviousTerm);
  }
  ~TInterruptGuard() {
    ::sigaction(SIGINT, &FPreviousInt, nullptr);
    ::sigaction(SIGTERM, &FPreviousTerm, nullptr);
  }

 private:
  struct sigaction FPreviousInt {};
  struct sigaction FPreviousTerm {};
};

// The disc's sectors with the sessions where this command found them (a
// session may hold several tracks; the table of contents alone may not say
// where an earlier one ends).
class TKnownSessions : public TSessionSource {
 public:
  TKnownSessions(TSectorSource& sectors, std::vector<TSectorSpan> sessions)
      : FSectors(sectors), FSessions(std::move(sessions)) {}
  bool ReadSectors(uint32_t lba, uint32_t count, uint8_t* out) override {
    return FSectors.ReadSectors(lba, count, out);
  }
  std::string LastError() const override { return FSectors.LastError(); }
  int SessionCount() override { return static_cast<int>(FSessions.size()); }
  bool SessionStart(int session, uint32_t& start) override {
    if (session < 1 || session > SessionCount()) return false;
    start = FSessions[session - 1].First;
    return true;
  }
  bool SessionRecordedEnd(int session, uint32_t& end) override {
    if (session < 1 || session > SessionCount()) return false;
    end = static_cast<uint32_t>(FSessions[session - 1].End());
    return true;
  }

 private:
  TSectorSource& FSectors;
  std::vector<TSectorSpan> FSessions;
};

std::string Plural(uint64_t n, const char* one, const char* many) {
  return fmt::format("{} {}", n, n == 1 ? one : many);
}

// Whether OUTPUT may be written; the reason when it may not.
std::string OutputRefusal(const TReadIsoOptions& o, const std::string& part) {
  struct stat st {};
  if (::stat(o.Output.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return fmt::format("'{}' is a folder; give the name of the image file to write", o.Output);
    if (!o.Force) return fmt::format("'{}' exists; give --force to replace it", o.Output);
  }
  if (::lstat(part.c_str(), &st) == 0 && !o.Force)
    return fmt::format("'{}' exists (left by a read-iso that was stopped?); remove it or give --force", part);
  return "";
}

// Where every session lies; false with a message when the disc holds none
// or the drive does not tell.
bool FindSessions(TQzRecorder& rec, TConsole& console, std::vector<TSectorSpan>& sessions) {
  if (IsOverwritableMedium(rec.MediumType())) {
    // One track whatever it holds: the file system at its start says how far.
    const uint32_t end = rec.FileSystemSectors();
    if (end == 0) {
      console.Line("fornax-cli: the disc holds no ISO 9660 file system at its start: there is nothing to read");
      return false;
    }
    sessions.push_back({0, end});
    return true;
  }
  const int count = rec.SessionCount();
  if (count == 0) {
    console.Line("fornax-cli: the disc is blank: there is nothing to read");
    return false;
  }
  for (int n = 1; n <= count; ++n) {
    TSectorSpan extent;
    if (!RecordedSessionExtent(rec, n, extent)) {
      const std::string reason = rec.LastError().empty() ? "" : ": " + rec.LastError();
      console.Line(fmt::format("fornax-cli: the drive does not tell where session {} lies{}", n, reason));
      return false;
    }
    sessions.push_back(extent);
  }
  return true;
}

struct TReadPlan {
  TImagePlan Image;
  int Session = 0;                   // 0: the whole disc
  std::vector<TSectorOwner> Owners;  // of the session, found before the copy
  std::string Description;
};

// The plan of one session as an image of its own; false with a message.
bool PlanSession(TKnownSessions& disc, const std::vector<TSectorSpan>& sessions, int requested, TQzRecorder& rec,
                 const TLogLine& log, TConsole& console, TReadPlan& plan) {
  const int count = static_cast<int>(sessions.size());
  const int n = requested < 0 || requested == 255 ? count : requested;
  if (n < 1 || n > count) {
    console.Line(fmt::format("fornax-cli: there is no session {}; the disc holds {} (1 to {})", requested,
                             count == 1 ? "one session" : fmt::format("{} sessions", count), count));
    return false;
  }
  const TSectorSpan extent = sessions[n - 1];
  std::string unreadable;  // why a descriptor sector could not be read
  const TDescriptorSet set = ScanDescriptorSet(
      [&](uint32_t lba, uint8_t* sector) {
        if (disc.ReadSectors(lba, 1, sector)) return true;
        unreadable = fmt::format("sector {}: {}", lba, disc.LastError());
        return false;
      },
      extent.First);
  if (!set.Found && extent.First > 0) {
    console.Line(unreadable.empty()
                     ? fmt::format("fornax-cli: session {} holds no ISO 9660 file system (no volume descriptor at "
                                   "sector {}): an image of it alone would not be readable",
                                   n, extent.First + 16)
                     : fmt::format("fornax-cli: the volume descriptors of session {} cannot be read ({}): an image "
                                   "of it alone would not be readable; read the whole disc instead",
                                   n, unreadable));
    return false;
  }
  plan.Session = n;
  plan.Owners = SessionSectorOwners(disc, n, rec.Compilation(), log);
  const TSectorSet below = OwnedSectorsBelow(plan.Owners, extent.First);
  std::string refusal;
  if (!SessionImagePlan(extent, 16 + set.Sectors, below, plan.Image, refusal)) {
    console.Line(fmt::format("fornax-cli: session {} cannot be made an image of its own: {}", n, refusal));
    return false;
  }
  if (set.VolumeEnd > extent.End())
    console.Line(
        fmt::format("fornax-cli: session {} was cut short by an interrupted write: its file system claims "
                    "sectors up to {}, the disc holds them up to {}; files beyond are not on the disc",
                    n, set.VolumeEnd - 1, extent.End() - 1));
  plan.Description = fmt::format("session {} (sectors {} to {})", n, extent.First, extent.End() - 1);
  if (!below.Empty())
    plan.Description += fmt::format(", with {} of earlier sessions that its files lie on",
                                    Plural(below.Sectors(), "sector", "sectors"));
  return true;
}

std::string ProgressLine(const TDiscImageCopy& copy, uint64_t total, std::chrono::steady_clock::time_point started) {
  const uint64_t done = copy.SectorsDone();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  const double percent = total > 0 ? 100.0 * static_cast<double>(done) / static_cast<double>(total) : 0;
  std::string line = fmt::format("Reading {} of {}  {:3.0f}%", FormatMegabytes(static_cast<int64_t>(done * 2048)),
                                 FormatMegabytes(static_cast<int64_t>(total * 2048)), percent);
  if (seconds > 0) line += fmt::format("  {:.0f} KB/s", static_cast<double>(done) * 2.048 / seconds);
  if (const uint64_t bad = copy.UnreadableCount(); bad > 0)
    line += fmt::format("  unreadable: {}", Plural(bad, "sector", "sectors"));
  return line;
}

// Lists the unreadable sectors and what they belong to.
void ReportDamage(const TSectorSet& bad, const std::vector<TSectorOwner>& owners, bool sessions, TConsole& console) {
  console.Line(fmt::format("fornax-cli: {} could not be read; {} zeros in the image: {}",
                           Plural(bad.Sectors(), "sector", "sectors"), bad.Sectors() == 1 ? "it is" : "they are",
                           SectorSpansText(bad.Ranges())));
  const TDamageReport report = MapDamage(owners, bad);
  console.Line("fornax-cli: what the unreadable sectors belong to:");
  for (const std::string& line : DamageLines(report, sessions)) console.Line("  " + line);
}

int ReadIso(const TReadIsoOptions& o) {
  TConsole console;
  const std::string part = o.Output + ".part";
  if (const std::string refusal = OutputRefusal(o, part); !refusal.empty()) {
    console.Line("fornax-cli: " + refusal);
    return 1;
  }

  TDriveSession drive(o.Drive, console);
  if (!drive.Open() || !drive.Select() || !drive.Ready(10000)) return 1;
  TQzRecorder& rec = drive.Recorder();
  std::vector<TSectorSpan> sessions;
  if (!FindSessions(rec, console, sessions)) return 1;
  TDriveSessionSource drivesSectors(rec, [&sessions] { return static_cast<int>(sessions.size()); });
  TKnownSessions disc(drivesSectors, sessions);
  // What the readers of the trees complain of is for --verbose.
  const TLogLine log = [&](const std::string& message, uint8_t) {
    if (o.Drive.Verbose) console.Line(message);
  };

  TReadPlan plan;
  if (o.SessionGiven) {
    if (!PlanSession(disc, sessions, o.Session, rec, log, console, plan)) return 1;
  } else {
    plan.Image = WholeDiscPlan(sessions);
    plan.Description = fmt::format("the disc ({}, sectors 0 to {})", Plural(sessions.size(), "session", "sessions"),
                                   plan.Image.ImageSectors - 1);
  }
  TSectorSet wanted;  // every disc sector the plan reads, once
  for (const TImagePiece& piece : plan.Image.Pieces) wanted.Add(piece.DiscFirst, piece.Count);

  TInterruptGuard interrupts;
  const int fd = ::open(part.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (o.Force ? O_TRUNC : O_EXCL), 0666);
  if (fd < 0) {
    console.Line(fmt::format("fornax-cli: cannot create '{}': {}", part, std::strerror(errno)));
    return 1;
  }
  const auto fail = [&](const std::string& why) {
    ::close(fd);
    ::unlink(part.c_str());
    console.Line("fornax-cli: no image written: " + why);
    return 1;
  };

  TDiscImageCopy copy(disc, fd);
  copy.ReadEndsCopy = [&rec] { return rec.NoMedium(); };
  copy.Cancelled = [] { return gInterrupted.load(); };
  // A badly damaged disc would fill the screen: the first few are told.
  int notes = 0;
  copy.OnNote = [&console, &notes](const std::string& note) {
    if (++notes <= kNotesShown) console.Line("fornax-cli: " + note);
    if (notes == kNotesShown + 1) console.Line("fornax-cli: more sectors are being read one by one (not listed)");
  };
  const uint64_t total = plan.Image.SectorsToRead();
  const auto started = std::chrono::steady_clock::now();
  console.StartProgress([&copy, total, started] { return ProgressLine(copy, total, started); });
  const bool copied = copy.Run(plan.Image);
  console.StopProgress();
  if (!copied) return fail(copy.Error());
  if (copy.Unreadable().Sectors() >= wanted.Sectors()) return fail("not one sector of the disc could be read");
  if (::fsync(fd) != 0) return fail(fmt::format("cannot write '{}': {}", part, std::strerror(errno)));
  if (::close(fd) != 0) {
    ::unlink(part.c_str());
    console.Line(fmt::format("fornax-cli: no image written: cannot write '{}': {}", part, std::strerror(errno)));
    return 1;
  }
  // Without --force, an OUTPUT made meanwhile by someone else is not replaced
  // (where the file system cannot tell, a plain rename).
  int renamed = o.Force ? ::rename(part.c_str(), o.Output.c_str())
                        : ::renameat2(AT_FDCWD, part.c_str(), AT_FDCWD, o.Output.c_str(), RENAME_NOREPLACE);
  if (renamed != 0 && !o.Force && (errno == EINVAL || errno == ENOSYS))
    renamed = ::rename(part.c_str(), o.Output.c_str());
  if (renamed != 0 && errno == EEXIST) {
    console.Line(
        fmt::format("fornax-cli: '{}' was made by another program while the disc was read; the image is "
                    "left as '{}'",
                    o.Output, part));
    return 1;
  }
  if (renamed != 0) {
    const std::string why = std::strerror(errno);
    ::unlink(part.c_str());
    console.Line(fmt::format("fornax-cli: no image written: cannot rename '{}' to '{}': {}", part, o.Output, why));
    return 1;
  }

  const auto bytes = static_cast<int64_t>(plan.Image.ImageSectors * 2048);
  fmt::print("{}: {} ({} sectors), {}\n", o.Output, FormatMegabytes(bytes), plan.Image.ImageSectors, plan.Description);
  if (copy.RecoveredReads() > 0)
    fmt::print("{} failed and read well when tried again\n", Plural(copy.RecoveredReads(), "read", "reads"));
  std::fflush(stdout);
  if (copy.Unreadable().Empty()) return 0;

  // The image now holds what could be read: the trees are read from it, the
  // unreadable sectors being zeros there, rather than from the disc again.
  std::vector<TSectorOwner> owners = plan.Owners;
  std::vector<int> unnamed;  // sessions whose descriptors were lost
  if (plan.Session == 0) {
    std::vector<uint32_t> starts;
    for (const TSectorSpan& s : sessions) starts.push_back(s.First);
    TImageFileSource image(o.Output, starts);
    for (int n = 1; image.Opened() && n <= static_cast<int>(sessions.size()); ++n) {
      const std::vector<TSectorOwner> found = SessionSectorOwners(image, n, rec.Compilation(), log);
      if (found.empty() && copy.Unreadable().Contains(sessions[n - 1].First + 16)) unnamed.push_back(n);
      MergeOwners(owners, found);
    }
  }
  ReportDamage(copy.Unreadable(), owners, plan.Session == 0 && sessions.size() > 1, console);
  for (const int n : unnamed)
    console.Line(
        fmt::format("fornax-cli: the volume descriptors of session {} could not be read, so the files of "
                    "that session cannot be named",
                    n));
  return 2;
}

}  // namespace

void AddReadIsoCommand(CLI::App& app, int& exitCode) {
  auto options = std::make_shared<TReadIsoOptions>();
  CLI::App* command = app.add_subcommand("read-iso", "Copy the disc (or one session of it) into an ISO image file");
  command->description(kReadIsoHelp);
  command->add_option("OUTPUT", options->Output, "The image file to write")->required();
  command->add_option("-s,--session", options->Session,
                      "Only this session, as an image of its own (1 is the first; -1: the last)");
  command->add_flag("-f,--force", options->Force, "Replace OUTPUT if it exists");
  AddDriveOptions(*command, options->Drive);
  command->callback([options, command, &exitCode] {
    options->SessionGiven = command->count("--session") > 0;
    exitCode = ReadIso(*options);
  });
}

}  // namespace fornax::cli
