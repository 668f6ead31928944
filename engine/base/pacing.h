#pragma once
// The pauses of everything that waits on a drive: readiness polls, busy
// retries, erase polls, all in fixed steps of up to seconds. Tests against
// the simulated recorder shorten every step by a common divisor instead of
// waiting for real.

namespace fornax {

void PaceSleep(int milliseconds);
void SetPaceDivisor(int divisor);  // 1: real time

}  // namespace fornax
