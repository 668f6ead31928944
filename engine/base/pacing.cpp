#include "engine/base/pacing.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace fornax {
namespace {
std::atomic<int> gDivisor{1};
}

void PaceSleep(int milliseconds) {
  const int divisor = gDivisor.load();
  const auto micros = std::chrono::microseconds(static_cast<int64_t>(milliseconds) * 1000 / (divisor > 0 ? divisor : 1));
  std::this_thread::sleep_for(micros);
}

void SetPaceDivisor(int divisor) { gDivisor = divisor > 0 ? divisor : 1; }

}  // namespace fornax
