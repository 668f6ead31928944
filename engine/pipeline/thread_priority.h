#pragma once
// Thread priorities, best effort: raising one needs privileges a desktop user
// rarely has, and the pipeline works without them.

namespace fornax {

enum class TThreadPriority { Idle, Lowest, Lower, Normal, TimeCritical };

// Applies to the calling thread.
void SetCurrentThreadPriority(TThreadPriority priority);

}  // namespace fornax
