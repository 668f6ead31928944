#include "engine/image/rock_ridge_tree.h"

#include <sys/stat.h>

#include <algorithm>

#include "engine/base/date_time.h"
#include "engine/image/entries.h"
#include "engine/image/iso_names.h"
#include "engine/image/layout.h"

namespace fornax {
namespace {

constexpr uint32_t kPlainDirectoryMode = S_IFDIR | 0555;
constexpr uint32_t kPlainFileMode = S_IFREG | 0444;

// A folder's link count: its own name, its ".", and each subfolder's "..".
uint32_t DirectoryLinks(const TDEntry& dir) {
  uint32_t links = 2;
  for (const TFEntry* entry = dir.FirstEntry; entry; entry = entry->Next)
    if (entry->IsDirectory()) ++links;
  return links;
}

void PutAttributes(TRockRidgeRecord& record, const TPosixAttributes& posix) {
  record.Mode = posix.Mode;
  record.Device = posix.IsDevice();
  record.DeviceMajor = posix.DeviceMajor();
  record.DeviceMinor = posix.DeviceMinor();
  record.Uid = posix.Uid;
  record.Gid = posix.Gid;
  record.Modified = posix.Modified;
  record.Accessed = posix.Accessed;
  record.Changed = posix.Changed;
}

void PutPlainAttributes(TRockRidgeRecord& record, bool directory, int64_t when) {
  record.Mode = directory ? kPlainDirectoryMode : kPlainFileMode;
  record.Modified = record.Accessed = record.Changed = when;
}

}  // namespace

TRockRidgeTree::TRockRidgeTree(int64_t nowUnix, const std::vector<const TDEntry*>& directories) : FNow(nowUnix) {
  FLinks.reserve(directories.size());
  for (const TDEntry* dir : directories) FLinks.emplace(dir, DirectoryLinks(*dir));
}

uint32_t TRockRidgeTree::LinksOf(const TDEntry& dir) const {
  const auto counted = FLinks.find(&dir);
  return counted != FLinks.end() ? counted->second : DirectoryLinks(dir);
}

TRockRidgeRecord TRockRidgeTree::EntryRecord(const TFEntry& entry) const {
  TRockRidgeRecord record;
  if (entry.Posix) {
    PutAttributes(record, entry.Posix);
    record.LinkTarget = entry.Posix.LinkTarget();
  } else {
    PutPlainAttributes(record, entry.IsDirectory(), UnixFromLocalDateTime(entry.DateTime));
  }
  record.Links = entry.Directory ? LinksOf(*entry.Directory) : 1;
  record.Name = entry.PosixName();
  return record;
}

TRockRidgeRecord TRockRidgeTree::DirectoryRecord(const TDEntry& dir) const {
  TRockRidgeRecord record;
  if (dir.Self) {
    record = EntryRecord(*dir.Self);
  } else {
    PutPlainAttributes(record, true, FNow);
    record.Links = LinksOf(dir);
  }
  record.Name.clear();
  return record;
}

std::vector<TSystemUse> TRockRidgeTree::DirectorySystemUse(const TDEntry& dir) const {
  std::vector<TSystemUse> uses;
  if (HasDotRecords(dir, true)) {
    TRockRidgeRecord self = DirectoryRecord(dir);
    self.NameFlags = kNameCurrent;
    self.VolumeRoot = dir.Parent == &dir;
    uses.push_back(PackSystemUse(RockRidgeEntries(self), SystemUseRoom(1)));
    TRockRidgeRecord parent = DirectoryRecord(*dir.Parent);
    parent.NameFlags = kNameParent;
    uses.push_back(PackSystemUse(RockRidgeEntries(parent), SystemUseRoom(1)));
  }
  for (const TFEntry* entry = dir.FirstEntry; entry; entry = entry->Next) {
    TSystemUse use =
        PackSystemUse(RockRidgeEntries(EntryRecord(*entry)), SystemUseRoom(EntryIdentifierLength(*entry, TTree::Iso)));
    const int64_t records = entry->IsDirectory() ? 1 : ExtentCount(entry->ISOSize);
    for (int64_t i = 1; i < records; ++i) uses.push_back(use);
    uses.push_back(std::move(use));
  }
  return uses;
}

// The sizes follow DirectorySystemUse record by record; only the name's
// length and a link's target are looked at, so no record is made.
void TRockRidgeTree::DirectorySystemUseSizes(const TDEntry& dir, std::vector<TSystemUseSize>& sizes) const {
  sizes.clear();
  std::vector<size_t> lengths;
  TRockRidgeRecord shape;
  const auto linkTarget = [](const TFEntry* entry) {
    return entry && entry->Posix ? entry->Posix.LinkTarget() : std::string();
  };
  if (HasDotRecords(dir, true)) {
    shape.NameFlags = kNameCurrent;
    shape.VolumeRoot = dir.Parent == &dir;
    shape.LinkTarget = linkTarget(dir.Self);
    RockRidgeEntryLengths(shape, 0, lengths);
    sizes.push_back(PackedSystemUseSize(lengths, SystemUseRoom(1)));
    shape.NameFlags = kNameParent;
    shape.VolumeRoot = false;
    shape.LinkTarget = linkTarget(dir.Parent->Self);
    RockRidgeEntryLengths(shape, 0, lengths);
    sizes.push_back(PackedSystemUseSize(lengths, SystemUseRoom(1)));
  }
  shape = TRockRidgeRecord();
  for (const TFEntry* entry = dir.FirstEntry; entry; entry = entry->Next) {
    shape.LinkTarget = linkTarget(entry);
    shape.Device = entry->Posix.IsDevice();
    RockRidgeEntryLengths(shape, entry->PosixName().size(), lengths);
    const TSystemUseSize size = PackedSystemUseSize(lengths, SystemUseRoom(EntryIdentifierLength(*entry, TTree::Iso)));
    const int64_t records = entry->IsDirectory() ? 1 : ExtentCount(entry->ISOSize);
    for (int64_t i = 0; i < records; ++i) sizes.push_back(size);
  }
}

int64_t TContinuationPlacer::Take(int64_t length) {
  if (FUsed % 2048 + length > 2048) FUsed += 2048 - FUsed % 2048;
  const int64_t at = FUsed;
  FUsed += length;
  return at;
}

void TContinuationPlacer::Count(const std::vector<TSystemUseSize>& sizes) {
  for (const TSystemUseSize& size : sizes)
    for (const size_t length : size.Areas) Take(static_cast<int64_t>(length));
}

void TContinuationPlacer::Place(std::vector<TSystemUse>& uses, uint32_t areaStart, std::vector<uint8_t>* bytes) {
  for (TSystemUse& use : uses) {
    // Every CE of the chain is filled in before any area is copied.
    std::vector<int64_t> offsets;
    uint8_t* pointer = use.Areas.empty() ? nullptr : use.InRecord.data() + use.CeAt;
    for (TContinuationArea& area : use.Areas) {
      const auto length = static_cast<int64_t>(area.Bytes.size());
      const int64_t at = Take(length);
      PutContinuation(pointer, areaStart + static_cast<uint32_t>(at / 2048), static_cast<uint32_t>(at % 2048),
                      static_cast<uint32_t>(length));
      offsets.push_back(at);
      pointer = area.CeAt == std::string::npos ? nullptr : area.Bytes.data() + area.CeAt;
    }
    if (!bytes) continue;
    for (size_t i = 0; i < use.Areas.size(); ++i) {
      const std::vector<uint8_t>& area = use.Areas[i].Bytes;
      const auto at = static_cast<size_t>(offsets[i] - FStart);
      if (bytes->size() < at + area.size()) bytes->resize(at + area.size(), 0);
      std::copy(area.begin(), area.end(), bytes->begin() + static_cast<ptrdiff_t>(at));
    }
  }
}

}  // namespace fornax
