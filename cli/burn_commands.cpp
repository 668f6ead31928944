#include "cli/burn_commands.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <fmt/format.h>
#include <memory>

#include "cli/compilation_options.h"
#include "cli/verify_command.h"
#include "cli/drive_session.h"
#include "cli/write_runner.h"
#include "engine/drive/medium_queries.h"
#include "engine/recorder.h"

namespace fornax::cli {
namespace {

constexpr const char* kBurnHelp = R"(Write files and folders to the disc in a drive, as one new session.

The disc gets an ISO 9660 file system with a Joliet tree, as 'fornax-cli iso'
makes it. A disc that is open for more sessions takes this one after the ones
it holds (the older files are not shown in the new session unless it imports
them); a closed disc refuses it. Ctrl-C stops the write and leaves the drive
usable. A session an interrupted write left open is closed before the next
one is written ('fornax-cli close' closes it at once); see the README.

Examples:
  fornax-cli burn ~/Documents
  fornax-cli burn --finalize --speed 8x --eject photos/
  fornax-cli burn --test-write big-folder/     (a rehearsal: nothing is recorded; CD-R/RW,
                                               DVD-R and sequential DVD-RW only)
  fornax-cli burn --verify ~/Documents         (reads every file back and compares it)

An imported session brings only what lies on the disc: an entry whose data
lies beyond the disc's recorded sectors, or where the new session goes, is
left out and named. Imported files lose their setuid and setgid bits unless
--keep-setuid is given.

Exit status: 0 written as asked; 1 not written or failed (the reason is
printed); 2 written, but some entries were left out; 3 written, but --verify
found files that differ from what was sent or cannot be read (named).)";

struct TWriteOptions {
  TDriveOptions Drive;
  std::string Speed;
  bool TestWrite = false;
  bool Finalize = false;
  bool Opc = false;
  bool NoUnderrunProtection = false;
  int64_t CacheMegabytes = 8;
  bool Eject = false;
  bool Verify = false;
};

struct TBurnOptions {
  TWriteOptions Write;
  TCompilationOptions Compilation;
  int ImportSession = 0;
  bool Replace = false;
  bool KeepSetuid = false;
};

struct TBurnIsoOptions {
  TWriteOptions Write;
  std::string Image;
  bool Overwrite = false;
};

void AddWriteOptions(CLI::App& command, TWriteOptions& options, bool withVerbose) {
  AddDriveOptions(command, options.Drive, withVerbose);
  command.add_option("-s,--speed", options.Speed,
                     "Write speed: KB/s (5540), or a multiple of 1x (8x; 1x is 176 KB/s on CD, 1385 on DVD); "
                     "default: the drive's maximum");
  command.add_flag("--test-write", options.TestWrite, "Rehearse: the drive goes through the motions without recording");
  command.add_flag("--finalize", options.Finalize, "Close the disc afterwards: no session can be added later");
  command.add_flag("--opc", options.Opc, "Let the drive calibrate its laser power first");
  command.add_flag("--no-underrun-protection", options.NoUnderrunProtection,
                   "Do not ask the drive to protect against buffer underruns");
  command.add_option("--cache", options.CacheMegabytes, "Read-ahead cache in MB (2 to half of the memory)")
      ->check(CLI::Range(int64_t{2}, int64_t{1} << 30))
      ->capture_default_str();
  command.add_flag("--eject", options.Eject, "Open the tray when done");
  command.add_flag("--verify", options.Verify,
                   "Afterwards read what was written back from the disc and compare it with what was sent");
}

// "8x" or "5540" in KB/s; 0 for the drive's maximum.
bool ParseSpeed(const std::string& text, bool dvd, uint16_t& kbps) {
  if (text.empty() || text == "max") {
    kbps = 0;
    return true;
  }
  try {
    size_t used = 0;
    const double value = std::stod(text, &used);
    const std::string rest = text.substr(used);
    if (rest == "x" || rest == "X") kbps = static_cast<uint16_t>(std::lround(value * (dvd ? 1385 : 177)));
    else if (rest.empty()) kbps = static_cast<uint16_t>(value);
    else return false;
    return value > 0;
  } catch (...) {
    return false;
  }
}

bool ConfigureWrite(TQzRecorder& rec, const TWriteOptions& options, TConsole& console) {
  rec.TestWrite = options.TestWrite;
  rec.RecordForVerify = options.Verify;
  rec.FinalizeDisc = options.Finalize;
  rec.PerformOPC = options.Opc;
  rec.UnderrunProtection = !options.NoUnderrunProtection;
  const int64_t memoryMegabytes =
      static_cast<int64_t>(::sysconf(_SC_PHYS_PAGES)) * ::sysconf(_SC_PAGESIZE) / (1024 * 1024);
  if (memoryMegabytes > 0 && options.CacheMegabytes > memoryMegabytes / 2) {
    console.Line(fmt::format("fornax-cli: a cache of {} MB is more than half of this machine's memory ({} MB)",
                             options.CacheMegabytes, memoryMegabytes));
    return false;
  }
  rec.SetCacheSize(options.CacheMegabytes * 1024 * 1024);
  const uint8_t medium = rec.MediumType();
  uint16_t speed = 0;
  if (!ParseSpeed(options.Speed, medium > 3, speed)) {
    console.Line(fmt::format("fornax-cli: '{}' is no speed; give KB/s (5540) or a multiple (8x)", options.Speed));
    return false;
  }
  rec.SetWriteSpeed(speed);
  return true;
}

// `started`: the writer ran, so something may be on the disc; otherwise the
// engine gave up before writing anything.
int AfterWrite(TQzRecorder& rec, const TWriteOptions& options, bool started, const std::string& error,
               TConsole& console) {
  if (!error.empty()) {
    console.Line((started ? "fornax-cli: the write failed: " : "fornax-cli: nothing was written: ") + error);
    return 1;
  }
  if (options.Eject && !options.Verify) rec.EjectMedium();
  return 0;
}

// The verify after a write that succeeded; the tray opens after it. A test
// write recorded nothing, so there is nothing to read back.
int VerifyAfterWrite(TQzRecorder& rec, const TWriteOptions& options, TConsole& console) {
  if (!options.Verify) return 0;
  int code = 0;
  if (options.TestWrite) {
    console.Line("fornax-cli: a test write records nothing; there is nothing to verify");
  } else {
    const TVerifyReport report = rec.VerifyLastBurn();
    code = rec.LastBurn().ForImage() ? ReportImageVerify(report, rec.TrackSectors(), console)
                                     : ReportVerify(report, console);
  }
  if (options.Eject) rec.EjectMedium();
  return code;
}

// A finalize the medium cannot honour is refused before anything is written.
bool FinalizePossible(TQzRecorder& rec, const TWriteOptions& options, TConsole& console) {
  const uint8_t medium = rec.MediumType();
  if (!options.Finalize || !IsOverwritableMedium(medium)) return true;
  console.Line(fmt::format("fornax-cli: a {} cannot be finalized: it stays writable whatever is done; "
                           "write without --finalize",
                           MediumNames[medium & 15]));
  return false;
}

int RunBurn(TBurnOptions& options) {
  TConsole console;
  options.Write.Drive.Verbose = options.Compilation.Verbose;
  const std::vector<TSourceRow> rows = RowsInOrder(options.Compilation);
  const std::string problem = CheckSources(options.Compilation, rows);
  if (!problem.empty()) {
    console.Line("fornax-cli: " + problem);
    return 1;
  }
  TDriveSession session(options.Write.Drive, console);
  if (!session.Open() || !session.Select()) return 1;
  TQzRecorder& rec = session.Recorder();
  if (!session.Ready(15000) || !ConfigureWrite(rec, options.Write, console)) return 1;
  if (!FinalizePossible(rec, options.Write, console)) return 1;

  TCompilationFeeder feeder(options.Compilation, console);
  feeder.Configure(rec);
  rec.ReplaceFile = options.Replace;
  rec.KeepSetuid = options.KeepSetuid;
  rec.ClearCompilation(600000, 20000);
  const uint8_t medium = rec.MediumType();
  TSCSIDevice::SetCurrentMediumCode(medium);
  if (IsSequentialMedium(medium) && rec.DiscStatus() == 2) {
    console.Line("fornax-cli: the disc is closed (finalized); it takes no more sessions");
    return 1;
  }
  const bool lastSession = options.ImportSession < 0 || options.ImportSession == 255;
  if (options.ImportSession != 0 && !lastSession && rec.SessionCutShort(options.ImportSession)) {
    console.Line(fmt::format("fornax-cli: session {} was cut short by an interrupted write: its files are not "
                             "whole on the disc; import another session",
                             options.ImportSession));
    return 1;
  }
  // The earlier session first, so that the new files take their place in it.
  if (options.ImportSession != 0 && !ImportRequestedSession(rec, options.ImportSession, console)) return 1;
  if (!feeder.Feed(rec, rows, true)) return 1;

  // The engine closes what an interrupted write left open, finds where the
  // session starts and checks that it fits from there before it writes.
  TWriteRunner runner(rec, console, true);
  runner.Install();
  runner.ShowProgress();
  const bool started = rec.BurnCompilation();
  const std::string error = runner.Finish();
  const int code = AfterWrite(rec, options.Write, started, error, console);
  if (code != 0) return code;
  if (options.Compilation.ArchiveOnly) rec.ClearArchiveBits();
  const int folders = rec.DirectoryCount();
  std::printf("Written: %d files, %d folders, %s in a session from sector %d%s\n", rec.FileCount() - folders,
              folders, FormatMegabytes(rec.ImageSectors() * 2048).c_str(), rec.SessionStart(),
              options.Write.TestWrite ? " (test write: nothing recorded)" : "");
  const int verified = VerifyAfterWrite(rec, options.Write, console);
  if (feeder.LeftOut() > 0) console.Line(feeder.LeftOutMessage());
  // What the disc holds wrongly weighs more than what was left out.
  if (verified != 0) return verified == 1 ? kExitVerifyFailed : verified;
  return feeder.LeftOut() > 0 ? 2 : 0;
}

int RunBurnIso(const TBurnIsoOptions& options) {
  TConsole console;
  struct stat st {};
  if (::stat(options.Image.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    console.Line(fmt::format("fornax-cli: cannot find the image file '{}'", options.Image));
    return 1;
  }
  TDriveSession session(options.Write.Drive, console);
  if (!session.Open() || !session.Select()) return 1;
  TQzRecorder& rec = session.Recorder();
  if (!session.Ready(15000) || !ConfigureWrite(rec, options.Write, console)) return 1;
  if (!FinalizePossible(rec, options.Write, console)) return 1;
  const uint8_t medium = rec.MediumType();
  TSCSIDevice::SetCurrentMediumCode(medium);
  // An image replaces whatever the disc holds: on a rewritable disc only
  // when the user says so.
  if (IsOverwritableMedium(medium) && !options.Overwrite && rec.DiscHoldsData()) {
    console.Line(fmt::format("fornax-cli: this {} holds data, and an image file replaces all of it; erase the "
                             "disc first or give --overwrite",
                             MediumNames[medium & 15]));
    return 1;
  }
  TWriteRunner runner(rec, console, true);
  runner.Install();
  runner.ShowProgress();
  const bool started = rec.BurnISOFile(options.Image);
  const std::string error = runner.Finish();
  const int code = AfterWrite(rec, options.Write, started, error, console);
  if (code != 0) return code;
  std::printf("Written: %s (%lld sectors)%s\n", options.Image.c_str(), static_cast<long long>(rec.TrackSectors()),
              options.Write.TestWrite ? " (test write: nothing recorded)" : "");
  const int verified = VerifyAfterWrite(rec, options.Write, console);
  return verified == 1 ? kExitVerifyFailed : verified;
}

int RunErase(const TDriveOptions& drive, bool full, bool eject) {
  TConsole console;
  TDriveSession session(drive, console);
  if (!session.Open() || !session.Select()) return 1;
  TQzRecorder& rec = session.Recorder();
  TWriteRunner runner(rec, console, true);
  runner.Install();
  if (!rec.EraseDisc(full ? 0 : 1)) {
    if (runner.Interrupted()) {
      console.Line("fornax-cli: stopped before the drive began to erase; the disc is unchanged");
      return 1;
    }
    if (rec.NoMedium()) {
      console.Line(NotReadyMessage(true, rec.LastError()));
      return 1;
    }
    console.Line("fornax-cli: the disc was not erased: " +
                 (rec.LastError().empty() ? std::string("the drive is not ready") : rec.LastError()));
    return 1;
  }
  if (!runner.FinishErase()) {
    console.Line("fornax-cli: the erase did not finish as it should; the disc may not be blank");
    return 1;
  }
  if (eject) rec.EjectMedium();
  std::printf("Erased (%s).\n", full ? "complete" : "quick");
  return 0;
}

int RunClose(const TDriveOptions& drive, bool finalize) {
  TConsole console;
  TDriveSession session(drive, console);
  if (!session.Open() || !session.Select()) return 1;
  TQzRecorder& rec = session.Recorder();
  if (!session.Ready(15000)) return 1;
  const uint8_t medium = rec.MediumType();
  const char* name = MediumNames[medium & 15];
  switch (rec.CloseOpenSession(finalize)) {
    case TCloseOutcome::Closed:
      std::printf(finalize ? "Closed the disc: it takes no more sessions.\n"
                           : "Closed the open session: the disc takes further sessions.\n");
      return 0;
    case TCloseOutcome::NothingOpen:
      std::printf("Nothing to close: %s\n", rec.DiscStatus() == 2 ? "the disc is closed already."
                                            : rec.DiscStatus() == 0 ? "the disc is blank."
                                                                    : "every session of the disc is closed.");
      return 0;
    case TCloseOutcome::CannotFinalize:
      if (IsOverwritableMedium(medium))
        console.Line(fmt::format("fornax-cli: a {} cannot be finalized: it stays writable whatever is done", name));
      else
        console.Line(fmt::format("fornax-cli: every session of this {} is closed, and a {} is closed for good only "
                                 "with a session it writes: burn the last one with --finalize",
                                 name, name));
      return 1;
    case TCloseOutcome::Failed: break;
  }
  console.Line("fornax-cli: the drive did not close the session: " + rec.LastError());
  return 1;
}

}  // namespace

void AddBurnCommands(CLI::App& app, int& exitCode) {
  auto burn = std::make_shared<TBurnOptions>();
  CLI::App* burnCommand = app.add_subcommand("burn", "Write files and folders to the disc in a drive");
  burnCommand->description(kBurnHelp);
  AddCompilationOptions(*burnCommand, burn->Compilation);
  AddWriteOptions(*burnCommand, burn->Write, false);
  burnCommand->add_option("-i,--import-session", burn->ImportSession,
                          "Bring the files of this session of the disc into the new one (-1 or 255: the last), "
                          "so the new session still shows them");
  burnCommand->add_flag("--replace", burn->Replace,
                        "A file of the same name replaces an imported one (without it, the imported one stays)");
  burnCommand->add_flag("--keep-setuid", burn->KeepSetuid,
                        "Imported files keep their setuid and setgid bits (without it they are cleared, and named)");
  burnCommand->callback([burn, &exitCode] { exitCode = RunBurn(*burn); });

  auto iso = std::make_shared<TBurnIsoOptions>();
  CLI::App* isoCommand = app.add_subcommand("burn-iso", "Write an ISO image file to the disc in a drive");
  isoCommand->add_option("FILE", iso->Image, "The image file; it is written from the start of a blank disc")->required();
  AddWriteOptions(*isoCommand, iso->Write, true);
  isoCommand->add_flag("--overwrite", iso->Overwrite,
                       "Write over a rewritable disc (DVD+RW, DVD-RAM, DVD-RW) that holds data: all of it is lost");
  isoCommand->callback([iso, &exitCode] { exitCode = RunBurnIso(*iso); });

  auto drive = std::make_shared<TDriveOptions>();
  auto full = std::make_shared<bool>(false);
  auto eject = std::make_shared<bool>(false);
  CLI::App* erase = app.add_subcommand("erase", "Erase a rewritable disc (CD-RW, DVD-RW, DVD+RW, DVD-RAM)");
  AddDriveOptions(*erase, *drive);
  erase->add_flag("--full", *full, "Erase the whole disc instead of only what marks it as written (slow)");
  erase->add_flag("--eject", *eject, "Open the tray when done");
  erase->callback([drive, full, eject, &exitCode] { exitCode = RunErase(*drive, *full, *eject); });

  auto closeDrive = std::make_shared<TDriveOptions>();
  auto finalize = std::make_shared<bool>(false);
  CLI::App* close = app.add_subcommand(
      "close", "Close a session an interrupted write left open (or, with --finalize, the whole disc)");
  AddDriveOptions(*close, *closeDrive);
  close->add_flag("--finalize", *finalize, "Close the disc for good: no session can be added later");
  close->callback([closeDrive, finalize, &exitCode] { exitCode = RunClose(*closeDrive, *finalize); });
}

}  // namespace fornax::cli
