#pragma once
// The pauses of everything that waits on a drive: readiness polls, busy
// retries, erase polls, all in fixed steps of up to seconds. Tests against
// the simulated recorder shorten every step by a common divisor instead of
// waiting for real.

#include <cstdint>

namespace fornax {

void PaceSleep(int milliseconds);
void SetPaceDivisor(int divisor);  // 1: real time
// Milliseconds of pauses asked for so far by this process (before the
// divisor): what a wait cost, for tests that must not time themselves.
int64_t PacedMilliseconds();

// The pauses between questions to a drive that answered "busy": the first is
// short and each next one twice as long, up to the caller's interval, so
// that a drive busy for a moment is not left waiting a whole interval; the
// total stays within the caller's bound.
class TPollPause {
 public:
  static constexpr int kFirstMs = 50;
  TPollPause(int totalMs, int intervalMs);
  // The next pause in milliseconds, 0 once the bound is spent.
  int Next();
  // Sleeps the next pause; false (without sleeping) once the bound is spent.
  bool Sleep();

 private:
  int FLeft;
  int FInterval;
  int FNext;
};

}  // namespace fornax
