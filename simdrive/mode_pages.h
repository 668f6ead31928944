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
#include "simdrive/write_buffer.h"

namespace fornax::sim {

enum class PageControl : uint8_t { kCurrent = 0, kChangeable = 1, kDefault = 2, kSaved = 3 };

inline constexpr uint8_t kPageReadErrorRecovery = 0x01;
inline constexpr uint8_t kPageWriteParameters = 0x05;
inline constexpr uint8_t kPageCdAudioControl = 0x0E;
inline constexpr uint8_t kPageCapabilities = 0x2A;
inline constexpr uint8_t kPageAll = 0x3F;

std::vector<uint8_t> CapabilitiesPage(const DriveState& state, PageControl pc);
std::array<uint8_t, kPage05Bytes> WriteParametersPage(const DriveState& state, PageControl pc);
// Bits of page 05 a host may change.
std::array<uint8_t, kPage05Bytes> WriteParametersChangeable();

// The pages MODE SENSE returns for a page code (3Fh: all, in ascending
// order); an unknown page leaves it empty and sets the refusal.
std::vector<uint8_t> ModePages(const DriveState& state, uint8_t page, PageControl pc, Sense* refusal);

// The answer of MODE SENSE (10) before it is cut to the allocation length:
// 8-byte header, no block descriptor (the engine reads the page at byte 8).
std::vector<uint8_t> ModeSenseAnswer(const DriveState& state, uint8_t page, PageControl pc,
                                     Sense* refusal);
// MODE SENSE (6): 4-byte header, then with DBD = 0 one block descriptor
// (density 0, number of blocks 0, block length 2048), then the pages.
std::vector<uint8_t> ModeSense6Answer(const DriveState& state, uint8_t page, PageControl pc, bool dbd,
                                      Sense* refusal);

// Checks a MODE SELECT parameter list and, when everything in it is
// acceptable, takes it into the state. header_bytes: 8 for MODE SELECT (10),
// 4 for (6). A block descriptor is accepted with block length 2048 (the
// only one the drive reads in); a list may hold it alone.
Sense ApplyModeSelect(DriveState& state, std::span<const uint8_t> list, size_t header_bytes = 8);

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
