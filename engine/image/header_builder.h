#pragma once
// Renders every sector that precedes the file data of an image: system area,
// volume descriptors, path tables, directory extents, boot catalog, padding.

#include <cstdint>
#include <vector>

#include "engine/base/date_time.h"
#include "engine/image/iso_records.h"

namespace fornax {

class TCompilation;
struct TImageLayout;

// The first sectors of the header (system area and descriptors up to the
// terminator), kept for media whose start is rewritten after the data.
struct TDescriptorCopy {
  std::vector<uint8_t> Bytes = std::vector<uint8_t>(65537, 0xFF);
  int64_t Length = 0;
};

// Writes the header of a laid-out compilation into `stream` (emptied first).
// `now` dates the descriptors and the "." and ".." records. Every item is
// checked against the sectors the layout gave it; a difference is a fault of
// the engine and throws std::logic_error.
void BuildHeaderStream(const TCompilation& compilation, const TImageLayout& plan,
                       const TVolumeIdentifiers& ids, TDateTime now,
                       std::vector<uint8_t>& stream, TDescriptorCopy& copy);

}  // namespace fornax
