#pragma once
// The Rock Ridge records of the compilation's ISO 9660 tree: what each
// directory record tells, and where the continuation areas of a tree go.

#include <cstdint>
#include <vector>

#include "engine/image/rock_ridge.h"

namespace fornax {

struct TDEntry;
struct TFEntry;

// What the records of one tree tell. Entries without attributes (folders made
// by name, entries imported from a session without Rock Ridge) read as
// everyone's and nobody's to change, dated as in the ISO 9660 record; the
// root, which no source stands for, is dated `now`.
class TRockRidgeTree {
 public:
  explicit TRockRidgeTree(int64_t nowUnix) : FNow(nowUnix) {}

  // The system use of every record of a directory's ISO 9660 extent, in the
  // order the records are written ("." and ".." first, one per extent).
  std::vector<TSystemUse> DirectorySystemUse(const TDEntry& dir) const;

  TRockRidgeRecord EntryRecord(const TFEntry& entry) const;
  TRockRidgeRecord DirectoryRecord(const TDEntry& dir) const;

 private:
  int64_t FNow;
};

// The continuation areas of a tree, packed one after another into sectors of
// their own, none across a sector boundary.
class TContinuationPlacer {
 public:
  // Gives the areas of `uses` their places from sector `areaStart`, fills in
  // the CE entries that point at them and, when `bytes` is given, copies them
  // there (bytes grows as needed; offset 0 is the first sector).
  void Place(std::vector<TSystemUse>& uses, uint32_t areaStart, std::vector<uint8_t>* bytes);
  int64_t Sectors() const { return (FUsed + 2047) / 2048; }

 private:
  int64_t FUsed = 0;
};

}  // namespace fornax
