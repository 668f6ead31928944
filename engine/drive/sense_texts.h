#pragma once
// Texts for a failed command. The device component turns the status bytes of
// an execute-command SRB and the drive's sense data into one upper-case line:
// the last error that ends every trace line and that the engine's callers
// report. The three lookups are usable by themselves; BuildErrorText applies
// them in order.

#include <cstdint>
#include <string>

#include "engine/drive/srb.h"

namespace fornax {

// Text for the SRB status, host adapter status and target status of a
// command: "" for a pending or completed command, "CHECK CONDITION" when the
// drive has sense data to read, "UNKNOWN" for a combination without a text.
std::string StatusText(uint8_t srbStatus, uint8_t hostAdapterStatus, uint8_t targetStatus);

// Text for the sense key of fixed-format sense data (the SRB's sense area):
// "" when byte 0 is zero, "UNKNOWN" for any other response code, and
// "CHECK CONDITION" for keys 9 and C, which have no text of their own.
std::string SenseKeyText(const uint8_t* sense);

// The standard description of an additional sense code and qualifier, in
// capital letters; "" for a pair the table does not hold.
std::string SenseText(uint8_t asc, uint8_t ascq);

// Whether fixed-format sense data says that the drive holds no medium:
// NOT READY with MEDIUM NOT PRESENT (3Ah, whatever the qualifier says of
// the tray). No wait makes such a drive ready.
bool IsNoMediumSense(const uint8_t* sense);

struct TErrorText {
  std::string Text;
  bool TargetBusy = false;  // the drive answered BUSY: worth asking again
};

// The last error of a failed command: the status text, with a check
// condition replaced by the sense key text, followed by the additional sense
// text in brackets when the drive sent additional sense bytes. A pair without
// a text shows as its two codes in decimal, for example "(82,0)". The caller
// keeps its own copy of the sense area.
TErrorText BuildErrorText(const SRB_ExecSCSICmd& srb);

}  // namespace fornax
