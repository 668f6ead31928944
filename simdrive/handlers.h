#pragma once
// The command handlers, one per opcode. Each validates its CDB, acts on the
// state and answers; the common gates (medium, unit attention, operations in
// progress) have already been passed.

#include "simdrive/command.h"

namespace fornax::sim {

// Drive-level commands (drive_commands.cpp).
Reply TestUnitReady(CommandContext& ctx, const Command& cmd);
Reply RewindUnit(CommandContext& ctx, const Command& cmd);
Reply RequestSense(CommandContext& ctx, const Command& cmd);
Reply Inquiry(CommandContext& ctx, const Command& cmd);
Reply StartStopUnit(CommandContext& ctx, const Command& cmd);
Reply PreventAllowRemoval(CommandContext& ctx, const Command& cmd);
Reply GetConfiguration(CommandContext& ctx, const Command& cmd);
Reply ModeSense(CommandContext& ctx, const Command& cmd);
Reply ModeSelect(CommandContext& ctx, const Command& cmd);
Reply ModeSense6(CommandContext& ctx, const Command& cmd);
Reply ModeSelect6(CommandContext& ctx, const Command& cmd);
Reply GetEventStatusNotification(CommandContext& ctx, const Command& cmd);
Reply GetPerformance(CommandContext& ctx, const Command& cmd);
Reply ReadDvdStructure(CommandContext& ctx, const Command& cmd);
Reply MechanismStatus(CommandContext& ctx, const Command& cmd);
Reply SetCdSpeed(CommandContext& ctx, const Command& cmd);
Reply ReadBufferCapacity(CommandContext& ctx, const Command& cmd);

// Disc information (disc_info_commands.cpp).
Reply ReadDiscInformation(CommandContext& ctx, const Command& cmd);
Reply ReadTrackInformation(CommandContext& ctx, const Command& cmd);
Reply ReadToc(CommandContext& ctx, const Command& cmd);
Reply ReadCapacity(CommandContext& ctx, const Command& cmd);
Reply ReadFormatCapacities(CommandContext& ctx, const Command& cmd);

// Reading and recording (recording_commands.cpp).
Reply Read10(CommandContext& ctx, const Command& cmd);
Reply Write10(CommandContext& ctx, const Command& cmd);
Reply SynchronizeCache(CommandContext& ctx, const Command& cmd);
Reply CloseTrackSessionCommand(CommandContext& ctx, const Command& cmd);
Reply ReserveTrackCommand(CommandContext& ctx, const Command& cmd);
Reply SendOpcInformation(CommandContext& ctx, const Command& cmd);
Reply SendCueSheet(CommandContext& ctx, const Command& cmd);
Reply SetStreaming(CommandContext& ctx, const Command& cmd);
Reply SendDvdStructure(CommandContext& ctx, const Command& cmd);

// Erasing (erase_commands.cpp).
Reply FormatUnit(CommandContext& ctx, const Command& cmd);
Reply Blank(CommandContext& ctx, const Command& cmd);

}  // namespace fornax::sim
