#pragma once
// Byte layouts of the commands Linux and burning programs send beyond the
// engine's set: GET EVENT STATUS NOTIFICATION (4Ah), GET PERFORMANCE (ACh),
// READ DVD STRUCTURE (ADh) and MECHANISM STATUS (BDh). Pure functions,
// before the cut to the allocation length.

#include <cstdint>
#include <vector>

#include "simdrive/drive_state.h"
#include "simdrive/sense.h"

namespace fornax::sim {

namespace event_class {
inline constexpr uint8_t kPower = 0x04;   // class 2
inline constexpr uint8_t kMedia = 0x10;   // class 4
inline constexpr uint8_t kBusy = 0x40;    // class 6
inline constexpr uint8_t kSupported = kPower | kMedia | kBusy;
}  // namespace event_class

struct EventInputs {
  uint8_t requested = 0;  // CDB byte 4
  MediaEvent media_event = MediaEvent::kNone;
  bool medium_present = false;
  bool tray_open = false;
  bool busy = false;             // a long operation runs
  uint16_t busy_tenths = 0;      // its remaining time in 0.1 s
};
// The 4-byte header and one descriptor: media if it has an event or was asked
// for, else device busy, else power ("no change"); NEA with the header alone
// when no supported class was asked for. *media_reported: the media event
// went out (it is reported once).
std::vector<uint8_t> EventStatusAnswer(const EventInputs& in, bool* media_reported);

// Type 00h (performance) for a CDB byte 1 qualifier; type 03h (write speed
// descriptors, one per speed of page 2A). max: CDB bytes 8-9.
std::vector<uint8_t> PerformanceAnswer(const DriveState& state, uint8_t qualifier, uint16_t max, Sense* refusal);
std::vector<uint8_t> WriteSpeedAnswer(const DriveState& state, uint16_t max);

// Formats 00h, 01h, 04h, 11h (+R, +RW) and FFh of a DVD; format FFh also
// with a CD or no medium.
std::vector<uint8_t> DvdStructureAnswer(const Disc& disc, uint8_t layer, uint8_t format, Sense* refusal);

// The 8-byte header, no changer slots.
std::vector<uint8_t> MechanismStatusAnswer(bool tray_open, bool busy);

}  // namespace fornax::sim
