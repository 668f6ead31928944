#pragma once
// Renders every sector that precedes the file data of an image: system area,
// volume descriptors, path tables, directory extents, boot catalog, padding.

#include <cstddef>
#include <cstdint>
#include <functional>
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

// Receives the header in order, a piece at a time.
using THeaderSink = std::function<void(const uint8_t* bytes, size_t length)>;
// Hands a header to a sink, in order.
using THeaderSource = std::function<void(const THeaderSink&)>;

// Hands the header of a laid-out compilation to `sink` in order, in pieces,
// never holding it whole. `now` dates the descriptors and the "." and ".."
// records: the same `now` gives the same bytes. Every item is checked
// against the sectors the layout gave it; a difference is a fault of the
// engine and throws std::logic_error.
void WriteHeaderStream(const TCompilation& compilation, const TImageLayout& plan, const TVolumeIdentifiers& ids,
                       TDateTime now, const THeaderSink& sink);

// The descriptor set of that header alone.
void BuildDescriptorCopy(const TCompilation& compilation, const TImageLayout& plan, const TVolumeIdentifiers& ids,
                         TDateTime now, TDescriptorCopy& copy);

// The whole header in memory (`stream` emptied first), and its descriptor set.
void BuildHeaderStream(const TCompilation& compilation, const TImageLayout& plan,
                       const TVolumeIdentifiers& ids, TDateTime now,
                       std::vector<uint8_t>& stream, TDescriptorCopy& copy);

}  // namespace fornax
