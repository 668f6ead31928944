#pragma once
// Long operations (blanking, formatting, closing, finishing a write): they
// run for a set time from their start, which is kept as wall-clock time so
// that every process sharing the drive sees the same operation.

#include <cstdint>

#include "simdrive/drive_state.h"
#include "simdrive/sense.h"

namespace fornax::sim {

int64_t NowMs();
int64_t NowUs();
bool OperationRunning(const Operation& op, int64_t now_ms);
// Fraction of 65536 done, for sense bytes 16-17.
uint16_t OperationProgress(const Operation& op, int64_t now_ms);
// The NOT READY sense of a running operation, with its progress.
Sense OperationSense(const Operation& op, int64_t now_ms);
// What a medium command meets while the operation runs: nothing for TEST
// UNIT READY during a close or flush, else the operation's sense.
Sense OperationGate(const Operation& op, int64_t now_ms, bool test_unit_ready);
// An operation of zero length does not start at all.
void StartOperation(DriveState& state, OperationKind kind, int64_t duration_ms, int64_t now_ms);
// Forgets finished operations and ends background formats whose time is up.
void SettleOperations(DriveState& state, int64_t now_ms);
void SleepMs(int64_t ms);
// Starts an operation the command itself waits for: others see it in
// progress meanwhile (the wait is spent outside the lock).
struct CommandContext;
void TakeTime(CommandContext& ctx, OperationKind kind, int64_t duration_ms, bool immediate);

}  // namespace fornax::sim
