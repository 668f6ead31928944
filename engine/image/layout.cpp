#include "engine/image/layout.h"

#include <fmt/format.h>

#include "engine/base/ordered_work.h"
#include "engine/base/sector.h"
#include "engine/base/text.h"
#include "engine/image/compilation.h"
#include "engine/image/iso_names.h"
#include "engine/image/path_table_order.h"
#include "engine/image/rock_ridge_tree.h"

namespace fornax {
namespace {

int32_t Sectors32(int64_t bytes) { return static_cast<int32_t>(SectorsFor(bytes)); }

int64_t IsoPathTableBytes(const std::vector<TDEntry*>& order) {
  int64_t size = 10;
  for (size_t i = 1; i < order.size(); ++i) {
    const size_t n = DirectoryIdentifier(*order[i], false, TTree::Iso).size();
    size += 8 + n + (n % 2);
  }
  return size;
}

int64_t JolietPathTableBytes(const std::vector<TDEntry*>& order) {
  int64_t size = 10;
  for (size_t i = 1; i < order.size(); ++i) {
    const size_t n = DirectoryIdentifier(*order[i], false, TTree::Joliet).size();
    size += 8 + n + (n % 2);
  }
  return size;
}

// Places the extents of every directory of one tree one after another, in
// directory-table order; returns the bytes of the whole area. With Rock Ridge
// (ISO 9660 tree only) the continuation areas are counted in `continuations`.
int64_t PlaceDirectories(const std::vector<TDEntry*>& directories, bool isoTree,
                         TContinuationPlacer* continuations = nullptr) {
  const TRockRidgeTree rockRidge(0);
  std::vector<TSystemUseSize> uses;
  int64_t sectors = 0;
  for (TDEntry* dir : directories) {
    int64_t size = 0;
    if (continuations) {
      dir->ContinuationAt = continuations->Used();
      rockRidge.DirectorySystemUseSizes(*dir, uses);
      size = PackedDirectorySize(*dir, uses);
      continuations->Count(uses);
    } else {
      size = PackedDirectorySize(*dir, isoTree);
    }
    if (isoTree) {
      dir->ISOLocation = static_cast<int32_t>(sectors);
      dir->ISOSize = size;
    } else {
      dir->JolietLocation = static_cast<int32_t>(sectors);
      dir->JolietSize = size;
    }
    sectors += size / kSectorSize;
  }
  return sectors * kSectorSize;
}

// Gives every new file its extent, relative to the first file location.
int64_t PlaceFiles(const TCompilation& compilation) {
  int64_t next = 0;
  compilation.Files().ForEach([&](TFEntry* entry) {
    if (entry->Imported) return;
    if (TDEntry* dir = entry->Directory) {
      entry->ISOLocation = dir->ISOLocation;
      entry->JolietLocation = dir->JolietLocation;
      entry->ISOSize = dir->ISOSize;
      entry->JolietSize = dir->JolietSize;
      return;
    }
    const int32_t location = entry->ISOSize > 0 ? static_cast<int32_t>(next) : 0;
    entry->ISOLocation = entry->JolietLocation = location;
    next += SectorsFor(entry->ISOSize);
  });
  return next;
}

}  // namespace

int64_t TImageLayout::HeaderSectors() const {
  return static_cast<int64_t>(FirstFileLocation) - SessionStart -
         (Bootable ? BootImageSectors : 0);
}

int64_t ExtentCount(int64_t size) {
  if (size <= kMaxExtentBytes) return 1;
  return (size + kMaxExtentBytes - 1) / kMaxExtentBytes;
}

bool HasDotRecords(const TDEntry& dir, bool isoTree) {
  if (!dir.FirstEntry) return true;
  const std::string id = EntryIdentifier(*dir.FirstEntry, isoTree ? TTree::Iso : TTree::Joliet);
  return id != std::string(1, '\0');
}

namespace {

// Record lengths come from `length(identifier, record index)`.
template <typename TLength>
int64_t PackedSize(const TDEntry& dir, bool isoTree, const TLength& length) {
  const TTree tree = isoTree ? TTree::Iso : TTree::Joliet;
  int64_t sectors = 1;
  int64_t used = 0;
  const auto place = [&](int64_t length) {
    if (used + length > kSectorSize) {
      ++sectors;
      used = 0;
    }
    used += length;
  };
  size_t index = 0;
  if (HasDotRecords(dir, isoTree)) {
    place(length(1, index++));
    place(length(1, index++));
  }
  for (const TFEntry* entry = dir.FirstEntry; entry; entry = entry->Next) {
    const size_t identifier = EntryIdentifierLength(*entry, tree);
    const int64_t records = entry->IsDirectory() ? 1 : ExtentCount(entry->ISOSize);
    for (int64_t i = 0; i < records; ++i) place(length(identifier, index++));
  }
  return sectors * kSectorSize;
}

}  // namespace

int64_t PackedDirectorySize(const TDEntry& dir, bool isoTree) {
  return PackedSize(dir, isoTree, [](size_t identifier, size_t) {
    return static_cast<int64_t>(DirectoryRecordLength(identifier));
  });
}

int64_t PackedDirectorySize(const TDEntry& dir, const std::vector<TSystemUseSize>& uses) {
  return PackedSize(dir, true, [&](size_t identifier, size_t index) {
    return static_cast<int64_t>(DirectoryRecordLength(identifier) + uses.at(index).InRecord);
  });
}

TImageLayout PlanLayout(TCompilation& compilation, const TLayoutOptions& options) {
  TImageLayout plan;
  plan.SessionStart = options.SessionStart;
  plan.Joliet = options.Joliet;
  plan.Bootable = options.Bootable;
  plan.RockRidge = options.RockRidge;

  const std::vector<TDEntry*> directories = compilation.Directories().Snapshot();
  compilation.IsoOrder() = OrderForPathTables(directories);
  compilation.JolietOrder() = compilation.IsoOrder();

  int32_t next = options.SessionStart + 16;
  plan.PrimaryDescriptor = next++;
  if (plan.Bootable) plan.BootRecord = next++;
  if (plan.Joliet) plan.JolietDescriptor = next++;
  plan.Terminator = next++;

  plan.IsoPathTableSize = IsoPathTableBytes(compilation.IsoOrder());
  plan.IsoPathTableL = next;
  next += Sectors32(plan.IsoPathTableSize);
  plan.IsoPathTableM = next;
  next += Sectors32(plan.IsoPathTableSize);
  if (plan.Joliet) {
    plan.JolietPathTableSize = JolietPathTableBytes(compilation.JolietOrder());
    plan.JolietPathTableL = next;
    next += Sectors32(plan.JolietPathTableSize);
    plan.JolietPathTableM = next;
    next += Sectors32(plan.JolietPathTableSize);
  }

  // The two trees are placed at once; each writes only its own fields of the
  // directories.
  TContinuationPlacer continuations;
  int64_t treeBytes[2] = {0, 0};
  MakeInOrder<int64_t>(
      plan.Joliet ? 2 : 1, 2,
      [&](size_t tree) {
        return tree == 0 ? PlaceDirectories(directories, true, plan.RockRidge ? &continuations : nullptr)
                         : PlaceDirectories(directories, false);
      },
      [&](size_t tree, int64_t bytes) { treeBytes[tree] = bytes; });
  plan.IsoDirectoryArea = next;
  plan.IsoDirectoryAreaSize = treeBytes[0];
  next += Sectors32(plan.IsoDirectoryAreaSize);
  if (plan.RockRidge) {
    plan.ContinuationArea = next;
    plan.ContinuationSectors = static_cast<int32_t>(continuations.Sectors());
    next += plan.ContinuationSectors;
  }
  if (plan.Joliet) {
    plan.JolietDirectoryArea = next;
    plan.JolietDirectoryAreaSize = treeBytes[1];
    next += Sectors32(plan.JolietDirectoryAreaSize);
  }

  if (plan.Bootable) {
    plan.BootCatalogLocation = next++;
    plan.BootImageSectors = Sectors32(options.BootImageBytes);
    next += plan.BootImageSectors;
  }
  if (next < 150) {
    plan.FirstFileLocation = 150;
    plan.PadSectors = 150 - next;
    plan.BootImageLocation = 150 - plan.BootImageSectors;
  } else {
    plan.FirstFileLocation = next;
    plan.PadSectors = 0;
    plan.BootImageLocation = plan.BootCatalogLocation + 1;
  }
  if (!plan.Bootable) plan.BootImageLocation = 0;

  plan.VolumeSpaceSize = plan.FirstFileLocation + PlaceFiles(compilation);
  plan.TrackSectors = plan.VolumeSpaceSize - plan.SessionStart;
  return plan;
}

std::vector<std::string> LayoutReport(const TImageLayout& plan, int fileCount) {
  std::vector<std::string> lines;
  lines.push_back(fmt::format("{} Files Added to CD, now sorting", fileCount));
  lines.push_back("Sorting .... ISO9660 LN-PN");
  lines.push_back("Sorting .... Joliet  LN-PN");
  lines.push_back("Sorting .... ISO9660");
  lines.push_back("Sorting .... Joliet");
  lines.push_back("Sorting .... Done");
  const auto line = [&](const char* text, int64_t location) {
    lines.push_back(fmt::format("{}{:08d}", text, location));
  };
  line(" Primary Volume Descriptor Location   :", plan.PrimaryDescriptor);
  if (plan.Bootable) line(" Boot Record    Descriptor Location   :", plan.BootRecord);
  if (plan.Joliet) line(" Joliet Volume Descriptor Location    :", plan.JolietDescriptor);
  line(" Terminator Vol Descriptor Location   :", plan.Terminator);
  line(" Path Table Records Location (Least)  :", plan.IsoPathTableL);
  line(" Path Table Records Location (Most)   :", plan.IsoPathTableM);
  if (plan.Joliet) {
    line(" Path Table Records Location (Least) J:", plan.JolietPathTableL);
    line(" Path Table Records Location (Most)  J:", plan.JolietPathTableM);
  }
  line(" File and Directory Record Location   :", plan.IsoDirectoryArea);
  if (plan.Joliet) line(" File and Directory Record Location  J:", plan.JolietDirectoryArea);
  line(" First File Location                  :", plan.FirstFileLocation);
  return lines;
}

}  // namespace fornax
