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

// CHECK CONDITION, 02/3A/00 (medium not present) to every command: what the
// root process answers once the serving process has ended, while the kernel
// lets the device go, without running the recorder or touching its files.
TRingAnswer NoMediumAnswer(const TRingCommand& command);

}  // namespace fornax::vrec
