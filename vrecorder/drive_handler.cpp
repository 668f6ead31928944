#include "vrecorder/drive_handler.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "simdrive/simdrive.h"

namespace fornax::vrec {
namespace {

constexpr size_t kSenseBytes = 96;
constexpr uint8_t kStatusCheckCondition = 0x02;

}  // namespace

TDirection DataDirection(uint8_t opcode, size_t bufferBytes) {
  if (bufferBytes == 0) return TDirection::None;
  switch (opcode) {
    case 0x04:  // FORMAT UNIT
    case 0x0A:  // WRITE (6)
    case 0x15:  // MODE SELECT (6)
    case 0x1D:  // SEND DIAGNOSTIC
    case 0x2A:  // WRITE (10)
    case 0x2E:  // WRITE AND VERIFY (10)
    case 0x3B:  // WRITE BUFFER
    case 0x54:  // SEND OPC INFORMATION
    case 0x55:  // MODE SELECT (10)
    case 0x5D:  // SEND CUE SHEET
    case 0x8A:  // WRITE (16)
    case 0xA3:  // SEND KEY
    case 0xAA:  // WRITE (12)
    case 0xB6:  // SET STREAMING
    case 0xBF:  // SEND DVD STRUCTURE
      return TDirection::Out;
    default: return TDirection::In;
  }
}

TRingAnswer AnswerWithSimulatedRecorder(const TRingCommand& command) {
  const size_t length = command.Length();
  const TDirection direction = DataDirection(command.Cdb[0], length);
  std::vector<uint8_t> data(length, 0);
  if (direction == TDirection::Out) {
    size_t at = 0;
    for (const auto& buffer : command.Buffers) {
      std::memcpy(data.data() + at, buffer.data(), buffer.size());
      at += buffer.size();
    }
  }
  TRingAnswer answer;
  uint32_t transferred = 0;
  answer.Sense.assign(kSenseBytes, 0);
  const int code = direction == TDirection::None ? 0 : direction == TDirection::In ? 1 : 2;
  const int status = fornax_sim_execute(command.Cdb.data(), command.Cdb.size(), code, data.data(),
                                        static_cast<uint32_t>(length), &transferred, answer.Sense.data(),
                                        answer.Sense.size());
  answer.Status = static_cast<uint8_t>(status);
  if (direction == TDirection::In) {
    answer.Transferred = std::min<uint32_t>(transferred, static_cast<uint32_t>(length));
    size_t at = 0;
    for (const auto& buffer : command.Buffers) {
      const size_t n = std::min(buffer.size(), length - at);
      std::memcpy(buffer.data(), data.data() + at, n);
      at += n;
    }
  }
  return answer;
}

TRingAnswer NoMediumAnswer(const TRingCommand&) {
  TRingAnswer answer;
  answer.Status = kStatusCheckCondition;
  answer.Sense.assign(18, 0);
  answer.Sense[0] = 0x70;   // fixed format, current
  answer.Sense[2] = 0x02;   // NOT READY
  answer.Sense[7] = 10;     // additional length
  answer.Sense[12] = 0x3A;  // MEDIUM NOT PRESENT
  return answer;
}

}  // namespace fornax::vrec
