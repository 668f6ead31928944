#pragma once
// Encoders of the ISO 9660 records that the header holds: directory records,
// path table records and the volume descriptors. Pure functions over bytes.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/base/date_time.h"

namespace fornax {

using TSector = std::array<uint8_t, 2048>;

// Directory record flags.
inline constexpr uint8_t kFlagHidden = 0x01;
inline constexpr uint8_t kFlagDirectory = 0x02;
inline constexpr uint8_t kFlagMultiExtent = 0x80;  // more extents of this file follow

struct TDirectoryRecord {
  uint32_t Extent = 0;
  uint32_t DataLength = 0;
  // Recording date: a local date with its offset from UTC in 15-minute steps;
  // HasDate false writes seven zero bytes.
  bool HasDate = true;
  TDateTime Date = 0;
  int TimeZone = 0;
  uint8_t Flags = 0;
  std::string Identifier;
  std::vector<uint8_t> SystemUse;  // Rock Ridge entries; of even length
};

// Appends one record: 33 bytes, the identifier, a pad byte when its length is
// even, then the system use bytes.
void AppendDirectoryRecord(std::vector<uint8_t>& out, const TDirectoryRecord& record);
// The seven date bytes: years since 1900, month, day, hour, minute, second, offset.
void PutRecordDate(uint8_t* p, TDateTime date, int timeZone);

// Appends one path table record; type M tables hold big-endian numbers.
void AppendPathTableRecord(std::vector<uint8_t>& out, const std::string& identifier,
                           uint32_t extent, uint16_t parent, bool bigEndian);

// 17-byte descriptor date: 16 digits of the local date and the offset from UTC
// in force at that date. An unset date is the digits "0000000000000000" with
// offset 0.
void PutDescriptorDate(uint8_t* p, TDateTime date);
void PutUnsetDescriptorDate(uint8_t* p);

// Identifier texts of the volume descriptors.
struct TVolumeIdentifiers {
  std::string System, Volume, VolumeSet, Publisher, Preparer, Application;
  std::string Copyright, Abstract, Bibliographic;
  TDateTime JolietCreation = 0, JolietModification = 0;
};

struct TDescriptorPlan {
  uint32_t VolumeSpaceSize = 0;
  uint32_t PathTableSize = 0;
  uint32_t PathTableL = 0, PathTableM = 0;
  uint32_t RootExtent = 0, RootSize = 0;
};

// Primary descriptor: the identifiers in ISO 9660 a-characters (letters
// upper-cased, every other character "_"), the file names upper-cased, all
// padded with spaces; both dates the given local time.
TSector PrimaryVolumeDescriptor(const TVolumeIdentifiers& ids, const TDescriptorPlan& plan,
                                TDateTime now);
// Joliet supplementary descriptor: texts in UTF-16 big-endian padded with
// UTF-16 spaces; dates from the identifiers.
TSector JolietVolumeDescriptor(const TVolumeIdentifiers& ids, const TDescriptorPlan& plan);
TSector TerminatorDescriptor();

}  // namespace fornax
