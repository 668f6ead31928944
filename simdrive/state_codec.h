#pragma once
// The metadata file: the drive state as lines of "key value", readable by a
// person and tolerant of keys it does not know (a newer library may add
// some). The first line names the format and its version.

#include <string>

#include "simdrive/drive_state.h"

namespace fornax::sim {

inline constexpr const char* kStateMagic = "fornax-simdrive-state 1";
// The slot of the metadata file holds no more (storage.h).
inline constexpr size_t kMaxStateBytes = 1 << 20;

std::string EncodeState(const DriveState& state);
// False with a reason when the text is not a state of this format, or when
// it describes a drive that no sequence of commands leads to: the reason is
// then the rule the state breaks (StateFault in state_check.h).
bool DecodeState(const std::string& text, DriveState* state, std::string* error);

}  // namespace fornax::sim
