#include "engine/disc/rock_ridge_reader.h"

#include <sys/stat.h>

#include <cstring>
#include <ctime>

#include "engine/base/bytes.h"
#include "engine/base/civil_days.h"

namespace fornax {
namespace {

bool Is(const uint8_t* entry, const char* signature) {
  return entry[0] == static_cast<uint8_t>(signature[0]) && entry[1] == static_cast<uint8_t>(signature[1]);
}

int Digits(const uint8_t* p, size_t count) {
  int value = 0;
  for (size_t i = 0; i < count; ++i) {
    if (p[i] < '0' || p[i] > '9') return -1;
    value = value * 10 + (p[i] - '0');
  }
  return value;
}

void ReadTimes(const uint8_t* entry, size_t length, TRockRidgeFields& fields) {
  if (length < 5) return;
  const uint8_t flags = entry[4];
  const bool longForm = (flags & 0x80) != 0;
  const size_t size = longForm ? 17 : 7;
  size_t at = 5;
  // Creation, modification, access, attributes, then backup, expiration, effective.
  for (int bit = 0; bit < 7; ++bit) {
    if (!(flags & (1 << bit))) continue;
    if (at + size > length) return;
    int64_t seconds = 0;
    const bool ok = RockRidgeTime(entry + at, longForm, seconds);
    at += size;
    if (!ok) continue;
    if (bit == 1) fields.HasModified = true, fields.Modified = seconds;
    if (bit == 2) fields.HasAccessed = true, fields.Accessed = seconds;
    if (bit == 3) fields.HasChanged = true, fields.Changed = seconds;
  }
}

void ReadLink(const uint8_t* entry, size_t length, TRockRidgeFields& fields) {
  bool& joinNext = fields.LinkComponentOpen;
  fields.HasLink = true;
  size_t at = 5;
  while (at + 2 <= length) {
    const uint8_t flags = entry[at];
    const size_t size = entry[at + 1];
    if (at + 2 + size > length) return;
    std::string& target = fields.LinkTarget;
    if (!joinNext && !target.empty() && target.back() != '/') target += '/';
    if (flags & 0x08)
      target += '/';
    else if (flags & 0x02)
      target += '.';
    else if (flags & 0x04)
      target += "..";
    else
      target.append(reinterpret_cast<const char*>(entry + at + 2), size);
    joinNext = (flags & 0x01) != 0;
    at += 2 + size;
  }
}

}  // namespace

bool RockRidgeTime(const uint8_t* p, bool longForm, int64_t& seconds) {
  int year, month, day, hour, minute, second;
  int8_t offset;
  if (longForm) {
    year = Digits(p, 4), month = Digits(p + 4, 2), day = Digits(p + 6, 2);
    hour = Digits(p + 8, 2), minute = Digits(p + 10, 2), second = Digits(p + 12, 2);
    offset = static_cast<int8_t>(p[16]);
  } else {
    year = 1900 + p[0], month = p[1], day = p[2], hour = p[3], minute = p[4], second = p[5];
    offset = static_cast<int8_t>(p[6]);
  }
  if (year < 0 || month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 || hour > 23 || minute < 0 ||
      minute > 59 || second < 0 || second > 60)
    return false;
  seconds = DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 86400 +
            hour * 3600 + minute * 60 + second - static_cast<int64_t>(offset) * 15 * 60;
  return true;
}

TContinuationRef ReadSystemUseEntries(const uint8_t* data, size_t length, TRockRidgeFields& fields) {
  TContinuationRef next;
  size_t at = 0;
  while (at + 4 <= length) {
    const uint8_t* entry = data + at;
    const size_t size = entry[2];
    if (size < 4 || at + size > length) break;
    at += size;
    if (Is(entry, "ST")) break;
    if (Is(entry, "CE") && size >= 28) {
      next.Present = true;
      next.Block = GetLe32(entry + 4);
      next.Offset = GetLe32(entry + 12);
      next.Length = GetLe32(entry + 20);
    } else if (Is(entry, "PX") && size >= 36) {
      fields.Any = fields.HasAttributes = true;
      fields.Mode = GetLe32(entry + 4);
      fields.Uid = GetLe32(entry + 20);
      fields.Gid = GetLe32(entry + 28);
    } else if (Is(entry, "PN") && size >= 20) {
      fields.Any = fields.HasDevice = true;
      fields.DeviceHigh = GetLe32(entry + 4);
      fields.DeviceLow = GetLe32(entry + 12);
    } else if (Is(entry, "TF")) {
      fields.Any = true;
      ReadTimes(entry, size, fields);
    } else if (Is(entry, "NM") && size >= 5) {
      fields.Any = true;
      if (entry[4] & 0x06) continue;  // "." or ".."
      fields.HasName = true;
      fields.Name.append(reinterpret_cast<const char*>(entry + 5), size - 5);
    } else if (Is(entry, "SL") && size >= 5) {
      fields.Any = true;
      ReadLink(entry, size, fields);
    } else if (Is(entry, "RE")) {
      fields.Any = fields.Relocated = true;
    }
  }
  return next;
}

TDeviceNumber DeviceNumberOf(uint32_t high, uint32_t low) {
  if (high != 0) return {high, low};
  return {(low >> 8) & 0xFFFu, (low & 0xFFu) | ((low >> 12) & 0xFFF00u)};
}

TModeCheck CheckMode(const TRockRidgeFields& fields, bool directoryRecord, uint64_t dataLength) {
  const uint32_t type = fields.Mode & S_IFMT;
  switch (type) {
    case S_IFREG: case S_IFDIR: case S_IFLNK: case S_IFCHR: case S_IFBLK: case S_IFIFO: case S_IFSOCK: break;
    default: return TModeCheck::NoFileType;
  }
  if (directoryRecord != (type == S_IFDIR)) return TModeCheck::Contradicts;
  if (type == S_IFLNK && (!fields.HasLink || fields.LinkTarget.empty())) return TModeCheck::Contradicts;
  const bool device = type == S_IFCHR || type == S_IFBLK;
  if ((device || type == S_IFIFO || type == S_IFSOCK) && dataLength > 0) return TModeCheck::Contradicts;
  if (device && !fields.HasDevice) return TModeCheck::DeviceWithoutNumber;
  return TModeCheck::Fits;
}

uint32_t ModeOfRecord(uint32_t mode, bool directoryRecord) {
  return (mode & 07777u) | (directoryRecord ? S_IFDIR : S_IFREG);
}

bool StartsWithSuspIndicator(const uint8_t* data, size_t length, uint8_t& skip) {
  if (length < 7 || !Is(data, "SP") || data[2] < 7 || data[4] != 0xBE || data[5] != 0xEF) return false;
  skip = data[6];
  return true;
}

}  // namespace fornax
