#pragma once
// What a running write shares with the rest of the program: counters and
// flags written by the worker threads and read by the caller's timer.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

namespace fornax {

class TWriteState {
 public:
  std::atomic<int64_t> BytesWritten{0};
  std::atomic<bool> WriteInProgress{false};
  std::atomic<bool> AbortWriteRequested{false};

  std::string CurrentWriteFile() const {
    std::lock_guard<std::mutex> lock(FLock);
    return FCurrentWriteFile;
  }
  void SetCurrentWriteFile(const std::string& path) {
    std::lock_guard<std::mutex> lock(FLock);
    FCurrentWriteFile = path;
  }

 private:
  mutable std::mutex FLock;
  std::string FCurrentWriteFile;
};

}  // namespace fornax
