#include "engine/base/pacing.h"

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

}  // namespace

void PaceSleep(int milliseconds) {
  const int divisor = gDivisor.load();
  const auto micros = std::chrono::microseconds(static_cast<int64_t>(milliseconds) * 1000 / (divisor > 0 ? divisor : 1));
  std::this_thread::sleep_for(micros);
}

void SetPaceDivisor(int divisor) { gDivisor = divisor > 0 ? divisor : 1; }

}  // namespace fornax
