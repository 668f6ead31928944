#include "engine/image/rock_ridge.h"

#include <algorithm>
#include <ctime>

#include "engine/base/bytes.h"
#include "engine/image/iso_names.h"

namespace fornax {
namespace {

constexpr const char kErIdentifier[] = "RRIP_1991A";
constexpr const char kErDescriptor[] =
    "THE ROCK RIDGE INTERCHANGE PROTOCOL PROVIDES SUPPORT FOR POSIX FILE SYSTEM SEMANTICS";
constexpr const char kErSource[] =
    "PLEASE CONTACT THE DISC PUBLISHER FOR THE SOURCE OF THIS EXTENSION; THE PUBLISHER IDENTIFIER OF THE "
    "PRIMARY VOLUME DESCRIPTOR TELLS HOW.";

// The longest entry a one-byte length allows, and what NM and SL carry in one.
constexpr size_t kMaxEntry = 255;
constexpr size_t kEntryHeader = 5;  // signature, length, version, flags
constexpr size_t kNamePiece = kMaxEntry - kEntryHeader;
// A component record is flags, length and content. An SL entry that is not
// the last ends inside a component: readers disagree on whether a boundary
// between whole components is a "/", but agree on a continued one. So every
// such entry keeps two bytes for an empty continued component.
constexpr size_t kComponentRoom = kMaxEntry - kEntryHeader;
constexpr size_t kComponentPiece = kComponentRoom - 2 - 2;

constexpr size_t kSector = 2048;

// The entries of fixed length. Sizes are counted from these as well as the
// entries made from them, so they are named once.
constexpr size_t kSpLength = 7;
constexpr size_t kRrLength = 5;
constexpr size_t kPxLength = 36;
constexpr size_t kPnLength = 20;
constexpr size_t kTfLength = kEntryHeader + 3 * 7;  // modified, accessed, attributes changed
constexpr size_t kErLength = 8 + (sizeof kErIdentifier - 1) + (sizeof kErDescriptor - 1) + (sizeof kErSource - 1);

// SL component flags.
constexpr uint8_t kComponentContinues = 0x01;
constexpr uint8_t kComponentCurrent = 0x02;
constexpr uint8_t kComponentParent = 0x04;
constexpr uint8_t kComponentRoot = 0x08;

TSystemUseEntry Header(const char* signature, size_t length) {
  TSystemUseEntry entry(length, 0);
  entry[0] = static_cast<uint8_t>(signature[0]);
  entry[1] = static_cast<uint8_t>(signature[1]);
  entry[2] = static_cast<uint8_t>(length);
  entry[3] = 1;
  return entry;
}

struct TPiece {
  size_t End = 0;    // the first entry that is not in the piece (or left out)
  size_t Bytes = 0;  // what its entries take, without the CE entry
  bool Continues = false;
};

size_t TotalLength(const size_t* lengths, size_t count, size_t next) {
  size_t total = 0;
  for (size_t i = next; i < count; ++i) total += lengths[i];
  return total;
}

// A record whose identifier is nearly as long as a record may be (only names
// of an imported session are) may lack room for a CE entry too: it carries no
// system use at all, and a reader shows its identifier. Its length stays
// within the one byte that holds it.
bool NoRoomForEntries(const size_t* lengths, size_t count, size_t room) {
  return room < kContinuationEntryLength && TotalLength(lengths, count, 0) > room;
}

// Which entries from `next` go into a piece of `room` bytes (a record's
// system use or a continuation area): all that is left when it fits, else as
// many as fit with room kept for a CE entry, which `Continues` then asks for.
TPiece EntriesThatFit(const size_t* lengths, size_t count, size_t next, size_t room) {
  TPiece piece;
  const size_t total = TotalLength(lengths, count, next);
  piece.Continues = total > room;
  if (!piece.Continues) return {count, total, false};
  const size_t limit = room - kContinuationEntryLength;
  piece.End = next;
  while (piece.End < count && piece.Bytes + lengths[piece.End] <= limit) piece.Bytes += lengths[piece.End++];
  return piece;
}

void Append(std::vector<uint8_t>& out, const TSystemUseEntry& entry) {
  out.insert(out.end(), entry.begin(), entry.end());
}

}  // namespace

TSystemUseEntry SpEntry() {
  TSystemUseEntry entry = Header("SP", kSpLength);
  entry[4] = 0xBE;
  entry[5] = 0xEF;
  entry[6] = 0;  // no bytes to skip before the entries of a record
  return entry;
}

TSystemUseEntry ErEntry() {
  const size_t id = sizeof kErIdentifier - 1, des = sizeof kErDescriptor - 1, src = sizeof kErSource - 1;
  TSystemUseEntry entry = Header("ER", kErLength);
  entry[4] = static_cast<uint8_t>(id);
  entry[5] = static_cast<uint8_t>(des);
  entry[6] = static_cast<uint8_t>(src);
  entry[7] = 1;
  PutText(&entry[8], kErIdentifier);
  PutText(&entry[8 + id], kErDescriptor);
  PutText(&entry[8 + id + des], kErSource);
  return entry;
}

// Older readers look here for which entries the record holds.
TSystemUseEntry RrEntry(bool name, bool link, bool device) {
  TSystemUseEntry entry = Header("RR", kRrLength);
  entry[4] = static_cast<uint8_t>(0x01 | 0x80 | (device ? 0x02 : 0) | (name ? 0x08 : 0) | (link ? 0x04 : 0));
  return entry;
}

TSystemUseEntry PxEntry(uint32_t mode, uint32_t links, uint32_t uid, uint32_t gid) {
  TSystemUseEntry entry = Header("PX", kPxLength);
  PutBoth32(&entry[4], mode);
  PutBoth32(&entry[12], links);
  PutBoth32(&entry[20], uid);
  PutBoth32(&entry[28], gid);
  return entry;
}

TSystemUseEntry PnEntry(uint32_t major, uint32_t minor) {
  TSystemUseEntry entry = Header("PN", kPnLength);
  PutBoth32(&entry[4], 0);
  PutBoth32(&entry[12], (minor & 0xFFu) | ((major & 0xFFFu) << 8) | ((minor & ~0xFFu) << 12));
  return entry;
}

bool PnTellsDevice(uint32_t major, uint32_t minor) { return major <= 0xFFF && minor <= 0xFF; }

void PutRockRidgeTime(uint8_t* p, int64_t unixSeconds) {
  const time_t seconds = static_cast<time_t>(unixSeconds);
  struct tm utc {};
  if (gmtime_r(&seconds, &utc) == nullptr) {
    std::fill(p, p + 7, 0);
    return;
  }
  p[0] = static_cast<uint8_t>(std::clamp(utc.tm_year, 0, 255));
  p[1] = static_cast<uint8_t>(utc.tm_mon + 1);
  p[2] = static_cast<uint8_t>(utc.tm_mday);
  p[3] = static_cast<uint8_t>(utc.tm_hour);
  p[4] = static_cast<uint8_t>(utc.tm_min);
  p[5] = static_cast<uint8_t>(utc.tm_sec);
  p[6] = 0;
}

TSystemUseEntry TfEntry(int64_t modified, int64_t accessed, int64_t changed) {
  TSystemUseEntry entry = Header("TF", kTfLength);
  entry[4] = 0x02 | 0x04 | 0x08;  // MODIFY, ACCESS, ATTRIBUTES
  PutRockRidgeTime(&entry[5], modified);
  PutRockRidgeTime(&entry[12], accessed);
  PutRockRidgeTime(&entry[19], changed);
  return entry;
}

namespace {

void AppendNmEntries(std::vector<TSystemUseEntry>& entries, const std::string& name, uint8_t flags) {
  if (flags & (kNameCurrent | kNameParent)) {
    TSystemUseEntry entry = Header("NM", kEntryHeader);
    entry[4] = flags & (kNameCurrent | kNameParent);
    entries.push_back(std::move(entry));
    return;
  }
  for (size_t at = 0; at < name.size(); at += kNamePiece) {
    const size_t piece = std::min(kNamePiece, name.size() - at);
    TSystemUseEntry entry = Header("NM", kEntryHeader + piece);
    entry[4] = at + piece < name.size() ? kNameContinues : 0;
    std::copy(name.begin() + static_cast<ptrdiff_t>(at), name.begin() + static_cast<ptrdiff_t>(at + piece),
              entry.begin() + kEntryHeader);
    entries.push_back(std::move(entry));
  }
}

}  // namespace

std::vector<TSystemUseEntry> NmEntries(const std::string& name, uint8_t flags) {
  std::vector<TSystemUseEntry> entries;
  AppendNmEntries(entries, name, flags);
  return entries;
}

std::vector<TSystemUseEntry> SlEntries(const std::string& target) {
  // The component records first, then as many of them per SL entry as fit.
  std::vector<std::vector<uint8_t>> components;
  if (!target.empty() && target.front() == '/') components.push_back({kComponentRoot, 0});
  size_t start = 0;
  while (start <= target.size()) {
    const size_t end = std::min(target.find('/', start), target.size());
    const std::string step = target.substr(start, end - start);
    start = end + 1;
    if (step.empty()) continue;
    if (step == ".") {
      components.push_back({kComponentCurrent, 0});
    } else if (step == "..") {
      components.push_back({kComponentParent, 0});
    } else {
      for (size_t at = 0; at < step.size(); at += kComponentPiece) {
        const size_t piece = std::min(kComponentPiece, step.size() - at);
        std::vector<uint8_t> component{static_cast<uint8_t>(at + piece < step.size() ? kComponentContinues : 0),
                                       static_cast<uint8_t>(piece)};
        component.insert(component.end(), step.begin() + static_cast<ptrdiff_t>(at),
                         step.begin() + static_cast<ptrdiff_t>(at + piece));
        components.push_back(std::move(component));
      }
    }
  }
  std::vector<TSystemUseEntry> entries;
  TSystemUseEntry current;
  const auto close = [&](bool more) {
    current[2] = static_cast<uint8_t>(current.size());
    current[4] = more ? 0x01 : 0;  // CONTINUE: the target goes on in the next SL
    entries.push_back(std::move(current));
    current.clear();
  };
  size_t lastStart = 0;  // where the entry's last component record starts
  for (size_t i = 0; i < components.size(); ++i) {
    const std::vector<uint8_t>& component = components[i];
    const bool last = i + 1 == components.size();
    if (!current.empty() && current.size() + component.size() + (last ? 0 : 2) > kMaxEntry) {
      if (!(current[lastStart] & kComponentContinues)) {
        current.push_back(kComponentContinues);
        current.push_back(0);
      }
      close(true);
    }
    if (current.empty()) current = Header("SL", kEntryHeader);
    lastStart = current.size();
    current.insert(current.end(), component.begin(), component.end());
  }
  if (!current.empty()) close(false);
  return entries;
}

TSystemUseEntry CeEntry(uint32_t block, uint32_t offset, uint32_t length) {
  TSystemUseEntry entry = Header("CE", kContinuationEntryLength);
  PutContinuation(entry.data(), block, offset, length);
  return entry;
}

void PutContinuation(uint8_t* ce, uint32_t block, uint32_t offset, uint32_t length) {
  PutBoth32(ce + 4, block);
  PutBoth32(ce + 12, offset);
  PutBoth32(ce + 20, length);
}

std::vector<TSystemUseEntry> RockRidgeEntries(const TRockRidgeRecord& record) {
  // A directory tree has an entry list per record: made without regrowing.
  std::vector<TSystemUseEntry> entries;
  entries.reserve(6);
  if (record.VolumeRoot) entries.push_back(SpEntry());
  const bool link = !record.LinkTarget.empty();
  entries.push_back(RrEntry(!record.Name.empty() || record.NameFlags != 0, link, record.Device));
  entries.push_back(PxEntry(record.Mode, record.Links, record.Uid, record.Gid));
  if (record.Device) entries.push_back(PnEntry(record.DeviceMajor, record.DeviceMinor));
  entries.push_back(TfEntry(record.Modified, record.Accessed, record.Changed));
  AppendNmEntries(entries, record.Name, record.NameFlags);
  if (link)
    for (TSystemUseEntry& sl : SlEntries(record.LinkTarget)) entries.push_back(std::move(sl));
  if (record.VolumeRoot) entries.push_back(ErEntry());
  return entries;
}

TSystemUse PackSystemUse(const std::vector<TSystemUseEntry>& entries, size_t room) {
  std::vector<size_t> lengths(entries.size());
  for (size_t i = 0; i < entries.size(); ++i) lengths[i] = entries[i].size();
  const size_t count = lengths.size();
  TSystemUse use;
  if (NoRoomForEntries(lengths.data(), count, room & ~size_t{1})) return use;
  use.InRecord.reserve(room + 1);
  size_t next = 0;
  const auto fill = [&](std::vector<uint8_t>& out, size_t pieceRoom) {
    const TPiece piece = EntriesThatFit(lengths.data(), count, next, pieceRoom);
    while (next < piece.End) Append(out, entries[next++]);
    if (!piece.Continues) return std::string::npos;
    const size_t ceAt = out.size();
    Append(out, CeEntry(0, 0, 0));
    return ceAt;
  };
  use.CeAt = fill(use.InRecord, room & ~size_t{1});
  while (next < count) {
    TContinuationArea area;
    area.CeAt = fill(area.Bytes, kSector);
    use.Areas.push_back(std::move(area));
  }
  if (use.InRecord.size() % 2 != 0) use.InRecord.push_back(0);
  return use;
}

TSystemUseSize PackedSystemUseSize(const std::vector<size_t>& lengths, size_t room) {
  const size_t count = lengths.size();
  TSystemUseSize size;
  if (NoRoomForEntries(lengths.data(), count, room & ~size_t{1})) return size;
  size_t next = 0;
  const auto fill = [&](size_t pieceRoom) {
    const TPiece piece = EntriesThatFit(lengths.data(), count, next, pieceRoom);
    next = piece.End;
    return piece.Bytes + (piece.Continues ? kContinuationEntryLength : 0);
  };
  size.InRecord = fill(room & ~size_t{1});
  while (next < count) size.Areas.push_back(fill(kSector));
  size.InRecord += size.InRecord % 2;
  return size;
}

void RockRidgeEntryLengths(const TRockRidgeRecord& record, size_t nameLength, std::vector<size_t>& lengths) {
  lengths.clear();
  if (record.VolumeRoot) lengths.push_back(kSpLength);
  lengths.push_back(kRrLength);
  lengths.push_back(kPxLength);
  if (record.Device) lengths.push_back(kPnLength);
  lengths.push_back(kTfLength);
  if (record.NameFlags & (kNameCurrent | kNameParent))
    lengths.push_back(kEntryHeader);
  else
    for (size_t at = 0; at < nameLength; at += kNamePiece)
      lengths.push_back(kEntryHeader + std::min(kNamePiece, nameLength - at));
  if (!record.LinkTarget.empty())
    for (const TSystemUseEntry& sl : SlEntries(record.LinkTarget)) lengths.push_back(sl.size());
  if (record.VolumeRoot) lengths.push_back(kErLength);
}

size_t SystemUseRoom(size_t identifierLength) {
  return (kMaxRecordLength - DirectoryRecordLength(identifierLength)) & ~size_t{1};
}

}  // namespace fornax
