#include "cli/write_runner.h"

#include <csignal>
#include <fmt/format.h>

#include "engine/drive/medium_queries.h"
#include "engine/recorder.h"

namespace fornax::cli {
namespace {

std::atomic<bool> gInterrupted{false};
// The write being followed: the handler asks it to stop at once (a store to
// a lock-free atomic flag, which a signal handler may make).
std::atomic<fornax::TQzRecorder*> gFollowed{nullptr};
struct sigaction gPrevious {};

void OnInterrupt(int) {
  gInterrupted = true;
  if (fornax::TQzRecorder* recorder = gFollowed.load()) recorder->AbortWrite();
}

}  // namespace

TWriteRunner::TWriteRunner(TQzRecorder& recorder, TConsole& console, bool toDrive)
    : FRecorder(recorder), FConsole(console), FToDrive(toDrive) {
  gInterrupted = false;
  struct sigaction action {};
  action.sa_handler = &OnInterrupt;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, &gPrevious);
}

// The recorder outlives the runner: its workers are let go first, so that
// none is still posting to this runner's queue as it goes.
TWriteRunner::~TWriteRunner() {
  FRecorder.WaitForWorkers();
  FRecorder.Dispatcher = nullptr;
  FRecorder.OnWaiting = nullptr;
  FRecorder.OnWriteDone = nullptr;
  FRecorder.OnEraseDone = nullptr;
  ::sigaction(SIGINT, &gPrevious, nullptr);
  gFollowed = nullptr;
}

bool TWriteRunner::Interrupted() const { return gInterrupted; }

void TWriteRunner::Install() {
  static_assert(std::atomic<bool>::is_always_lock_free);
  gFollowed = &FRecorder;
  FRecorder.Dispatcher = [this](std::function<void()> event) { FEvents.Post(std::move(event)); };
  // The engine looks here while it prepares (closing, formatting, filling
  // its cache), so a Ctrl-C stops it before anything is written.
  FRecorder.OnWaiting = [this] {
    if (gInterrupted) FRecorder.AbortWrite();
  };
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
  bool told = false;
  const auto tell = [&] {
    if (!gInterrupted || told) return;
    told = true;
    FConsole.Line("fornax-cli: aborting; the drive is being left usable ...");
    FRecorder.AbortWrite();
  };
  ShowProgress();
  FEvents.RunUntil([this] { return FDone; }, std::chrono::hours(24 * 365), tell);
  tell();  // a write that ended before the loop looked
  FConsole.StopProgress();
  FShowing = false;
  return FError;
}

bool TWriteRunner::FinishErase() {
  FConsole.StartProgress([this] { return fmt::format("Erasing ... {:3d}%", FRecorder.EraseProgress()); });
  // A drive cannot be stopped once it erases; leaving now would leave it busy
  // and the disc half erased with nobody watching.
  bool told = false;
  FEvents.RunUntil([this] { return FDone; }, std::chrono::hours(24 * 365), [&] {
    if (gInterrupted && !told) {
      told = true;
      FConsole.Line("fornax-cli: the drive finishes the erase by itself; waiting for it to end ...");
    }
  });
  FConsole.StopProgress();
  return !FEraseError;
}

}  // namespace fornax::cli
