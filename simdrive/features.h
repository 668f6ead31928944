#pragma once
// GET CONFIGURATION: the profiles and features of the drive, with the
// current bits set for the medium in it.

#include <cstdint>
#include <vector>

#include "simdrive/drive_state.h"
#include "simdrive/sense.h"

namespace fornax::sim {

namespace feature {
inline constexpr uint16_t kProfileList = 0x0000;
inline constexpr uint16_t kCore = 0x0001;
inline constexpr uint16_t kRemovableMedium = 0x0003;
inline constexpr uint16_t kRandomReadable = 0x0010;
inline constexpr uint16_t kCdRead = 0x001E;
inline constexpr uint16_t kDvdRead = 0x001F;
inline constexpr uint16_t kRandomWritable = 0x0020;
inline constexpr uint16_t kIncrementalStreaming = 0x0021;
inline constexpr uint16_t kFormattable = 0x0023;
inline constexpr uint16_t kRestrictedOverwrite = 0x0026;
inline constexpr uint16_t kDvdPlusRw = 0x002A;
inline constexpr uint16_t kDvdPlusR = 0x002B;
inline constexpr uint16_t kCdTrackAtOnce = 0x002D;
inline constexpr uint16_t kDvdMinusWrite = 0x002F;
inline constexpr uint16_t kDvdPlusRDl = 0x003B;
inline constexpr uint16_t kRealTimeStreaming = 0x0107;
}  // namespace feature

struct Feature {
  uint16_t code = 0;
  uint8_t version = 0;
  bool persistent = false;
  bool current = false;
  std::vector<uint8_t> data;  // the bytes after the 4-byte descriptor header
};

// Every feature the drive has, in ascending order of code.
std::vector<Feature> DriveFeatures(const Disc& disc);

// request_type: CDB byte 1 bits 1-0 (0 all, 1 current, 2 the one named).
std::vector<uint8_t> ConfigurationAnswer(const Disc& disc, uint8_t request_type, uint16_t start,
                                         Sense* refusal);

}  // namespace fornax::sim
