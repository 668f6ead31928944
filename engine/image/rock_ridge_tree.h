#pragma once
// The Rock Ridge records of the compilation's ISO 9660 tree: what each
// directory record tells, and where the continuation areas of a tree go.

#include <cstdint>
#include <unordered_map>
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
  // A tree that counts the links of these directories once, up front: a
  // folder's count is asked for by each of its subfolders' ".." records, so
  // counting it each time would cost its entries times its subfolders.
  TRockRidgeTree(int64_t nowUnix, const std::vector<const TDEntry*>& directories);

  // The system use of every record of a directory's ISO 9660 extent, in the
  // order the records are written ("." and ".." first, one per extent).
  std::vector<TSystemUse> DirectorySystemUse(const TDEntry& dir) const;

  // What each of those takes, counted without making them (`sizes` emptied
  // first).
  void DirectorySystemUseSizes(const TDEntry& dir, std::vector<TSystemUseSize>& sizes) const;

  TRockRidgeRecord EntryRecord(const TFEntry& entry) const;
  TRockRidgeRecord DirectoryRecord(const TDEntry& dir) const;

 private:
  uint32_t LinksOf(const TDEntry& dir) const;

  int64_t FNow;
  std::unordered_map<const TDEntry*, uint32_t> FLinks;
};

// The continuation areas of a tree, packed one after another into sectors of
// their own, none across a sector boundary.
class TContinuationPlacer {
 public:
  // A placer that goes on from `used` bytes of the area already taken (a
  // tree made in parts); the `bytes` Place fills then start there.
  explicit TContinuationPlacer(int64_t used = 0) : FStart(used), FUsed(used) {}

  // Gives the areas of `uses` their places from sector `areaStart`, fills in
  // the CE entries that point at them and, when `bytes` is given, copies them
  // there (bytes grows as needed; offset 0 is the first sector, or where a
  // placer that goes on started).
  void Place(std::vector<TSystemUse>& uses, uint32_t areaStart, std::vector<uint8_t>* bytes);
  // Places areas of these lengths as Place would, for a layout that counts.
  void Count(const std::vector<TSystemUseSize>& sizes);
  int64_t Sectors() const { return (FUsed + 2047) / 2048; }
  int64_t Used() const { return FUsed; }

 private:
  // The offset of the next area of `length` bytes, from the first sector.
  int64_t Take(int64_t length);

  int64_t FStart = 0;
  int64_t FUsed = 0;
};

}  // namespace fornax
