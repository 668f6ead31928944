#pragma once
// Directory records as they lie on a disc, parsed through bounds checks, and
// their identifiers turned into names that are safe to use on this system.

#include <cstddef>
#include <cstdint>
#include <string>

namespace fornax {

struct TDiscRecord {
  uint8_t Length = 0;
  uint32_t Extent = 0;
  uint32_t DataLength = 0;
  uint8_t Date[7] = {};  // years since 1900, month, day, hour, minute, second, offset
  uint8_t Flags = 0;     // 0x01 hidden, 0x02 directory, 0x80 more extents follow
  std::string Identifier;
  std::string SystemUse;  // the bytes after the identifier (and its pad byte)
  bool IsDirectory() const { return (Flags & 0x02) != 0; }
  bool IsHidden() const { return (Flags & 0x01) != 0; }
  bool ContinuesInNextRecord() const { return (Flags & 0x80) != 0; }
  // The directory's own record and its parent's.
  bool IsSelfOrParent() const {
    return Identifier.size() == 1 && (Identifier[0] == '\0' || Identifier[0] == '\1');
  }
};

enum class TRecordRead {
  Record,     // a record was read at the position
  EndOfData,  // a zero length: the rest of the sector is padding
  Malformed   // a length that does not hold its record or runs past the sector
};

// The record at `position` of a 2048-byte sector.
TRecordRead ReadDiscRecord(const uint8_t* sector, size_t position, TDiscRecord& record);

// A Joliet identifier (UTF-16 big-endian) as UTF-8, without its ";version".
std::string JolietName(const std::string& identifier);
// An ISO 9660 identifier without its ";version".
std::string IsoName(const std::string& identifier);

// A name from a disc made safe for the compilation and for extraction: no
// "/", NUL, "\" or control characters, never "." or "..", never empty.
// `changed` tells whether anything had to be replaced.
std::string SafeName(const std::string& name, bool& changed);

// The recording date as seconds since the Unix epoch, read as local time
// (the offset from GMT is not applied); false for a date that is no date.
bool RecordDateToUnix(const uint8_t* date, int64_t& seconds);

}  // namespace fornax
