#include "cli/console.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fmt/format.h>

namespace fornax::cli {

TConsole::TConsole() : FInteractive(::isatty(STDERR_FILENO) == 1) {}

TConsole::~TConsole() { StopProgress(); }

void TConsole::ClearProgressLocked() {
  if (!FShown) return;
  std::fputs("\r\033[K", stderr);
  FShown = false;
}

void TConsole::Line(const std::string& text) {
  std::lock_guard<std::mutex> lock(FMutex);
  ClearProgressLocked();
  std::fputs(text.c_str(), stderr);
  std::fputc('\n', stderr);
  std::fflush(stderr);
}

void TConsole::StartProgress(std::function<std::string()> describe) {
  StopProgress();
  if (!FInteractive) return;
  std::lock_guard<std::mutex> lock(FMutex);
  FDescribe = std::move(describe);
  FStop = false;
  FTicker = std::thread([this] {
    std::unique_lock<std::mutex> lock(FMutex);
    while (!FStop) {
      const std::string text = FDescribe();
      std::fprintf(stderr, "\r\033[K%s", text.c_str());
      std::fflush(stderr);
      FShown = true;
      FWake.wait_for(lock, std::chrono::milliseconds(200), [this] { return FStop; });
    }
    ClearProgressLocked();
    std::fflush(stderr);
  });
}

void TConsole::StopProgress() {
  {
    std::lock_guard<std::mutex> lock(FMutex);
    if (!FTicker.joinable()) return;
    FStop = true;
  }
  FWake.notify_all();
  FTicker.join();
}

std::string FormatMegabytes(int64_t bytes) {
  return fmt::format("{:.1f} MB", static_cast<double>(bytes) / 1e6);
}

}  // namespace fornax::cli
