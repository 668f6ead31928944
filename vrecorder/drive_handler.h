#pragma once
// The simulated recorder behind the ring: each command the kernel queued is
// run by the recorder's library as if it had come through its transport.

#include <cstddef>
#include <cstdint>

#include "vrecorder/command_ring.h"

namespace fornax::vrec {

enum class TDirection { None, In, Out };

// Which way a command's data goes. The ring does not say; the command does:
// the few that send data to the drive are known by their operation code.
TDirection DataDirection(uint8_t opcode, size_t bufferBytes);

TRingAnswer AnswerWithSimulatedRecorder(const TRingCommand& command);

}  // namespace fornax::vrec
