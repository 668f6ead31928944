#pragma once
// Days since 1970-01-01 of a proleptic Gregorian date (Howard Hinnant's
// civil calendar algorithm), shared by the date conversions of the program
// and of the Rock Ridge reader.

#include <cstdint>

namespace fornax {

inline int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

}  // namespace fornax
