#pragma once
// Mode pages: 2Ah (capabilities and mechanical status, read-only) and 05h
// (write parameters, the one page a host may change), MODE SENSE (10)
// answers and the checks MODE SELECT (10) applies to a parameter list.

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "simdrive/drive_state.h"
#include "simdrive/sense.h"

namespace fornax::sim {

enum class PageControl : uint8_t { kCurrent = 0, kChangeable = 1, kDefault = 2, kSaved = 3 };

inline constexpr uint8_t kPageWriteParameters = 0x05;
inline constexpr uint8_t kPageCapabilities = 0x2A;
inline constexpr uint8_t kPageAll = 0x3F;
inline constexpr uint32_t kBufferBytes = 2 * 1024 * 1024;

std::vector<uint8_t> CapabilitiesPage(const DriveState& state, PageControl pc);
std::array<uint8_t, kPage05Bytes> WriteParametersPage(const DriveState& state, PageControl pc);
// Bits of page 05 a host may change.
std::array<uint8_t, kPage05Bytes> WriteParametersChangeable();

// The answer of MODE SENSE (10) before it is cut to the allocation length;
// an unknown page leaves it empty and sets the refusal.
std::vector<uint8_t> ModeSenseAnswer(const DriveState& state, uint8_t page, PageControl pc,
                                     Sense* refusal);

// Checks a MODE SELECT (10) parameter list and, when every page in it is
// acceptable, takes it into the state.
Sense ApplyModeSelect(DriveState& state, std::span<const uint8_t> list);

// Fields of page 05 the drive obeys.
struct WriteParameters {
  uint8_t write_type = 1;
  bool test_write = false;
  uint8_t multisession = 0;
  uint8_t track_mode = 4;
  uint8_t block_type = 8;
};
WriteParameters DecodeWriteParameters(const std::array<uint8_t, kPage05Bytes>& page);
// Whether a page 05 suits the medium (checked only where the page applies).
Sense ValidateWriteParameters(const Disc& disc, std::span<const uint8_t> page);

}  // namespace fornax::sim
