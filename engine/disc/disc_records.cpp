#include "engine/disc/disc_records.h"

#include <cstring>

#include "engine/base/bytes.h"
#include "engine/base/date_time.h"
#include "engine/base/text.h"
#include "engine/disc/local_names.h"
#include "engine/platform/short_names.h"

namespace fornax {

TRecordRead ReadDiscRecord(const uint8_t* sector, size_t position, TDiscRecord& record) {
  if (position >= 2048) return TRecordRead::EndOfData;
  const uint8_t length = sector[position];
  if (length == 0) return TRecordRead::EndOfData;
  if (length < 34 || position + length > 2048) return TRecordRead::Malformed;
  const uint8_t* p = sector + position;
  const uint8_t idLength = p[32];
  if (idLength == 0 || 33u + idLength > length) return TRecordRead::Malformed;
  record.Length = length;
  record.Extent = GetLe32(p + 2);
  record.DataLength = GetLe32(p + 10);
  std::memcpy(record.Date, p + 18, 7);
  record.Flags = p[25];
  record.Identifier.assign(reinterpret_cast<const char*>(p + 33), idLength);
  const size_t systemUse = 33u + idLength + (idLength % 2 == 0 ? 1u : 0u);
  record.SystemUse.clear();
  if (systemUse < length) record.SystemUse.assign(reinterpret_cast<const char*>(p + systemUse), length - systemUse);
  return TRecordRead::Record;
}

std::string JolietName(const std::string& identifier) {
  std::u16string units;
  for (size_t i = 0; i + 1 < identifier.size(); i += 2)
    units += static_cast<char16_t>((static_cast<uint8_t>(identifier[i]) << 8) | static_cast<uint8_t>(identifier[i + 1]));
  // The version suffix: from a ";" that is not the first two characters.
  const size_t version = units.find(u';', 2);
  if (version != std::u16string::npos) units.resize(version);
  return Utf16ToUtf8(units);
}

std::string IsoName(const std::string& identifier) {
  std::string name = identifier.substr(0, identifier.find('\0'));
  const size_t version = name.find(';');
  if (version != std::string::npos) name.resize(version);
  return name;
}

std::string SafeName(const std::string& name, bool& changed) {
  std::string safe;
  safe.reserve(name.size());
  for (const char c : name) safe += (c == '/' || c == '\0') ? '_' : c;
  safe = MakeLongName(safe);  // "\" and control characters
  if (!IsSafeLocalComponent(safe)) safe = "_" + safe;
  changed = safe != name;
  return safe;
}

bool RecordDateToUnix(const uint8_t* date, int64_t& seconds) {
  const int year = 1900 + date[0], month = date[1], day = date[2];
  const int hour = date[3], minute = date[4], second = date[5];
  static const int kDays[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12 || day < 1 || day > kDays[month - 1]) return false;
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (month == 2 && day == 29 && !leap) return false;
  if (hour > 23 || minute > 59 || second > 59) return false;
  seconds = UnixFromLocalDateTime(EncodeDateTime({year, month, day, hour, minute, second, 0}));
  return true;
}

}  // namespace fornax
