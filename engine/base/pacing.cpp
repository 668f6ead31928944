#include "engine/base/pacing.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <chrono>
#include <thread>

namespace fornax {
namespace {

// FORNAX_PACE_DIVISOR shortens the waits of a whole program the same way,
// for test runs against the simulated recorder, whose operations take
// milliseconds instead of minutes.
int DivisorFromEnvironment() {
  const char* text = std::getenv("FORNAX_PACE_DIVISOR");
  const int value = text ? std::atoi(text) : 1;
  return value > 0 ? value : 1;
}

std::atomic<int> gDivisor{DivisorFromEnvironment()};
std::atomic<int64_t> gPaced{0};

}  // namespace

int64_t PacedMilliseconds() { return gPaced; }

void PaceSleep(int milliseconds) {
  gPaced += milliseconds;
  const int divisor = gDivisor.load();
  const auto micros = std::chrono::microseconds(static_cast<int64_t>(milliseconds) * 1000 / (divisor > 0 ? divisor : 1));
  std::this_thread::sleep_for(micros);
}

void SetPaceDivisor(int divisor) { gDivisor = divisor > 0 ? divisor : 1; }

TPollPause::TPollPause(int totalMs, int intervalMs)
    : FLeft(totalMs), FInterval(std::max(1, intervalMs)), FNext(std::min(kFirstMs, std::max(1, intervalMs))) {}

int TPollPause::Next() {
  const int pause = FNext;
  if (pause > FLeft) {
    FLeft = 0;
    return 0;
  }
  FLeft -= pause;
  FNext = std::min(FInterval, FNext * 2);
  return pause;
}

bool TPollPause::Sleep() {
  const int pause = Next();
  if (pause == 0) return false;
  PaceSleep(pause);
  return true;
}

}  // namespace fornax
