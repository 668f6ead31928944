#pragma once
// The write-speed list of the main window: the entries a drive's speeds give,
// and the speed an entry stands for.

#include <cstdint>
#include <string>
#include <vector>

namespace fornax {
class TQzRecorder;
}

namespace fornax::app {

// Medium codes below 4 are CDs; the rest are DVD-class media.
inline bool IsCdMedium(uint8_t mediumCode) { return mediumCode < 4; }

// The entry for a speed the drive reports: "24X (4,234 KB/s)" for a CD,
// "4.0X (5,540 KB/s)" otherwise.
std::string SpeedEntryText(uint16_t kilobytesPerSecond, bool cd);

// The KB/s an entry stands for: "Max" or nothing is 0 (the drive's maximum);
// otherwise the number before the "X" times 177 (CD) or 1385.
uint16_t SpeedTextToValue(const std::string& text, uint8_t mediumCode);

// Sets every speed from the drive's maximum down in steps (176 KB/s for a
// CD, 700 otherwise) and lists the distinct entries of the speeds the drive
// reports back, "Max" first. The drive is left at the lowest speed probed.
std::vector<std::string> ProbeSpeedList(TQzRecorder& recorder);

}  // namespace fornax::app
