#include "cli/drive_session.h"

#include <fmt/format.h>

#include "engine/drive/medium_queries.h"
#include "engine/drive/transport.h"

namespace fornax::cli {

void AddDriveOptions(CLI::App& command, TDriveOptions& options, bool withVerbose) {
  command.add_option("-d,--device", options.Device,
                     "The drive to use: its address (0:0:0), its node (/dev/sr0) or a part of its line "
                     "in 'fornax-cli devices' (default: the first drive)");
  command.add_option("--transport", options.Transport,
                     "Use this transport library instead of the drives of the system "
                     "(for example the simulated recorder, libfornax-simdrive.so)");
  command.add_flag("--trace", options.Trace, "Log a trace line for every command sent to the drive");
  if (withVerbose) command.add_flag("-v,--verbose", options.Verbose, "Also show the engine's information lines");
}

std::string MatchDevice(const std::vector<std::string>& lines, const std::string& wanted) {
  if (wanted.empty()) return lines.empty() ? "" : lines.front();
  for (const std::string& line : lines)
    if (line.rfind(wanted + ",", 0) == 0) return line;  // an address
  for (const std::string& line : lines)
    if (line.find("," + wanted + " ") != std::string::npos) return line;  // a device node
  for (const std::string& line : lines)
    if (line.find(wanted) != std::string::npos) return line;
  return "";
}

std::string NotReadyMessage(bool noMedium, const std::string& reason) {
  if (noMedium) return "fornax-cli: no disc in the drive: " + reason;
  return "fornax-cli: the drive is not ready: " + (reason.empty() ? std::string("it gave no reason") : reason);
}

const char* const kSessionTableHeader = "Session      Start         Size\n";

std::string SessionRow(int session, const TSessionExtent& extent, const std::string& note) {
  if (!extent.SizeKnown)
    return fmt::format("  {:03d}  {:10}  {:>8} sectors (its end is not told by this drive){}\n", session,
                       extent.Start, "?", note);
  return fmt::format("  {:03d}  {:10}  {:8} sectors ({:.0f} MB){}\n", session, extent.Start, extent.Size,
                     extent.Size / 512.0, note);
}

bool ImportRequestedSession(TQzRecorder& recorder, int requested, TConsole& console) {
  const int count = recorder.SessionCount();
  // An overwritable disc is one track whatever it holds; without a file
  // system at its start it holds no session.
  const uint8_t medium = recorder.MediumType();
  if (count == 0 || (IsOverwritableMedium(medium) && recorder.FileSystemSectors() == 0)) {
    console.Line("fornax-cli: the disc holds no session");
    return false;
  }
  const bool last = requested < 0 || requested == 255;
  if (!last && (requested == 0 || requested > count)) {
    console.Line(fmt::format("fornax-cli: there is no session {}; the disc holds {} (1 to {})", requested,
                             count == 1 ? "one session" : fmt::format("{} sessions", count), count));
    return false;
  }
  if (!recorder.ImportDiscSession(last ? 255 : requested, recorder.RootDirectory())) {
    console.Line("fornax-cli: the session could not be read; see the messages above");
    return false;
  }
  return true;
}

TDriveSession::TDriveSession(const TDriveOptions& options, TConsole& console)
    : FOptions(options), FConsole(console) {}

bool TDriveSession::Open() {
  TSCSIDevice::SetTraceAll(FOptions.Trace);
  FRecorder = std::make_unique<TQzRecorder>();
  FRecorder->DoDebug = FOptions.Verbose;
  FRecorder->OnDebugMessage = [this](TObject*, const std::string& message, uint8_t type) {
    if (type == 1 && !FOptions.Verbose) return;
    FConsole.Line(message);
  };
  // With no library named, the drives of the system come first and the
  // simulated recorder stands in when there are none.
  if (!FRecorder->InitTransport(FOptions.Transport.empty(), FOptions.Transport)) {
    FConsole.Line(FOptions.Transport.empty()
                      ? "fornax-cli: no drive found and no transport library could be loaded"
                      : "fornax-cli: cannot load the transport library '" + FOptions.Transport + "'");
    return false;
  }
  return true;
}

bool TDriveSession::Ready(int waitMs) {
  TQzRecorder& rec = *FRecorder;
  if (rec.UnitReady() || rec.WaitReady(waitMs, 500)) return true;
  // The wait may end on another command, or on REQUEST SENSE, which names no
  // reason: TEST UNIT READY says why the drive is not ready.
  if (!rec.NoMedium() && rec.UnitReady()) return true;
  FConsole.Line(NotReadyMessage(rec.NoMedium(), rec.LastError()));
  return false;
}

bool TDriveSession::Select() {
  const std::string line = MatchDevice(FRecorder->DeviceList(), FOptions.Device);
  if (line.empty()) {
    FConsole.Line(FRecorder->DeviceList().empty()
                      ? "fornax-cli: the transport (" + TransportName() + ") lists no drive"
                      : "fornax-cli: no drive matches '" + FOptions.Device + "'; see 'fornax-cli devices'");
    return false;
  }
  if (!FRecorder->SelectDevice(line)) {
    FConsole.Line("fornax-cli: cannot use the drive '" + line + "'");
    return false;
  }
  return true;
}

}  // namespace fornax::cli
