#pragma once
// The number and date texts the windows show: sizes with thousands
// separators, megabytes with two decimals, speeds, dates. One place, so that
// every window writes a size the same way.

#include <cstdint>
#include <string>

#include "engine/base/date_time.h"

namespace fornax::app {

// "#,##": 1234567 -> "1,234,567"; 0 -> "" (an empty folder shows no size).
std::string GroupedBytes(int64_t value);
// "#,##0.00": 1536.5 -> "1,536.50"; 0 -> "0.00".
std::string GroupedFixed2(double value);
// Bytes as megabytes, "#,##0.00" followed by " MB".
std::string MegabytesText(double bytes);
// "#,##0": 4234.4 -> "4,234".
std::string GroupedWhole(double value);
// A date as "mm-dd-yyyy hh:nn:ss".
std::string LayoutDateText(TDateTime when);
// `value` right-aligned to `width` characters with blanks (or zeros).
std::string PadLeft(const std::string& value, size_t width, char fill = ' ');

}  // namespace fornax::app
