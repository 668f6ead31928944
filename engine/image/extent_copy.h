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
// turns true stops the copy between pieces (Cancelled set).
TExtentCopy CopyExtent(int source, int64_t sourceSize, int image, int64_t at, int64_t plannedBytes,
                       bool holesReadAsZero, std::atomic<int64_t>* progress,
                       const std::atomic<bool>* cancel = nullptr);

}  // namespace fornax
