#include "engine/image/header_builder.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <stdexcept>
#include <unordered_map>

#include "engine/base/ordered_work.h"
#include "engine/base/sector.h"
#include "engine/image/compilation.h"
#include "engine/image/el_torito.h"
#include "engine/image/iso_names.h"
#include "engine/image/layout.h"
#include "engine/image/rock_ridge_tree.h"

namespace fornax {
namespace {

struct TTreeWriter {
  const TImageLayout& Plan;
  TTree Tree;
  TDateTime Now;
  // With Rock Ridge (ISO 9660 tree): what the records tell, and where their
  // continuation areas go.
  const TRockRidgeTree* RockRidge = nullptr;
  TContinuationPlacer* Continuations = nullptr;
  std::vector<uint8_t>* ContinuationBytes = nullptr;
  // The offset of each local hour met so far: files share few dates, and
  // asking the system's time zone rules for every record is slow.
  mutable std::unordered_map<int64_t, int> Offsets;

  int ZoneOf(TDateTime date) const {
    const auto hour = static_cast<int64_t>(std::floor(date * 24));
    const auto [at, added] = Offsets.try_emplace(hour, 0);
    if (added) at->second = LocalUtcOffsetQuarterHours(date);
    return at->second;
  }

  bool Iso() const { return Tree == TTree::Iso; }
  uint32_t AreaStart() const { return static_cast<uint32_t>(Iso() ? Plan.IsoDirectoryArea : Plan.JolietDirectoryArea); }
  uint32_t ExtentOf(const TDEntry& d) const { return AreaStart() + static_cast<uint32_t>(Iso() ? d.ISOLocation : d.JolietLocation); }
  int64_t SizeOf(const TDEntry& d) const { return Iso() ? d.ISOSize : d.JolietSize; }
};

void Expect(bool condition, const std::string& what) {
  if (!condition) throw std::logic_error("image header does not match its layout: " + what);
}

void PadToSector(std::vector<uint8_t>& out) {
  out.resize(static_cast<size_t>(RoundUpToSector(static_cast<int64_t>(out.size()))), 0);
}

void AppendSector(std::vector<uint8_t>& out, const TSector& sector) {
  out.insert(out.end(), sector.begin(), sector.end());
}

void AppendPathTable(std::vector<uint8_t>& out, const std::vector<TDEntry*>& order,
                     const TTreeWriter& w, bool bigEndian, int64_t plannedBytes) {
  const size_t start = out.size();
  for (size_t i = 0; i < order.size(); ++i) {
    const TDEntry& dir = *order[i];
    AppendPathTableRecord(out, DirectoryIdentifier(dir, i == 0, w.Tree), w.ExtentOf(dir),
                          static_cast<uint16_t>(i == 0 ? 1 : dir.Parent->Number), bigEndian);
  }
  Expect(static_cast<int64_t>(out.size() - start) == plannedBytes, "path table size");
  PadToSector(out);
}

// Appends one record and moves it to the next sector first when it would
// cross a sector boundary.
void AppendPacked(std::vector<uint8_t>& out, size_t extentStart, const TDirectoryRecord& record) {
  const size_t length = DirectoryRecordLength(record.Identifier.size()) + record.SystemUse.size();
  const size_t used = (out.size() - extentStart) % kSectorSize;
  if (used + length > static_cast<size_t>(kSectorSize)) out.resize(out.size() + (kSectorSize - used), 0);
  AppendDirectoryRecord(out, record);
}

void AppendFileRecords(std::vector<uint8_t>& out, size_t start, const TFEntry& entry,
                       const TTreeWriter& w, TDirectoryRecord record,
                       std::vector<TSystemUse>& uses, size_t& use) {
  const int64_t size = w.Iso() ? entry.ISOSize : entry.JolietSize;
  const int32_t location = w.Iso() ? entry.ISOLocation : entry.JolietLocation;
  int64_t extent = 0;
  if (size > 0) extent = entry.Imported ? location : static_cast<int64_t>(w.Plan.FirstFileLocation) + location;
  // A file too long for one record is told as consecutive extents, every one
  // but the last flagged as continued.
  int64_t remaining = size;
  do {
    const int64_t part = std::min(remaining, kMaxExtentBytes);
    record.Extent = static_cast<uint32_t>(extent);
    record.DataLength = static_cast<uint32_t>(part);
    remaining -= part;
    record.Flags = static_cast<uint8_t>((record.Flags & ~kFlagMultiExtent) | (remaining > 0 ? kFlagMultiExtent : 0));
    if (use < uses.size()) record.SystemUse = uses[use++].InRecord;
    AppendPacked(out, start, record);
    extent += part / kSectorSize;
  } while (remaining > 0);
}

void AppendDirectoryExtent(std::vector<uint8_t>& out, const TDEntry& dir, const TTreeWriter& w) {
  const size_t start = out.size();
  std::vector<TSystemUse> uses;
  if (w.RockRidge) {
    Expect(w.Continuations->Used() == dir.ContinuationAt, "Rock Ridge continuation areas of " + dir.Path);
    uses = w.RockRidge->DirectorySystemUse(dir);
    w.Continuations->Place(uses, static_cast<uint32_t>(w.Plan.ContinuationArea), w.ContinuationBytes);
  }
  size_t use = 0;
  const auto systemUse = [&]() { return use < uses.size() ? uses[use++].InRecord : std::vector<uint8_t>(); };
  if (HasDotRecords(dir, w.Iso())) {
    TDirectoryRecord dot;
    dot.Date = w.Now;
    dot.TimeZone = w.ZoneOf(w.Now);
    dot.Flags = kFlagDirectory;
    dot.Extent = w.ExtentOf(dir);
    dot.DataLength = static_cast<uint32_t>(w.SizeOf(dir));
    dot.Identifier = std::string(1, '\0');
    dot.SystemUse = systemUse();
    AppendPacked(out, start, dot);
    dot.Extent = w.ExtentOf(*dir.Parent);
    dot.DataLength = static_cast<uint32_t>(w.SizeOf(*dir.Parent));
    dot.Identifier = std::string(1, '\1');
    dot.SystemUse = systemUse();
    AppendPacked(out, start, dot);
  }
  for (const TFEntry* entry = dir.FirstEntry; entry; entry = entry->Next) {
    TDirectoryRecord record;
    record.Date = entry->DateTime;
    // The offset of the entry's own date: the one of the day the tree is
    // written would move every date across a change of summer time.
    record.TimeZone = w.ZoneOf(entry->DateTime);
    record.Identifier = EntryIdentifier(*entry, w.Tree);
    record.Flags = (entry->Attributes & 0x02) ? kFlagHidden : 0;
    if (const TDEntry* sub = entry->Directory) {
      record.Flags |= kFlagDirectory;
      record.Extent = w.ExtentOf(*sub);
      record.DataLength = static_cast<uint32_t>(w.SizeOf(*sub));
      record.SystemUse = systemUse();
      AppendPacked(out, start, record);
    } else {
      AppendFileRecords(out, start, *entry, w, record, uses, use);
    }
  }
  PadToSector(out);
  Expect(static_cast<int64_t>(out.size() - start) == w.SizeOf(dir), "directory extent of " + dir.Path);
}

// The header as it is made, handed on in pieces of about a mebibyte, so that
// no one needs a large compilation's header whole in memory.
class THeaderOut {
 public:
  explicit THeaderOut(const THeaderSink& sink) : FSink(sink) {}
  int64_t Size() const { return FHanded + static_cast<int64_t>(FBuffer.size()); }
  void Append(const uint8_t* bytes, size_t length) {
    if (length >= kPiece) {
      Flush();
      Hand(bytes, length);
      return;
    }
    FBuffer.insert(FBuffer.end(), bytes, bytes + length);
    if (FBuffer.size() >= kPiece) Flush();
  }
  void Append(const std::vector<uint8_t>& bytes) { Append(bytes.data(), bytes.size()); }
  void AppendZeros(size_t length) {
    FBuffer.resize(FBuffer.size() + length, 0);
    if (FBuffer.size() >= kPiece) Flush();
  }
  void Flush() {
    if (FBuffer.empty()) return;
    Hand(FBuffer.data(), FBuffer.size());
    FBuffer.clear();
  }

