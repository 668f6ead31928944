#pragma once
// Names of the SCSI/MMC commands for the command trace. Every name is 22
// characters, blank padded on the right, so the trace columns line up.

#include <cstddef>
#include <cstdint>
#include <string>

namespace fornax {

inline constexpr size_t kCommandNameWidth = 22;

// The padded name of a command the engine knows by name, else the opcode's
// two upper-case hexadecimal digits (0x88 gives "88").
std::string CommandName(uint8_t opcode);

}  // namespace fornax
