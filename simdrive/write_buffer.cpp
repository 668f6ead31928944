#include "simdrive/write_buffer.h"

namespace fornax::sim {
namespace {

// kB/s with k = 1000: bytes per millisecond.
uint64_t DrainedSince(const DriveState& s, int64_t now_us) {
  if (now_us <= s.buffer.at_us) return 0;
  return static_cast<uint64_t>(now_us - s.buffer.at_us) * static_cast<uint64_t>(s.faults.write_speed_kbps) / 1000;
}

}  // namespace

uint64_t BufferFill(const DriveState& s, int64_t now_us) {
  if (s.faults.write_speed_kbps <= 0) return 0;
  const uint64_t drained = DrainedSince(s, now_us);
  return drained >= s.buffer.fill_bytes ? 0 : s.buffer.fill_bytes - drained;
}

int64_t BufferDrainMs(const DriveState& s, int64_t now_us) {
  const uint64_t fill = BufferFill(s, now_us);
  if (fill == 0) return 0;
  const auto kbps = static_cast<uint64_t>(s.faults.write_speed_kbps);
  return static_cast<int64_t>((fill + kbps - 1) / kbps);  // bytes / (bytes per ms)
}

bool BufferFits(const DriveState& s, uint64_t bytes, int64_t now_us) {
  const uint64_t fill = BufferFill(s, now_us);
  return fill == 0 || fill + bytes <= kBufferBytes;
}

int64_t BufferTake(DriveState& s, uint64_t bytes, int64_t now_us) {
  if (s.faults.write_speed_kbps <= 0) {
    s.buffer = WriteBuffer{};
    return 0;
  }
  const uint64_t fill = BufferFill(s, now_us) + bytes;
  s.buffer = WriteBuffer{fill, now_us};
  if (fill <= kBufferBytes) return 0;
  const auto kbps = static_cast<uint64_t>(s.faults.write_speed_kbps);
  return static_cast<int64_t>((fill - kBufferBytes + kbps - 1) / kbps);
}

}  // namespace fornax::sim
