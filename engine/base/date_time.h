#pragma once
// Calendar values as the engine keeps them: a TDateTime is a local date and time
// counted in days since 1899-12-30 00:00, the fraction being the time of day.

#include <cstdint>
#include <ctime>
#include <string>

namespace fornax {

using TDateTime = double;

struct TDateTimeParts {
  int Year = 1899, Month = 12, Day = 30;
  int Hour = 0, Minute = 0, Second = 0, Millisecond = 0;
};

// Days between 1899-12-30 and 1970-01-01.
inline constexpr int64_t kUnixEpochDays = 25569;

TDateTime EncodeDateTime(const TDateTimeParts& p);
// Splits a value, rounding to the nearest millisecond so that 23:59:59.9996 does
// not come back as 23:59:59 of the day before.
TDateTimeParts DecodeDateTime(TDateTime value);

// Local wall-clock time of a moment given in seconds since the Unix epoch.
TDateTime LocalDateTimeFromUnix(int64_t unixSeconds);
// Seconds since the Unix epoch of a local date and time.
int64_t UnixFromLocalDateTime(TDateTime value);
TDateTime Now();

// Offset of local time from UTC in minutes at the given moment (east positive),
// i.e. minus the bias Windows reports.
int LocalUtcOffsetMinutes(int64_t unixSeconds);
// Offset from UTC, in the 15-minute steps ISO 9660 dates carry, in force at a
// local date and time. Each date needs its own: a summer date written in winter
// still means summer time, and one offset for all would move it by an hour.
int LocalUtcOffsetQuarterHours(TDateTime value);

// The date of a directory-listing item. Directory records hold years 1900 to
// 2155; a date outside that range does not convert and the caller substitutes
// the current time.
bool FileDateToDateTime(int64_t unixSeconds, TDateTime& out);
// A listing date for "no date": it does not convert.
inline constexpr int64_t kNoFileDate = -100000000000LL;

// 16 ASCII digits YYYYMMDDHHMMSSCC as the volume descriptors carry them.
std::string FormatDescriptorDigits(TDateTime value);

}  // namespace fornax
