#pragma once
// A few lines for people: the drive's identity, the tray, the medium, its
// sessions and tracks, and the faults that are set.

#include <string>

#include "simdrive/drive_state.h"

namespace fornax::sim {

std::string DescribeState(const DriveState& state, int64_t now_ms);

}  // namespace fornax::sim
