#pragma once
// The opcode table of the drive and the checks every command meets before
// its handler runs: busy, unit attention, tray and medium, not ready, and a
// long operation in progress.

#include <cstdint>

#include "simdrive/command.h"

namespace fornax::sim {

enum class DataDirection : uint8_t { kNone, kIn, kOut };

using CommandHandler = Reply (*)(CommandContext&, const Command&);

struct CommandEntry {
  uint8_t opcode = 0;
  uint8_t cdb_length = 0;
  DataDirection direction = DataDirection::kNone;
  bool without_medium = false;  // works with the tray empty or open
  CommandHandler handler = nullptr;
};

// nullptr for an opcode the drive does not implement.
const CommandEntry* FindCommand(uint8_t opcode);
Reply Dispatch(CommandContext& ctx, const Command& cmd);
// What a command that needs the medium meets: no medium, not ready, an
// operation in progress (none for TEST UNIT READY during a close or flush).
Sense MediumGate(const CommandContext& ctx, uint8_t code);

}  // namespace fornax::sim
