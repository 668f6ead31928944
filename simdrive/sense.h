#pragma once
// Sense data: what the drive says when a command ends in CHECK CONDITION, and
// what REQUEST SENSE reports. Always the fixed format (response code 70h,
// 18 bytes); VALID is set only when an LBA stands in the information field,
// because the engine's readiness wait counts a response code of F0h as busy.

#include <array>
#include <cstdint>

namespace fornax::sim {

inline constexpr int kSenseBytes = 18;

struct Sense {
  uint8_t key = 0;
  uint8_t asc = 0;
  uint8_t ascq = 0;
  bool info_valid = false;
  uint32_t info = 0;
  // Bytes 15-17 (SKSV and what follows): progress (NOT READY) or field pointer
  // (ILLEGAL REQUEST), meaningful only when sksv is set.
  bool sksv = false;
  uint8_t sks_flags = 0;  // byte 15 bits 6-0: C/D, BPV, bit pointer
  uint16_t sks_value = 0;

  bool Good() const { return key == 0 && asc == 0 && ascq == 0; }
  bool operator==(const Sense&) const = default;
};

std::array<uint8_t, kSenseBytes> EncodeSense(const Sense& sense);

namespace sense {

inline constexpr Sense kNone{};

constexpr Sense Make(uint8_t key, uint8_t asc, uint8_t ascq) { return Sense{key, asc, ascq}; }

// NOT READY
inline constexpr Sense kNoMedium = Make(0x02, 0x3A, 0x00);
inline constexpr Sense kNoMediumTrayOpen = Make(0x02, 0x3A, 0x02);
inline constexpr Sense kBecomingReady = Make(0x02, 0x04, 0x01);
inline constexpr Sense kFormatInProgress = Make(0x02, 0x04, 0x04);
inline constexpr Sense kOperationInProgress = Make(0x02, 0x04, 0x07);
inline constexpr Sense kLongWriteInProgress = Make(0x02, 0x04, 0x08);
// ILLEGAL REQUEST
inline constexpr Sense kParameterListLength = Make(0x05, 0x1A, 0x00);
inline constexpr Sense kInvalidOpcode = Make(0x05, 0x20, 0x00);
inline constexpr Sense kInvalidAddressForWrite = Make(0x05, 0x21, 0x02);
inline constexpr Sense kInvalidFieldInParameters = Make(0x05, 0x26, 0x00);
inline constexpr Sense kCommandSequenceError = Make(0x05, 0x2C, 0x00);
inline constexpr Sense kIncompatibleMedium = Make(0x05, 0x30, 0x00);
inline constexpr Sense kCannotWriteMedium = Make(0x05, 0x30, 0x05);
inline constexpr Sense kCannotFormatMedium = Make(0x05, 0x30, 0x06);
inline constexpr Sense kMediumNotFormatted = Make(0x05, 0x30, 0x10);
inline constexpr Sense kSavingNotSupported = Make(0x05, 0x39, 0x00);
inline constexpr Sense kRemovalPrevented = Make(0x05, 0x53, 0x02);
inline constexpr Sense kIllegalModeForTrack = Make(0x05, 0x64, 0x00);
inline constexpr Sense kSessionFixationIncompleteTrack = Make(0x05, 0x72, 0x03);
inline constexpr Sense kReservedTrackNotFull = Make(0x05, 0x72, 0x04);
// UNIT ATTENTION
inline constexpr Sense kMediumChanged = Make(0x06, 0x28, 0x00);
// MEDIUM ERROR / HARDWARE ERROR: what the drive says when its own files fail.
inline constexpr Sense kWriteError = Make(0x03, 0x0C, 0x00);
inline constexpr Sense kUnrecoveredReadError = Make(0x03, 0x11, 0x00);
inline constexpr Sense kInternalTargetFailure = Make(0x04, 0x44, 0x00);

// 05/24/00 pointing at the offending CDB byte (and bit, when given).
Sense InvalidFieldInCdb(int byte, int bit = -1);
// 05/21/00 naming the first LBA beyond the end.
Sense LbaOutOfRange(uint32_t lba);
// NOT READY with the progress of an operation, fraction of 65536.
Sense WithProgress(Sense base, uint16_t progress);
// A fault the control interface injected for a block.
Sense WithInformation(Sense base, uint32_t lba);

}  // namespace sense
}  // namespace fornax::sim
