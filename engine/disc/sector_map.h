#pragma once
// Sectors of a disc as ranges, and what lies on them: the volume descriptors,
// path tables, directories and files of a session's file system. Reading a
// disc into an image names with these what it could not read.

#include <cstdint>
#include <string>
#include <vector>

#include "engine/disc/sector_source.h"
#include "engine/image/image_file_writer.h"

namespace fornax {

class TCompilation;

struct TSectorSpan {
  uint32_t First = 0;
  uint32_t Count = 0;
  uint64_t End() const { return uint64_t{First} + Count; }
  bool operator==(const TSectorSpan&) const = default;
};

// A set of sectors, kept as sorted ranges that neither overlap nor touch.
class TSectorSet {
 public:
  // Adds `count` sectors from `first` (the part beyond sector 2^32 - 1 is dropped).
  void Add(uint32_t first, uint64_t count = 1);
  void Add(const TSectorSpan& range) { Add(range.First, range.Count); }
  const std::vector<TSectorSpan>& Ranges() const { return FRanges; }
  uint64_t Sectors() const;
  bool Empty() const { return FRanges.empty(); }
  bool Contains(uint32_t sector) const;
  // The parts of the set within `count` sectors from `first`.
  std::vector<TSectorSpan> Within(uint32_t first, uint64_t count) const;

 private:
  std::vector<TSectorSpan> FRanges;
};

// "1500" for one sector, "1200-1203" for several; a list joins them with ", ".
std::string SectorSpanText(const TSectorSpan& range);
std::string SectorSpansText(const std::vector<TSectorSpan>& ranges);

enum class TOwnerKind : uint8_t { File, Directory, Descriptors, PathTable };

// A part of a session's file system and the sectors it lies on.
struct TSectorOwner {
  TOwnerKind Kind = TOwnerKind::File;
  std::string Path;    // "/photos/a.jpg", "/photos" ("/" the root); empty for descriptors and path tables
  bool Joliet = true;  // a directory: of the Joliet tree, else of the ISO 9660 tree
  uint32_t First = 0;
  uint32_t Sectors = 0;
  std::vector<int> Sessions;  // the sessions whose file systems hold it, ascending
};

// What the file system of `session` lays on the disc: its volume descriptors,
// its path tables, and the directories and files of its Joliet tree and of its
// ISO 9660 tree (a file that both trees show is named once, by its Joliet
// name). The trees are read into `scratch`, which is cleared first; a sector
// that cannot be read leaves out what lies below it, but a directory is
// named even when none of its sectors can be read. Empty files own nothing.
std::vector<TSectorOwner> SessionSectorOwners(TSessionSource& source, int session, TCompilation& scratch,
                                              const TLogLine& log);

// Adds the owners of another session: one that is already there (the same
// part at the same sectors, as a file an imported session shows again) takes
// the sessions of both.
void MergeOwners(std::vector<TSectorOwner>& into, const std::vector<TSectorOwner>& more);

// The sectors the owners lie on that come before `limit`.
TSectorSet OwnedSectorsBelow(const std::vector<TSectorOwner>& owners, uint32_t limit);

struct TDamagedOwner {
  const TSectorOwner* Owner = nullptr;
  std::vector<TSectorSpan> Hits;  // its sectors among the bad ones
};

struct TDamageReport {
  std::vector<TDamagedOwner> Owners;  // by their first bad sector; files before the rest at the same sector
  std::vector<TSectorSpan> Unowned;   // bad sectors that no owner holds
};

// Which owners hold the bad sectors, and which bad sectors none holds.
TDamageReport MapDamage(const std::vector<TSectorOwner>& owners, const TSectorSet& bad);

// "/photos/a.jpg", "the directory /photos (Joliet tree)", "the volume
// descriptors", "the path tables"; with `sessions`, the sessions that show
// it follow: " (session 2)", " (sessions 1, 2)".
std::string OwnerText(const TSectorOwner& owner, bool sessions);

// The lines of a report: one per damaged owner ("/photos/a.jpg: sectors
// 1200-1201 of 40"), then the sectors in no file or directory.
std::vector<std::string> DamageLines(const TDamageReport& report, bool sessions);

}  // namespace fornax
