#include "engine/base/date_time.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <mutex>

#include "engine/base/civil_days.h"

namespace fornax {
namespace {

// The date of a count of days since 1970-01-01 (the inverse of DaysFromCivil).
void CivilFromDays(int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(static_cast<int64_t>(yoe) + era * 400 + (m <= 2));
}

}  // namespace

TDateTime EncodeDateTime(const TDateTimeParts& p) {
  const int64_t days = DaysFromCivil(p.Year, static_cast<unsigned>(p.Month),
                                     static_cast<unsigned>(p.Day)) + kUnixEpochDays;
  const double ms = ((p.Hour * 60.0 + p.Minute) * 60.0 + p.Second) * 1000.0 + p.Millisecond;
  return static_cast<double>(days) + ms / 86400000.0;
}

TDateTimeParts DecodeDateTime(TDateTime value) {
  const int64_t totalMs = std::llround(value * 86400000.0);
  int64_t days = totalMs / 86400000;
  int64_t msOfDay = totalMs % 86400000;
  if (msOfDay < 0) {
    msOfDay += 86400000;
    --days;
  }
  TDateTimeParts p;
  CivilFromDays(days - kUnixEpochDays, p.Year, p.Month, p.Day);
  p.Hour = static_cast<int>(msOfDay / 3600000);
  p.Minute = static_cast<int>(msOfDay / 60000 % 60);
  p.Second = static_cast<int>(msOfDay / 1000 % 60);
  p.Millisecond = static_cast<int>(msOfDay % 1000);
  return p;
}

int LocalUtcOffsetMinutes(int64_t unixSeconds) {
  const time_t t = static_cast<time_t>(unixSeconds);
  struct tm local {};
  if (localtime_r(&t, &local) == nullptr) return 0;
  return static_cast<int>(local.tm_gmtoff / 60);
}

TDateTime LocalDateTimeFromUnix(int64_t unixSeconds) {
  const int64_t local = unixSeconds + LocalUtcOffsetMinutes(unixSeconds) * 60LL;
  int64_t days = local / 86400;
  int64_t secs = local % 86400;
  if (secs < 0) {
    secs += 86400;
    --days;
  }
  return static_cast<double>(days + kUnixEpochDays) + static_cast<double>(secs) / 86400.0;
}

int64_t UnixFromLocalDateTime(TDateTime value) {
  const TDateTimeParts p = DecodeDateTime(value);
  struct tm local {};
  local.tm_year = p.Year - 1900;
  local.tm_mon = p.Month - 1;
  local.tm_mday = p.Day;
  local.tm_hour = p.Hour;
  local.tm_min = p.Minute;
  local.tm_sec = p.Second;
  local.tm_isdst = -1;
  // mktime reads TZ again on every call and replaces the C library's copy
  // of it. The library guards that with a lock the thread checker cannot
  // see; directory extents are made on two threads, so the calls are taken
  // one at a time here, where it can.
  static std::mutex zoneRules;
  const std::lock_guard<std::mutex> lock(zoneRules);
  return static_cast<int64_t>(mktime(&local));
}

int LocalUtcOffsetQuarterHours(TDateTime value) {
  return LocalUtcOffsetMinutes(UnixFromLocalDateTime(value)) / 15;
}

TDateTime Now() {
  using namespace std::chrono;
  const auto since = system_clock::now().time_since_epoch();
  const int64_t ms = duration_cast<milliseconds>(since).count();
  const int64_t secs = ms / 1000;
  return LocalDateTimeFromUnix(secs) + static_cast<double>(ms % 1000) / 86400000.0;
}

bool FileDateToDateTime(int64_t unixSeconds, TDateTime& out) {
  const TDateTime value = LocalDateTimeFromUnix(unixSeconds);
  const int year = DecodeDateTime(value).Year;
  if (year < 1900 || year > 2155) return false;
  out = value;
  return true;
}

std::string FormatDescriptorDigits(TDateTime value) {
  const TDateTimeParts p = DecodeDateTime(value);
  char text[32];
  std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d%02d", p.Year % 10000, p.Month,
                p.Day, p.Hour, p.Minute, p.Second, p.Millisecond / 10);
  return text;
}

}  // namespace fornax
