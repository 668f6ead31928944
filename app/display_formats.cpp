#include "app/display_formats.h"

#include <cmath>
#include <fmt/format.h>

namespace fornax::app {
namespace {

// Digits of a whole number with a comma between groups of three.
std::string Group(uint64_t value) {
  std::string digits = std::to_string(value);
  std::string out;
  const size_t lead = digits.size() % 3 == 0 ? 3 : digits.size() % 3;
  out.append(digits, 0, lead);
  for (size_t i = lead; i < digits.size(); i += 3) {
    out += ',';
    out.append(digits, i, 3);
  }
  return out;
}

}  // namespace

std::string GroupedBytes(int64_t value) {
  if (value == 0) return "";
  const std::string text = Group(static_cast<uint64_t>(value < 0 ? -value : value));
  return value < 0 ? "-" + text : text;
}

std::string GroupedFixed2(double value) {
  const bool negative = value < 0;
  const double hundredths = std::round(std::fabs(value) * 100.0);
  const uint64_t whole = static_cast<uint64_t>(hundredths / 100.0);
  const unsigned cents = static_cast<unsigned>(hundredths - static_cast<double>(whole) * 100.0);
  std::string text = Group(whole) + fmt::format(".{:02}", cents);
  return negative && hundredths > 0 ? "-" + text : text;
}

std::string MegabytesText(double bytes) { return GroupedFixed2(bytes / 1048576.0) + " MB"; }

std::string GroupedWhole(double value) {
  const double rounded = std::round(value);
  const std::string text = Group(static_cast<uint64_t>(std::fabs(rounded)));
  return rounded < 0 ? "-" + text : text;
}

std::string LayoutDateText(TDateTime when) {
  const TDateTimeParts p = DecodeDateTime(when);
  return fmt::format("{:02}-{:02}-{:04} {:02}:{:02}:{:02}", p.Month, p.Day, p.Year, p.Hour, p.Minute, p.Second);
}

std::string PadLeft(const std::string& value, size_t width, char fill) {
  return value.size() >= width ? value : std::string(width - value.size(), fill) + value;
}

}  // namespace fornax::app
