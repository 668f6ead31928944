#include "app/speed_list.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fmt/format.h>

#include "app/display_formats.h"
#include "engine/recorder.h"

namespace fornax::app {

std::string SpeedEntryText(uint16_t kilobytesPerSecond, bool cd) {
  const std::string rate = "(" + GroupedWhole(kilobytesPerSecond) + " KB/s)";
  if (cd) return fmt::format("{:.0f}X ", std::round(kilobytesPerSecond / 176.4)) + rate;
  // One decimal, halves away from zero as the list has always shown them.
  return fmt::format("{:.1f}X ", std::round(kilobytesPerSecond / 1385.0 * 10.0) / 10.0) + rate;
}

uint16_t SpeedTextToValue(const std::string& text, uint8_t mediumCode) {
  if (text.empty() || text == "Max") return 0;
  const std::string number = text.substr(0, text.find('X'));
  char* end = nullptr;
  const double factor = std::strtod(number.c_str(), &end);
  if (end == number.c_str() || !std::isfinite(factor) || factor <= 0) return 0;
  const double value = std::round(factor * (IsCdMedium(mediumCode) ? 177.0 : 1385.0));
  return static_cast<uint16_t>(std::min(value, 65535.0));
}

std::vector<std::string> ProbeSpeedList(TQzRecorder& recorder) {
  const bool cd = IsCdMedium(recorder.MediumType());
  const int step = cd ? 176 : 700;
  std::vector<std::string> entries{"Max"};
  for (int speed = recorder.MaxWriteSpeed(); speed > 0; speed -= step) {
    recorder.SetWriteSpeed(static_cast<uint16_t>(speed));
    const std::string entry = SpeedEntryText(recorder.CurrentWriteSpeed(), cd);
    if (std::find(entries.begin(), entries.end(), entry) == entries.end()) entries.push_back(entry);
  }
  return entries;
}

}  // namespace fornax::app
