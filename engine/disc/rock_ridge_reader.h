#pragma once
// Reading the Rock Ridge entries of a directory record on a disc: what the
// system use area and its continuation areas tell, through bounds checks.

#include <cstddef>
#include <cstdint>
#include <string>

namespace fornax {

struct TRockRidgeFields {
  bool HasAttributes = false;  // PX
  uint32_t Mode = 0, Uid = 0, Gid = 0;
  bool HasModified = false, HasAccessed = false, HasChanged = false;  // TF
  int64_t Modified = 0, Accessed = 0, Changed = 0;  // seconds since the Unix epoch
  bool HasName = false;  // NM (not "." or "..")
  std::string Name;
  bool HasLink = false;  // SL
  std::string LinkTarget;
  bool LinkComponentOpen = false;  // the last SL component goes on in the next
  bool HasDevice = false;  // PN: a device's number, as its two words
  uint32_t DeviceHigh = 0, DeviceLow = 0;
  bool Relocated = false;  // RE: a directory moved here that stands elsewhere too
  bool Any = false;        // any Rock Ridge entry at all
};

struct TDeviceNumber {
  uint32_t Major = 0, Minor = 0;
  bool operator==(const TDeviceNumber&) const = default;
};

// PN's words as a device's numbers, as Linux reads them: a nonzero high word
// is the major and the low word the minor; with a high word of 0 the low
// word is a whole number, packed as Linux packs a 32-bit one (minor bits 0-7
// and 20-31 around the major in bits 8-19), which is what most writers put.
TDeviceNumber DeviceNumberOf(uint32_t high, uint32_t low);

// What a PX mode's file type is worth beside the directory record it came in.
enum class TModeCheck {
  Fits,                // one of the seven POSIX types, and one the record can be
  NoFileType,          // type bits that name none of the seven
  Contradicts,         // a type the record cannot be: a directory's on a file, a
                       // file's on a directory, a link without SL, a special
                       // file whose record holds data
  DeviceWithoutNumber  // a device without PN: its numbers are unknown
};
TModeCheck CheckMode(const TRockRidgeFields& fields, bool directoryRecord, uint64_t dataLength);

// The mode with the file type the ISO 9660 record implies (a directory or a
// regular file), its permission bits kept.
uint32_t ModeOfRecord(uint32_t mode, bool directoryRecord);

// A CE entry: where the entries of a record go on.
struct TContinuationRef {
  bool Present = false;
  uint32_t Block = 0, Offset = 0, Length = 0;
};

// Adds what the entries in `length` bytes at `data` tell to `fields`; an entry
// whose length does not hold it, or runs past the end, ends the area, as does
// ST. Returns the last CE met.
TContinuationRef ReadSystemUseEntries(const uint8_t* data, size_t length, TRockRidgeFields& fields);

// Whether a system use area (of a root's "." record) starts with the SP entry
// of a SUSP disc; `skip` gets the bytes every record's area starts with.
bool StartsWithSuspIndicator(const uint8_t* data, size_t length, uint8_t& skip);

// A TF time, seven-byte form (or the 17-byte form with `longForm`), as
// seconds since the Unix epoch; false for a time that is no time.
bool RockRidgeTime(const uint8_t* p, bool longForm, int64_t& seconds);

}  // namespace fornax
