#pragma once
// Which drive states the drive can reach. The state folder belongs to a user
// who may write anything into it, and the answers count, index and loop by
// the numbers a state holds; so a decoded state is taken only when it keeps
// every rule the drive's own commands keep (recording, closing, formatting,
// erasing, the control interface), and is refused as a whole otherwise.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "simdrive/drive_state.h"

namespace fornax::sim {

// Limits the control interface holds to as well, so that what it sets is
// always a state the drive takes back.
inline constexpr size_t kMaxIdentityBytes = 64;
inline constexpr size_t kMaxFaultEntries = 256;  // of each list, write and read faults
inline constexpr uint32_t kMaxBorderGap = geometry::kDvdRBlank;
inline constexpr size_t kMaxNoteBytes = 240;

// Printable ASCII of at most `limit` bytes: what a state line, INQUIRY and a
// terminal all take as it is.
bool IsPlainText(std::string_view text, size_t limit);

// One past the highest block a recording of this medium can reach: the end
// of its area, plus what closing a track adds beyond the last block written
// (a CD track's padding to four seconds and its run-out, a DVD track's last
// ECC block) and the gap before the next track. Reads and writes of a state
// that passes CheckState stay below it.
uint64_t AddressLimit(const Disc& disc);

// The first rule the state breaks, beginning with the key of the state text
// it concerns ("disc.closed-sessions 3: session 2 holds no track"); empty for
// a state the drive can reach.
std::string StateFault(const DriveState& state);

}  // namespace fornax::sim
