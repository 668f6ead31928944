#include "cli/drive_commands.h"

#include <fmt/format.h>

#include <memory>

#include "cli/drive_session.h"
#include "engine/drive/capabilities.h"
#include "engine/drive/medium_queries.h"
#include "engine/drive/transport.h"

namespace fornax::cli {
namespace {

std::string Grouped(uint64_t value) {
  std::string digits = std::to_string(value);
  for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3) digits.insert(static_cast<size_t>(at), ",");
  return digits;
}

std::string Sectors(uint64_t sectors) {
  return fmt::format("{} sectors ({:.2f} MB)", Grouped(sectors), static_cast<double>(sectors) * 2048 / 1048576);
}

std::string StatusText(int status) {
  switch (status) {
    case 0: return "empty";
    case 1: return "appendable (open for another session)";
    case 2: return "complete (closed)";
    case 3: return "other (overwritable)";
    default: return "unknown";
  }
}

struct TCapabilityName {
  uint32_t Bit;
  const char* Name;
};

constexpr TCapabilityName kCapabilityNames[] = {
    {capReadCDR, "reads CD-R"},          {capReadCDRW, "reads CD-RW"},
    {capReadMethod2, "reads method 2"},  {capReadDVDROM, "reads DVD-ROM"},
    {capReadDVDR, "reads DVD-R"},        {capReadDVDRW, "reads DVD-RW"},
    {capReadDVDRAM, "reads DVD-RAM"},    {capReadDVDPlusR, "reads DVD+R"},
    {capReadDVDPlusRDL, "reads DVD+R DL"}, {capReadDVDPlusRW, "reads DVD+RW"},
    {capWriteCDR, "writes CD-R"},        {capWriteCDRW, "writes CD-RW"},
    {capTestWrite, "test write"},        {capWriteDVDR, "writes DVD-R"},
    {capWriteDVDRW, "writes DVD-RW"},    {capWriteDVDRAM, "writes DVD-RAM"},
    {capWriteDVDPlusR, "writes DVD+R"},  {capWriteDVDPlusRDL, "writes DVD+R DL"},
    {capWriteDVDPlusRW, "writes DVD+RW"}, {capUnderrunProtection, "underrun protection"}};

int Devices(const TDriveOptions& options) {
  TConsole console;
  TDriveSession session(options, console);
  if (!session.Open()) return 1;
  const auto& lines = session.Recorder().DeviceList();
  std::printf("Transport: %s\n", TransportName().c_str());
  if (lines.empty()) {
    std::printf("No drive found.\n");
    return 1;
  }
  for (const std::string& line : lines) std::printf("%s\n", line.c_str());
  return 0;
}

int Caps(const TDriveOptions& options) {
  TConsole console;
  TDriveSession session(options, console);
  if (!session.Open() || !session.Select()) return 1;
  TQzRecorder& rec = session.Recorder();
  rec.RefreshCapabilities();
  std::printf("Drive: %s\n", rec.DeviceDescription().c_str());
  for (const TCapabilityName& cap : kCapabilityNames)
    std::printf("  %-22s %s\n", cap.Name, (rec.Capabilities() & cap.Bit) ? "yes" : "no");
  std::printf("Maximum read speed:  %u KB/s\n", rec.DeviceMaxReadSpeed());
  std::printf("Maximum write speed: %u KB/s\n", rec.DeviceMaxWriteSpeed());
  std::printf("Buffer: %u KB\n", rec.DriveCapabilities().BufferSizeKB());
  return 0;
}

int Medium(const TDriveOptions& options) {
  TConsole console;
  TDriveSession session(options, console);
  if (!session.Open() || !session.Select()) return 1;
  TQzRecorder& rec = session.Recorder();
  std::printf("Drive:    %s\n", rec.DeviceDescription().c_str());
  std::fflush(stdout);  // before any message on stderr
  if (!session.Ready(10000)) return 1;
  const uint8_t code = rec.MediumType();
  TSCSIDevice::SetCurrentMediumCode(code);  // the space queries follow the medium in the drive
  const int sessions = rec.SessionCount();
  std::printf("Medium:   %s\n", MediumNames[code & 15]);
  std::printf("Capacity: %s\n", Sectors(rec.CapacitySectors()).c_str());
  std::printf("Used:     %s, sessions: %d\n", Sectors(rec.UsedSectors()).c_str(), sessions);
  std::printf("Free:     %s\n", Sectors(rec.FreeSectors()).c_str());
  std::printf("Status:   %s%s\n", StatusText(rec.DiscStatus()).c_str(), rec.IsErasable() ? ", erasable" : "");
  if (sessions > 0) std::printf("%s", kSessionTableHeader);
  TDiscSessions table(rec);
  for (int n = 1; n <= sessions; ++n) {
    TSessionExtent extent;
    if (table.Extent(n, extent)) std::printf("%s", SessionRow(n, extent, "").c_str());
  }
  return 0;
}

int Ready(const TDriveOptions& options) {
  TConsole console;
  TDriveSession session(options, console);
  if (!session.Open() || !session.Select()) return 1;
  if (session.Recorder().UnitReady()) {
    std::printf("ready\n");
    return 0;
  }
  std::printf("not ready: %s\n", session.Recorder().LastError().c_str());
  return 1;
}

int Tray(const TDriveOptions& options, bool load) {
  TConsole console;
  TDriveSession session(options, console);
  if (!session.Open() || !session.Select()) return 1;
  TQzRecorder& rec = session.Recorder();
  if (load ? rec.LoadMedium() : rec.EjectMedium()) return 0;
  console.Line(std::string("fornax-cli: the drive refused to ") + (load ? "load: " : "eject: ") + rec.LastError());
  return 1;
}

}  // namespace

void AddDriveCommands(CLI::App& app, int& exitCode) {
  struct TCommandEntry {
    const char* Name;
    const char* Help;
    std::function<int(const TDriveOptions&)> Run;
  };
  const TCommandEntry commands[] = {
      {"devices", "List the CD/DVD drives (the simulated recorder stands in when there is none)", Devices},
      {"caps", "Show what the drive can read and write, its speeds and its buffer", Caps},
      {"medium", "Show the disc in the drive: kind, capacity, used and free space, status, sessions", Medium},
      {"ready", "Tell whether the drive is ready (a disc in, not busy)", Ready},
      {"load", "Close the tray", [](const TDriveOptions& o) { return Tray(o, true); }},
      {"eject", "Open the tray", [](const TDriveOptions& o) { return Tray(o, false); }},
  };
  for (const TCommandEntry& entry : commands) {
    auto options = std::make_shared<TDriveOptions>();
    CLI::App* command = app.add_subcommand(entry.Name, entry.Help);
    AddDriveOptions(*command, *options);
    const auto run = entry.Run;
    command->callback([options, run, &exitCode] { exitCode = run(*options); });
  }
}

}  // namespace fornax::cli
