#pragma once
// Copying one source file into its planned place of an image file.

#include <atomic>
#include <cstdint>

#include "engine/image/stream_ex.h"

namespace fornax {

struct TExtentCopy {
  bool Shrunk = false;  // the source ended before its planned length; zeros stand in
  bool Grown = false;   // the source holds more than its planned length; the rest is left out
  bool Cancelled = false;  // stopped part way at the caller's request
};

// A source that could not be read (as against an image that could not be
// written).
class ESourceReadError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};

// Writes exactly `plannedBytes` taken from `source` at offset `at` of `image`,
// then zeros to the end of the last sector, so the next item always lands
// where the layout put it. With `holesReadAsZero` (a new regular image file)
// holes of a sparse source stay holes, nothing is written past the source's
// data and the caller sets the image's final length; otherwise every zero is
// written. Adds the bytes handled to
// `progress`. Throws EStreamError when the image cannot be written or the
// source cannot be read.
// `sourceSize` is the source's size when it was opened. A `cancel` that
// turns true stops the copy between pieces (Cancelled set). With `mapAhead`
// a large source is copied from a mapping that a second thread reads in a
// window ahead of the copy; callers ask for it only where the image's file
// system copies through its page cache anyway (CopiesThroughPageCache): others
// may share the source's blocks or copy on a server, which the kernel copy
// lets them do.
TExtentCopy CopyExtent(int source, int64_t sourceSize, int image, int64_t at, int64_t plannedBytes,
                       bool holesReadAsZero, std::atomic<int64_t>* progress,
                       const std::atomic<bool>* cancel = nullptr, bool mapAhead = false);

// Whether the file system of `image` copies data through the page cache,
// sharing no blocks and offloading no copy (ext2/3/4, tmpfs).
bool CopiesThroughPageCache(int image);

}  // namespace fornax
