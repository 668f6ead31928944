#pragma once
// The drive's write buffer. WRITE puts blocks in it; it drains at the write
// speed in force (fornax_sim_set_write_speed) and at speed 0 ("as fast as
// possible") it is always empty. The sectors reach the disc file at once: the
// buffer only decides when the drive can take more and when a flush ends.

#include <cstdint>

#include "simdrive/drive_state.h"

namespace fornax::sim {

inline constexpr uint32_t kBufferBytes = 2 * 1024 * 1024;

// What the buffer holds at that moment.
uint64_t BufferFill(const DriveState& state, int64_t now_us);
// Milliseconds until it is empty (rounded up).
int64_t BufferDrainMs(const DriveState& state, int64_t now_us);
// Whether a write of that many bytes fits now. A write larger than the whole
// buffer fits an empty one (the host then waits while the excess drains).
bool BufferFits(const DriveState& state, uint64_t bytes, int64_t now_us);
// Takes the bytes in; returns how long the host waits for a write larger
// than the buffer (0 otherwise).
int64_t BufferTake(DriveState& state, uint64_t bytes, int64_t now_us);

}  // namespace fornax::sim
