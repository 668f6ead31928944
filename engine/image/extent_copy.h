#pragma once
// Copying one source file into its planned place of an image file.

#include <atomic>
#include <cstdint>

namespace fornax {

struct TExtentCopy {
  bool Shrunk = false;  // the source ended before its planned length; zeros stand in
  bool Grown = false;   // the source holds more than its planned length; the rest is left out
};

// Writes exactly `plannedBytes` taken from `source` at offset `at` of `image`,
// then zeros to the end of the last sector, so the next item always lands
// where the layout put it. With `holesReadAsZero` (a new regular image file)
// holes of a sparse source stay holes and the caller sets the image's final
// length; otherwise every zero is written. Adds the bytes handled to
// `progress`. Throws EStreamError when the image cannot be written or the
// source cannot be read.
// `sourceSize` is the source's size when it was opened.
TExtentCopy CopyExtent(int source, int64_t sourceSize, int image, int64_t at, int64_t plannedBytes,
                       bool holesReadAsZero, std::atomic<int64_t>* progress);

}  // namespace fornax
