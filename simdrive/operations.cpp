#include "simdrive/operations.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "simdrive/command.h"
#include "simdrive/overwrite_recording.h"

namespace fornax::sim {

int64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

int64_t NowUs() {
  using namespace std::chrono;
  return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

bool OperationRunning(const Operation& op, int64_t now_ms) {
  return op.kind != OperationKind::kNone && now_ms < op.start_ms + op.duration_ms;
}

uint16_t OperationProgress(const Operation& op, int64_t now_ms) {
  if (op.duration_ms <= 0) return 0xFFFF;
  const int64_t done = std::clamp<int64_t>(now_ms - op.start_ms, 0, op.duration_ms);
  return static_cast<uint16_t>(std::min<int64_t>(done * 65536 / op.duration_ms, 0xFFFF));
}

Sense OperationSense(const Operation& op, int64_t now_ms) {
  const Sense base = op.kind == OperationKind::kFormat ? sense::kFormatInProgress
                                                       : sense::kOperationInProgress;
  return sense::WithProgress(base, OperationProgress(op, now_ms));
}

Sense OperationGate(const Operation& op, int64_t now_ms, bool test_unit_ready) {
  if (!OperationRunning(op, now_ms)) return sense::kNone;
  const bool quiet_for_tur = op.kind == OperationKind::kClose || op.kind == OperationKind::kFlush;
  if (test_unit_ready && quiet_for_tur) return sense::kNone;
  return OperationSense(op, now_ms);
}

void StartOperation(DriveState& state, OperationKind kind, int64_t duration_ms, int64_t now_ms) {
  if (duration_ms <= 0) return;
  state.operation = Operation{kind, now_ms, duration_ms};
}

void TakeTime(CommandContext& ctx, OperationKind kind, int64_t duration_ms, bool immediate) {
  if (duration_ms <= 0) return;
  StartOperation(ctx.state, kind, duration_ms, ctx.now_ms);
  if (!immediate) ctx.wait_ms = std::max(ctx.wait_ms, duration_ms);
}

void SettleOperations(DriveState& state, int64_t now_ms) {
  if (state.operation.kind != OperationKind::kNone && !OperationRunning(state.operation, now_ms))
    state.operation = Operation{};
  SettleBackgroundFormat(state.disc, now_ms);
}

void SleepMs(int64_t ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace fornax::sim