 private:
  static constexpr size_t kPiece = 1 << 20;
  void Hand(const uint8_t* bytes, size_t length) {
    FSink(bytes, length);
    FHanded += static_cast<int64_t>(length);
  }
  const THeaderSink& FSink;
  std::vector<uint8_t> FBuffer;
  int64_t FHanded = 0;
};

// The directory extents of one tree, made a run of directories at a time on
// two threads and handed on in order. Every extent is made on its own (so the
// records' packing counts from its start); with Rock Ridge a run's
// continuation areas start where the layout put its first directory's, and
// are copied into `continuationBytes` (the tree's whole area) as the run is
// handed on.
struct TExtentRun {
  size_t First = 0, End = 0;  // directories [First, End)
};

struct TMadeRun {
  std::vector<uint8_t> Extents;
  int64_t ContinuationStart = 0, ContinuationEnd = 0;
  std::vector<uint8_t> Continuations;  // from ContinuationStart
};

std::vector<TExtentRun> ExtentRuns(const std::vector<const TDEntry*>& dirs, const TTreeWriter& w) {
  constexpr int64_t kRunBytes = 512 * 1024;
  std::vector<TExtentRun> runs;
  int64_t bytes = 0;
  for (size_t i = 0; i < dirs.size(); ++i) {
    if (runs.empty() || bytes >= kRunBytes) {
      runs.push_back({i, i});
      bytes = 0;
    }
    runs.back().End = i + 1;
    bytes += w.SizeOf(*dirs[i]);
  }
  return runs;
}

void AppendTree(THeaderOut& out, const std::vector<const TDEntry*>& dirs, const TTreeWriter& tree,
                std::vector<uint8_t>* continuationBytes) {
  const std::vector<TExtentRun> runs = ExtentRuns(dirs, tree);
  const auto make = [&](size_t index) {
    const TExtentRun& run = runs[index];
    TMadeRun made;
    TTreeWriter w = tree;  // its own time zone cache
    std::optional<TContinuationPlacer> placer;
    if (w.RockRidge) {
      made.ContinuationStart = dirs[run.First]->ContinuationAt;
      placer.emplace(made.ContinuationStart);
      w.Continuations = &*placer;
      w.ContinuationBytes = &made.Continuations;
    }
    for (size_t i = run.First; i < run.End; ++i) AppendDirectoryExtent(made.Extents, *dirs[i], w);
    if (placer) made.ContinuationEnd = placer->Used();
    return made;
  };
  int64_t continuationsAt = 0;
  const auto take = [&](size_t, TMadeRun& made) {
    out.Append(made.Extents);
    if (!tree.RockRidge) return;
    Expect(made.ContinuationStart == continuationsAt, "Rock Ridge continuation areas");
    continuationsAt = made.ContinuationEnd;
    Expect(made.ContinuationStart + static_cast<int64_t>(made.Continuations.size()) <=
               static_cast<int64_t>(continuationBytes->size()),
           "Rock Ridge continuation sectors");
    std::copy(made.Continuations.begin(), made.Continuations.end(),
              continuationBytes->begin() + static_cast<ptrdiff_t>(made.ContinuationStart));
  };
  MakeInOrder<TMadeRun>(runs.size(), 4, make, take);
  if (tree.RockRidge)
    Expect(SectorsFor(continuationsAt) * kSectorSize == static_cast<int64_t>(continuationBytes->size()),
           "Rock Ridge continuation sectors");
}

TDescriptorPlan DescriptorPlanFor(const TImageLayout& plan, const TDEntry& root, bool iso) {
  TDescriptorPlan d;
  d.VolumeSpaceSize = static_cast<uint32_t>(plan.VolumeSpaceSize);
  d.PathTableSize = static_cast<uint32_t>(iso ? plan.IsoPathTableSize : plan.JolietPathTableSize);
  d.PathTableL = static_cast<uint32_t>(iso ? plan.IsoPathTableL : plan.JolietPathTableL);
  d.PathTableM = static_cast<uint32_t>(iso ? plan.IsoPathTableM : plan.JolietPathTableM);
  d.RootExtent = static_cast<uint32_t>(iso ? plan.IsoDirectoryArea : plan.JolietDirectoryArea);
  d.RootSize = static_cast<uint32_t>(iso ? root.ISOSize : root.JolietSize);
  return d;
}

// Checks that the item that starts now lies at its planned sector.
void ExpectAt(int64_t size, const TImageLayout& plan, int64_t sector, const char* what) {
  Expect(size == (sector - plan.SessionStart) * kSectorSize, what);
}

// The system area and the volume descriptors up to the terminator.
std::vector<uint8_t> DescriptorSet(const TCompilation& compilation, const TImageLayout& plan,
                                   const TVolumeIdentifiers& ids, TDateTime now) {
  std::vector<uint8_t> out(16 * kSectorSize, 0);
  const TDEntry& root = *compilation.RootDirectory();
  const auto at = [&out] { return static_cast<int64_t>(out.size()); };
  ExpectAt(at(), plan, plan.PrimaryDescriptor, "primary descriptor");
  AppendSector(out, PrimaryVolumeDescriptor(ids, DescriptorPlanFor(plan, root, true), now));
  if (plan.Bootable) {
    ExpectAt(at(), plan, plan.BootRecord, "boot record");
    AppendSector(out, BootRecordDescriptor(static_cast<uint32_t>(plan.BootCatalogLocation)));
  }
  if (plan.Joliet) {
    ExpectAt(at(), plan, plan.JolietDescriptor, "Joliet descriptor");
    AppendSector(out, JolietVolumeDescriptor(ids, DescriptorPlanFor(plan, root, false)));
  }
  ExpectAt(at(), plan, plan.Terminator, "terminator");
  AppendSector(out, TerminatorDescriptor());
  return out;
}

std::vector<uint8_t> PathTable(const std::vector<TDEntry*>& order, const TTreeWriter& w, bool bigEndian,
                               int64_t plannedBytes) {
  std::vector<uint8_t> table;
  AppendPathTable(table, order, w, bigEndian, plannedBytes);
  return table;
}

}  // namespace

void BuildDescriptorCopy(const TCompilation& compilation, const TImageLayout& plan, const TVolumeIdentifiers& ids,
                         TDateTime now, TDescriptorCopy& copy) {
  const std::vector<uint8_t> set = DescriptorSet(compilation, plan, ids, now);
  std::fill(copy.Bytes.begin(), copy.Bytes.end(), 0xFF);
  std::copy(set.begin(), set.end(), copy.Bytes.begin());
  copy.Length = static_cast<int64_t>(set.size());
}

void WriteHeaderStream(const TCompilation& compilation, const TImageLayout& plan, const TVolumeIdentifiers& ids,
                       TDateTime now, const THeaderSink& sink) {
  THeaderOut out(sink);
  out.Append(DescriptorSet(compilation, plan, ids, now));

  std::vector<const TDEntry*> directories;
  compilation.Directories().ForEach([&directories](const TDEntry* dir) { directories.push_back(dir); });
  const TRockRidgeTree rockRidge =
      plan.RockRidge ? TRockRidgeTree(UnixFromLocalDateTime(now), directories) : TRockRidgeTree(0);
  std::vector<uint8_t> continuationBytes;
  TTreeWriter iso{plan, TTree::Iso, now};
  if (plan.RockRidge) {
    iso.RockRidge = &rockRidge;
    continuationBytes.resize(static_cast<size_t>(plan.ContinuationSectors) * kSectorSize, 0);
  }
  const TTreeWriter joliet{plan, TTree::Joliet, now};
  ExpectAt(out.Size(), plan, plan.IsoPathTableL, "ISO path table L");
  out.Append(PathTable(compilation.IsoOrder(), iso, false, plan.IsoPathTableSize));
  ExpectAt(out.Size(), plan, plan.IsoPathTableM, "ISO path table M");
  out.Append(PathTable(compilation.IsoOrder(), iso, true, plan.IsoPathTableSize));
  if (plan.Joliet) {
    ExpectAt(out.Size(), plan, plan.JolietPathTableL, "Joliet path table L");
    out.Append(PathTable(compilation.JolietOrder(), joliet, false, plan.JolietPathTableSize));
    ExpectAt(out.Size(), plan, plan.JolietPathTableM, "Joliet path table M");
    out.Append(PathTable(compilation.JolietOrder(), joliet, true, plan.JolietPathTableSize));
  }

  ExpectAt(out.Size(), plan, plan.IsoDirectoryArea, "ISO directories");
  AppendTree(out, directories, iso, &continuationBytes);
  if (plan.RockRidge) {
    ExpectAt(out.Size(), plan, plan.ContinuationArea, "Rock Ridge continuation areas");
    out.Append(continuationBytes);
  }
  if (plan.Joliet) {
    ExpectAt(out.Size(), plan, plan.JolietDirectoryArea, "Joliet directories");
    AppendTree(out, directories, joliet, nullptr);
  }
  if (plan.Bootable) {
    ExpectAt(out.Size(), plan, plan.BootCatalogLocation, "boot catalog");
    const TSector catalog = BootCatalog(plan.BootImageSectors, static_cast<uint32_t>(plan.BootImageLocation));
    out.Append(catalog.data(), catalog.size());
  }
  out.AppendZeros(static_cast<size_t>(plan.PadSectors) * kSectorSize);
  out.Flush();
  Expect(out.Size() == plan.HeaderSectors() * kSectorSize, "header length");
}

void BuildHeaderStream(const TCompilation& compilation, const TImageLayout& plan,
                       const TVolumeIdentifiers& ids, TDateTime now,
                       std::vector<uint8_t>& out, TDescriptorCopy& copy) {
  out.clear();
  out.reserve(static_cast<size_t>(plan.HeaderSectors() * kSectorSize));
  WriteHeaderStream(compilation, plan, ids, now,
                    [&out](const uint8_t* bytes, size_t length) { out.insert(out.end(), bytes, bytes + length); });
  BuildDescriptorCopy(compilation, plan, ids, now, copy);
}

}  // namespace fornax
