#pragma once
// Rock Ridge entries of the ISO 9660 tree (SUSP system use entries and the
// RRIP_1991A entries that carry POSIX modes, owners, times, full names and
// symbolic links), and how they share a directory record with its
// continuation areas. Pure functions over bytes.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fornax {

using TSystemUseEntry = std::vector<uint8_t>;

// NM flags.
inline constexpr uint8_t kNameContinues = 0x01;
inline constexpr uint8_t kNameCurrent = 0x02;
inline constexpr uint8_t kNameParent = 0x04;

// The length of a CE entry, which every record or area that continues ends with.
inline constexpr size_t kContinuationEntryLength = 28;

// What one directory record tells a Rock Ridge reader.
struct TRockRidgeRecord {
  uint32_t Mode = 0;  // st_mode: file type and permission bits
  uint32_t Links = 1;
  uint32_t Uid = 0, Gid = 0;
  int64_t Modified = 0, Accessed = 0, Changed = 0;  // seconds since the Unix epoch
  std::string Name;        // NM; empty writes none
  uint8_t NameFlags = 0;   // kNameCurrent or kNameParent for "." and "..", with an empty Name
  std::string LinkTarget;  // SL, for a symbolic link
  bool Device = false;     // PN, for a character or block device
  uint32_t DeviceMajor = 0, DeviceMinor = 0;
  bool VolumeRoot = false; // the root's "." record: SP first, ER last
};

// Single entries.
TSystemUseEntry SpEntry();
TSystemUseEntry ErEntry();
TSystemUseEntry RrEntry(bool name, bool link, bool device = false);
TSystemUseEntry PxEntry(uint32_t mode, uint32_t links, uint32_t uid, uint32_t gid);
// A device's numbers as readers agree on them: the high word 0 and the low
// one the number packed as Linux packs a 32-bit one (the minor's low byte,
// the major above it, the minor's upper bits above that). Linux reads a
// nonzero high word as the major, and others read the two words as one
// 64-bit number, so only this form reads alike everywhere.
TSystemUseEntry PnEntry(uint32_t major, uint32_t minor);
// Whether PnEntry tells these numbers so that every reader gets them back:
// Linux unpacks a low word by its old 8-bit split, so only minors below 256
// (and majors that fit 12 bits) come back alike.
bool PnTellsDevice(uint32_t major, uint32_t minor);
// Modification, access and attribute change times, seven-byte form, in UTC.
TSystemUseEntry TfEntry(int64_t modified, int64_t accessed, int64_t changed);
// The seven bytes of a TF time (years since 1900 ... offset 0).
void PutRockRidgeTime(uint8_t* p, int64_t unixSeconds);
// A name, in as many NM entries as it takes, all but the last flagged as
// continued; with flags CURRENT or PARENT, one empty entry.
std::vector<TSystemUseEntry> NmEntries(const std::string& name, uint8_t flags = 0);
// A symbolic link target as SL entries: "/" starts with a ROOT component, "."
// and ".." are CURRENT and PARENT, empty steps ("a//b") are dropped, and a
// step too long for one component record goes on in the next one.
std::vector<TSystemUseEntry> SlEntries(const std::string& target);
// A CE entry pointing at an area of `length` bytes at `offset` of sector `block`.
TSystemUseEntry CeEntry(uint32_t block, uint32_t offset, uint32_t length);

// Every entry of one record, in the order they are written.
std::vector<TSystemUseEntry> RockRidgeEntries(const TRockRidgeRecord& record);

// One continuation area; CeAt is where its CE entry lies (npos: the last area).
struct TContinuationArea {
  std::vector<uint8_t> Bytes;
  size_t CeAt = std::string::npos;
};

// A record's system use: what lies in the record (padded to an even length)
// and the chain of continuation areas, each at most a sector long.
struct TSystemUse {
  std::vector<uint8_t> InRecord;
  size_t CeAt = std::string::npos;  // the record's CE entry, when there are areas
  std::vector<TContinuationArea> Areas;
};

// What a record's system use takes, without its bytes: what lies in the
// record (even) and the length of each continuation area of its chain. The
// layout counts with these; PackSystemUse of the same entries has the same.
struct TSystemUseSize {
  size_t InRecord = 0;
  std::vector<size_t> Areas;
};

// The lengths of the entries RockRidgeEntries(record) makes, in their order,
// into `lengths` (emptied first), for a record whose name is `nameLength`
// bytes long; the rest of `record` is read as there, its Name not at all.
void RockRidgeEntryLengths(const TRockRidgeRecord& record, size_t nameLength, std::vector<size_t>& lengths);

// PackSystemUse counted from the entries' lengths alone.
TSystemUseSize PackedSystemUseSize(const std::vector<size_t>& lengths, size_t room);

// Places entries in the `room` bytes a record leaves (at most 255 minus its
// other bytes) and, what does not fit, in continuation areas. The CE entries
// are written with zero locations: PutContinuation fills them in.
TSystemUse PackSystemUse(const std::vector<TSystemUseEntry>& entries, size_t room);

// Fills in a CE entry written by PackSystemUse.
void PutContinuation(uint8_t* ce, uint32_t block, uint32_t offset, uint32_t length);

// Room a directory record with an identifier of this length leaves for its
// system use, keeping the record's length even.
size_t SystemUseRoom(size_t identifierLength);

}  // namespace fornax
