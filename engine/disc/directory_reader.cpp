#include "engine/disc/directory_reader.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <fmt/format.h>
#include <vector>

#include "engine/base/device_base.h"
#include "engine/base/messages.h"
#include "engine/image/compilation.h"
#include "engine/image/iso_names.h"
#include "engine/image/rock_ridge.h"

namespace fornax {

constexpr size_t kIdentifierLimit = 240;
// The entries a setuid line names before it only counts the rest.
constexpr size_t kNamedSetuid = 5;

std::string TDirectoryReader::TWhere::Path() const {
  std::string path = Name.empty() ? std::string() : "/" + Name;
  for (const TDEntry* dir = Dir; dir && dir->Parent != dir; dir = dir->Parent) path = "/" + dir->LongName + path;
  return path.empty() ? "/" : path;
}

// A file told in several records (one per extent), gathered until its last.
struct TDirectoryReader::TPendingFile {
  bool Active = false;
  bool Skipping = false;  // the later records of a file already refused
  TDiscRecord First;
  uint32_t NextExtent = 0;
  uint64_t Size = 0;
};

TDirectoryReader::TDirectoryReader(TSectorSource& source, TCompilation& compilation, TLogLine log, bool joliet)
    : FSource(source), FArea(source.RecordedArea()), FCompilation(compilation), FLog(std::move(log)),
      FJoliet(joliet) {}

bool TDirectoryReader::Read(uint32_t extent, uint32_t length, TDEntry* target) {
  const bool read = ReadDirectory(extent, length, target, 0);
  ReportClearedSetuid();
  return read;
}

bool TDirectoryReader::Within(const TWhere& where, uint64_t bytes, uint32_t extent, uint64_t sectors) {
  switch (FArea.Place(extent, sectors)) {
    case TRecordedArea::TPlace::Inside: return true;
    case TRecordedArea::TPlace::Outside: Say(fmt::format(kMsgEntryOutsideDisc, where.Path(), bytes, extent)); break;
    case TRecordedArea::TPlace::InNewSession:
      Say(fmt::format(kMsgEntryInNewSession, where.Path(), bytes, extent, FArea.NewSessionStart()));
      break;
  }
  return false;
}

// Continuation areas a record may chain; a longer chain is a loop or junk.
constexpr int kMaxContinuations = 32;

// A record is asked for its name, its attributes and whether it was moved:
// its entries are read, and its continuation areas followed, once.
TRockRidgeFields TDirectoryReader::RockRidgeOf(const TDiscRecord& record) {
  if (!FRockRidge || record.SystemUse.size() <= FSkip) return {};
  if (FLastRead && record.SystemUse == FLastUse) return FLastFields;
  FLastRead = true;
  FLastUse = record.SystemUse;
  FLastFields = ReadRockRidge(record);
  return FLastFields;
}

// Nothing when a continuation area cannot be read: half a name or half a
// link target would be another name or target than the one recorded.
TRockRidgeFields TDirectoryReader::ReadRockRidge(const TDiscRecord& record) {
  TRockRidgeFields fields;
  const auto* use = reinterpret_cast<const uint8_t*>(record.SystemUse.data());
  TContinuationRef next = ReadSystemUseEntries(use + FSkip, record.SystemUse.size() - FSkip, fields);
  alignas(16) uint8_t sector[2048];
  for (int hop = 0; next.Present && hop < kMaxContinuations; ++hop) {
    if (next.Offset >= 2048 || next.Length > 2048 - next.Offset ||
        FArea.Place(next.Block, 1) != TRecordedArea::TPlace::Inside || !FSource.ReadSectors(next.Block, 1, sector)) {
      Say(fmt::format(kMsgBrokenContinuation, next.Block));
      return {};
    }
    next = ReadSystemUseEntries(sector + next.Offset, next.Length, fields);
  }
  if (next.Present) {  // a chain that does not end
    Say(fmt::format(kMsgBrokenContinuation, next.Block));
    return {};
  }
  return fields;
}

// What the Rock Ridge entries tell of a record, over what its ISO 9660 fields
// say. A mode whose type is no POSIX type, or one its record cannot be, is
// taken with the type the record implies: the record tells that much
// without doubt, and the entry's data and name are whole on the disc, so a
// user keeps the file (or the folder and all below it) that one bad field
// would otherwise cost.
bool TDirectoryReader::PutRockRidge(const TDiscRecord& record, TSearchRec& listing, const TWhere& where,
                                    uint64_t size) {
  const TRockRidgeFields fields = RockRidgeOf(record);
  if (!fields.HasAttributes) return true;
  listing.Mode = fields.Mode;
  listing.Uid = fields.Uid;
  listing.Gid = fields.Gid;
  if (fields.HasModified) listing.WriteTime = fields.Modified;
  listing.AccessTime = fields.HasAccessed ? fields.Accessed : listing.WriteTime;
  listing.ChangeTime = fields.HasChanged ? fields.Changed : listing.WriteTime;
  switch (CheckMode(fields, record.IsDirectory(), size)) {
    case TModeCheck::Fits: break;
    case TModeCheck::NoFileType:
    case TModeCheck::Contradicts:
      listing.Mode = ModeOfRecord(fields.Mode, record.IsDirectory());
      Say(fmt::format(kMsgModeOfRecord, where.Path(), fields.Mode, listing.Mode), ltStatus);
      break;
    case TModeCheck::DeviceWithoutNumber: Say(fmt::format(kMsgDeviceWithoutNumber, where.Path())); return false;
  }
  if ((listing.Mode & S_IFMT) == S_IFLNK) {
    listing.Link = true;
    listing.LinkTarget = fields.LinkTarget;
  }
  if (S_ISCHR(listing.Mode) || S_ISBLK(listing.Mode)) return PutDevice(fields, listing, where);
  return true;
}

bool TDirectoryReader::PutDevice(const TRockRidgeFields& fields, TSearchRec& listing, const TWhere& where) {
  const TDeviceNumber number = DeviceNumberOf(fields.DeviceHigh, fields.DeviceLow);
  if (!PnTellsDevice(number.Major, number.Minor)) {
    Say(fmt::format(kMsgDeviceNumberUnwritable, where.Path(), number.Major, number.Minor));
    return false;
  }
  listing.DeviceMajor = number.Major;
  listing.DeviceMinor = number.Minor;
  return true;
}

// A disc is anyone's to make: a setuid or setgid file on it would run with
// the rights of whoever the disc names, once copied off by root, so the bits
// stay only when asked for. On a folder, setgid only hands its group on to
// new entries and grants nothing: it stays.
void TDirectoryReader::ClearSetuid(TSearchRec& listing, const TWhere& where) {
  if (S_ISDIR(listing.Mode) || !(listing.Mode & (S_ISUID | S_ISGID)) || FCompilation.KeepsSetuid()) return;
  listing.Mode &= ~static_cast<uint32_t>(S_ISUID | S_ISGID);
  FClearedSetuid.push_back(where.Path());
}

void TDirectoryReader::ReportClearedSetuid() {
  const size_t count = FClearedSetuid.size();
  if (count == 0) return;
  std::string named;
  for (size_t i = 0; i < std::min(count, kNamedSetuid); ++i) named += (i ? ", \"" : "\"") + FClearedSetuid[i] + "\"";
  if (count > kNamedSetuid) named += fmt::format(" AND {} MORE", count - kNamedSetuid);
  Say(fmt::format(kMsgSetuidCleared, count, count == 1 ? "" : "S", named), ltStatus);
  FClearedSetuid.clear();
}

std::string TDirectoryReader::NameOf(const TDiscRecord& record) {
  std::string name = FJoliet ? JolietName(record.Identifier) : IsoName(record.Identifier);
  if (FRockRidge) {
    TRockRidgeFields fields = RockRidgeOf(record);
    if (fields.HasName) name = std::move(fields.Name);
  }
  bool changed = false;
  const std::string safe = SafeName(name, changed);
  if (changed) Say(fmt::format(kMsgUnsafeName, safe));
  return safe;
}

bool TDirectoryReader::ReadDirectory(uint32_t extent, uint32_t length, TDEntry* target, int depth) {
  if (depth > kMaxDirectoryDepth) {
    Say(fmt::format(kMsgDirectoryTooDeep, extent));
    return false;
  }
  if (!FVisited.insert(extent).second) {
    Say(fmt::format(kMsgDirectoryLoop, extent));
    return false;
  }
  uint64_t sectors = (static_cast<uint64_t>(length) + 2047) / 2048;
  if (sectors == 0) sectors = 1;
  const uint64_t recorded = FArea.InsideFrom(extent);
  if (recorded == 0) {
    Within({target, ""}, length, extent, 1);
    return false;
  }
  // Records beyond what is recorded there would be a gap's, stale sectors'
  // or (once written) the new session's.
  if (recorded < sectors) {
    Say(fmt::format(kMsgDirectoryCut, TWhere{target, ""}.Path(), length, extent, recorded));
    sectors = recorded;
  }
  sectors = std::min<uint64_t>(sectors, kMaxDirectorySectors);
  if (OnDirectory) OnDirectory(target, extent, static_cast<uint32_t>(sectors));

  alignas(16) uint8_t sector[2048];
  TPendingFile pending;
  for (uint64_t i = 0; i < sectors; ++i) {
    // Directories never share sectors: one read before belongs to another
    // directory, and this one ends there. Each sector is read once, however
    // many records point into it.
    if (i > 0 && !FVisited.insert(extent + static_cast<uint32_t>(i)).second) {
      Say(fmt::format(kMsgDirectoryLoop, extent + static_cast<uint32_t>(i)));
      break;
    }
    if (!FSource.ReadSectors(extent + static_cast<uint32_t>(i), 1, sector)) {
      if (i == 0) return false;
      break;  // the rest of this directory cannot be read
    }
    ReadSector(sector, target, depth, pending);
  }
  Finish(pending);
  return true;
}

void TDirectoryReader::ReadSector(const uint8_t* sector, TDEntry* target, int depth, TPendingFile& pending) {
  size_t position = 0;
  while (position + 34 <= 2048) {
    // A CD-XA sector header carried inside the directory: passed over.
    if (!FJoliet && std::memcmp(sector + position, "\0\0\0\0", 4) == 0 &&
        std::memcmp(sector + position + 5, "UXA", 3) == 0) {
      position += 14;
      continue;
    }
    TDiscRecord record;
    const TRecordRead read = ReadDiscRecord(sector, position, record);
    if (read == TRecordRead::EndOfData) return;
    if (read == TRecordRead::Malformed) {
      Say(kMsgMalformedRecord);
      return;
    }
    position += record.Length;
    // 120 characters, as the log line says, in either tree: a Joliet name of
    // 108 characters and its version take 220 bytes, and the files this
    // program writes must come back whole.
    if (record.Identifier.size() >= kIdentifierLimit) {
      if (FLog) FLog(std::string(kMsgNameTooLongOnDisc) + "\n\r" + NameOf(record), 4);
      continue;
    }
    if (record.IsSelfOrParent()) continue;
    // A directory moved here from deeper down also stands at its old place.
    if (FRockRidge && RockRidgeOf(record).Relocated) continue;
    Import(record, target, depth, pending);
  }
}

void TDirectoryReader::Import(const TDiscRecord& record, TDEntry* target, int depth, TPendingFile& pending) {
  if (pending.Active && !(pending.First.Identifier == record.Identifier && record.Extent == pending.NextExtent)) {
    Say(fmt::format(kMsgBrokenExtents, NameOf(pending.First)));
    pending.Active = false;
    // The rest of the broken file goes with it.
    if (pending.First.Identifier == record.Identifier) {
      pending.Skipping = record.ContinuesInNextRecord();
      return;
    }
  }
  if (pending.Skipping) {
    pending.Skipping = record.Identifier == pending.First.Identifier && record.ContinuesInNextRecord();
    if (record.Identifier == pending.First.Identifier) return;
  }
  if (!record.IsDirectory() && record.ContinuesInNextRecord()) {
    // Every extent but the last is whole sectors long; the next follows it.
    if (!pending.Active) {
      pending.Active = true;
      pending.First = record;
      pending.Size = 0;
    }
    pending.Size += record.DataLength;
    pending.NextExtent = record.Extent + record.DataLength / 2048;
    if (record.DataLength % 2048 != 0) {
      Say(fmt::format(kMsgBrokenExtents, NameOf(record)));
      pending.Active = false;
      pending.Skipping = true;
    }
    return;
  }
  if (pending.Active) {
    pending.Active = false;
    return AddFile(pending.First, pending.Size + record.DataLength, target);
  }
  if (!record.IsDirectory()) return AddFile(record, record.DataLength, target);

  TSearchRec listing;
  listing.Name = listing.LongName = NameOf(record);
  const TWhere where{target, listing.LongName};
  if (!Within(where, record.DataLength, record.Extent, 1)) return;
  listing.ShortName = ShortNameFromDirectoryName(listing.LongName);
  listing.Attr = 0x10 | (record.IsHidden() ? 0x02 : 0);
  if (!RecordDateToUnix(record.Date, listing.WriteTime)) listing.WriteTime = kNoFileDate;
  if (!PutRockRidge(record, listing, where, 0)) return;
  TDEntry* sub = FCompilation.AddDirectory(target, listing);
  if (sub) ReadDirectory(record.Extent, record.DataLength, sub, depth + 1);
}

void TDirectoryReader::AddFile(const TDiscRecord& record, uint64_t size, TDEntry* target) {
  TSearchRec listing;
  listing.Name = listing.LongName = NameOf(record);
  listing.ShortName = ShortNameFromDirectoryName(listing.LongName);
  listing.Attr = record.IsHidden() ? 0x02 : 0;
  listing.Size = static_cast<int64_t>(size);
  if (!RecordDateToUnix(record.Date, listing.WriteTime)) listing.WriteTime = kNoFileDate;
  const TWhere where{target, listing.LongName};
  if (!PutRockRidge(record, listing, where, size)) return;
  // A link holds no data, whatever its record says.
  if (listing.Link) {
    listing.Size = 0;
    FCompilation.AddEntry(target, listing, "", 0, false);
    return;
  }
  if (record.Extent == 0 && size > 0) {
    // No place on the disc: it would be given new, empty sectors.
    Say(fmt::format(kMsgFileWithoutExtent, listing.LongName));
    return;
  }
  // The extents of a file follow each other (Import checks that), so they
  // lie on the disc when the sectors from the first one on do; a size that
  // no recorded track can hold is caught here too.
  if (!Within(where, size, record.Extent, (size + 2047) / 2048)) return;
  ClearSetuid(listing, where);
  // An empty file owns no sectors: it is added as an empty entry, with
  // nothing to read from the disc.
  FCompilation.AddEntry(target, listing, "", size > 0 ? static_cast<int32_t>(record.Extent) : 0, false);
}

void TDirectoryReader::Finish(TPendingFile& pending) {
  if (pending.Active) Say(fmt::format(kMsgBrokenExtents, NameOf(pending.First)));
  pending.Active = false;
}

}  // namespace fornax
