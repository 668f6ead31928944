#pragma once
// FORMAT UNIT and BLANK: what each medium offers (the descriptors of READ
// FORMAT CAPACITIES), the parameter list, and the disc a format or blank
// leaves behind. Timing (foreground format, blanking) is the caller's.

#include <cstdint>
#include <span>
#include <vector>

#include "simdrive/drive_state.h"
#include "simdrive/sense.h"

namespace fornax::sim {

namespace format_type {
inline constexpr uint8_t kFull = 0x00;
inline constexpr uint8_t kSpareExpansion = 0x01;
inline constexpr uint8_t kFullSequential = 0x10;
inline constexpr uint8_t kGrow = 0x13;
inline constexpr uint8_t kQuick = 0x15;
inline constexpr uint8_t kDvdPlusRw = 0x26;
}  // namespace format_type

struct FormatDescriptor {
  uint32_t blocks = 0;
  uint8_t type = 0;
  uint32_t parameter = 0;  // 24 bits: block length or ECC block size
  bool operator==(const FormatDescriptor&) const = default;
};

// The current/maximum capacity descriptor: descriptor type 1 unformatted,
// 2 formatted, 3 no or unknown medium.
struct CapacityDescriptor {
  uint32_t blocks = 0;
  uint8_t descriptor_type = 3;
};

CapacityDescriptor CurrentCapacity(const Disc& disc);
std::vector<FormatDescriptor> OfferedFormats(const Disc& disc);

struct FormatRequest {
  bool immediate = false;
  FormatDescriptor descriptor;
};

// Parses the 12-byte list (header and one descriptor). On refusal the sense
// is set and the request is meaningless.
Sense ParseFormatList(std::span<const uint8_t> list, FormatRequest* request);

struct FormatResult {
  Sense refusal;
  bool wipes_data = false;
  bool foreground = false;  // the drive is busy formatting for a while
};
FormatResult ApplyFormat(Disc& disc, const FormatRequest& request, int64_t now_ms,
                         int64_t background_ms);

namespace blank_type {
inline constexpr uint8_t kDisc = 0;
inline constexpr uint8_t kMinimal = 1;
}  // namespace blank_type

// BLANK: CD-RW and DVD-RW, the whole disc or minimally.
Sense ApplyBlank(Disc& disc, uint8_t type);

}  // namespace fornax::sim
