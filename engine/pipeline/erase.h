#pragma once
// TEraseThread: follows a rewritable disc's erase until the drive is ready
// again, keeping a percentage for the caller, then returns the drive to idle
// and reports the end through the engine's OnEraseDone.

#include <atomic>
#include <cstdint>

#include "engine/pipeline/worker_thread.h"

namespace fornax {

class TQzRecorder;

// The percentage a NOT READY sense tells of a running operation (its
// sense-key-specific progress), or -1 when it tells none.
int DriveReportedPercent(const uint8_t* sense);

// Seconds an erase is expected to take, which the progress counts against.
uint16_t ExpectedEraseSeconds(uint8_t mediumCode, bool quick);

class TEraseThread {
 public:
  TEraseThread(TQzRecorder& engine, uint8_t mediumCode, bool quick);
  ~TEraseThread();
  TEraseThread(const TEraseThread&) = delete;
  TEraseThread& operator=(const TEraseThread&) = delete;

  void Start();
  TWorkerThread& Thread() { return FThread; }
  int Progress() const { return FProgress; }

 private:
  void Execute();
  void Round(int& elapsed);
  bool Busy() const;
  bool InTime(int elapsed) const { return elapsed <= FExpectedSeconds; }
  void WaitForDvdRw(int& elapsed);
  bool WaitForDvdPlusRwFormat(int& elapsed);
  void OverwriteWithZeros(uint32_t blocks, bool closeAfter);
  void WaitForTheEnd(int& elapsed);
  void Update(int elapsed);

  TQzRecorder& FEngine;
  const uint8_t FMedium;
  const bool FQuick;
  const int FExpectedSeconds;
  std::atomic<int> FProgress{0};
  bool FWithError = false;
  TWorkerThread FThread;
};

}  // namespace fornax
