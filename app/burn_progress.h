#pragma once
// What the main window says of a running write: how far it is, how fast it
// goes (as a multiple of the medium's 1x and in KB/s) and how long is left.

#include <QString>
#include <cstdint>

namespace fornax::app {

struct TBurnProgress {
  int64_t Written = 0;  // bytes handed to the drive or file so far
  int64_t Total = 0;    // bytes of the whole image
  double Seconds = 0;   // since the data began to flow
  bool Dvd = false;     // 1x is 1,385 KB/s on DVD, 176.4 KB/s on CD
};

// "45 % · 8.0x (11,080 KB/s) · quedan 0:32"; the speed and the time left are
// left out until there is something to measure them by.
QString ProgressText(const TBurnProgress& progress);

}  // namespace fornax::app
