#include "cli/write_runner.h"

#include <csignal>
#include <fmt/format.h>

#include "engine/drive/medium_queries.h"
#include "engine/recorder.h"

namespace fornax::cli {
namespace {

std::atomic<bool> gInterrupted{false};
struct sigaction gPrevious {};

void OnInterrupt(int) { gInterrupted = true; }

}  // namespace

TWriteRunner::TWriteRunner(TQzRecorder& recorder, TConsole& console, bool toDrive)
    : FRecorder(recorder), FConsole(console), FToDrive(toDrive) {
  gInterrupted = false;
  struct sigaction action {};
  action.sa_handler = &OnInterrupt;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, &gPrevious);
}

TWriteRunner::~TWriteRunner() { ::sigaction(SIGINT, &gPrevious, nullptr); }

bool TWriteRunner::Interrupted() const { return gInterrupted; }

void TWriteRunner::Install() {
  FRecorder.Dispatcher = [this](std::function<void()> event) { FEvents.Post(std::move(event)); };
  FRecorder.OnWriteDone = [this](TObject*, const std::string& error) {
    FDone = true;
    FError = error;
  };
  FRecorder.OnEraseDone = [this](TObject*, bool withError) {
    FDone = true;
    FEraseError = withError;
  };
}

std::string TWriteRunner::WriteLine() const {
  const int64_t total = FRecorder.ImageSectors() * 2048;
  const int64_t written = FRecorder.BytesWritten();
  const double percent = total > 0 ? 100.0 * static_cast<double>(written) / static_cast<double>(total) : 0;
  std::string line = fmt::format("Writing {} of {}  {:3.0f}%", FormatMegabytes(written), FormatMegabytes(total), percent);
  line += fmt::format("  cache {:3d}%", FRecorder.CacheFillPercent());
  if (FToDrive) {
    const uint32_t size = FRecorder.DeviceBufferSize, free = FRecorder.DeviceFreeBufferSize;
    const int buffer = size > 0 ? static_cast<int>(100.0 * (size - std::min(free, size)) / size) : 0;
    line += fmt::format("  drive buffer {:3d}%", buffer);
  }
  return line;
}

void TWriteRunner::ShowProgress() {
  if (FShowing) return;
  FShowing = true;
  const auto started = std::chrono::steady_clock::now();
  FConsole.StartProgress([this, started] {
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const double kbps = seconds > 0 ? FRecorder.BytesWritten() / 1000.0 / seconds : 0;
    const bool dvd = TSCSIDevice::CurrentMediumCode() > 3;
    return WriteLine() + fmt::format("  {:.0f} KB/s ({:.1f}X)", kbps, kbps / (dvd || !FToDrive ? 1385.0 : 176.4));
  });
}

std::string TWriteRunner::Finish() {
  bool aborting = false;
  ShowProgress();
  FEvents.RunUntil([this] { return FDone; }, std::chrono::hours(24 * 365), [&] {
    if (gInterrupted && !aborting) {
      aborting = true;
      FConsole.Line("fornax-cli: aborting; the drive is being left usable ...");
      FRecorder.AbortWrite();
    }
  });
  FConsole.StopProgress();
  FShowing = false;
  return FError;
}

bool TWriteRunner::FinishErase() {
  FConsole.StartProgress([this] { return fmt::format("Erasing ... {:3d}%", FRecorder.EraseProgress()); });
  FEvents.RunUntil([this] { return FDone; }, std::chrono::hours(24 * 365));
  FConsole.StopProgress();
  return !FEraseError;
}

}  // namespace fornax::cli
