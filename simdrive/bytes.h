#pragma once
// Big-endian fields of CDBs and answers, and the CD time code. MMC numbers are
// big-endian everywhere; SRB fields are host order and never pass through here.

#include <cstdint>

namespace fornax::sim {

inline void PutBe16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}
inline void PutBe24(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 16);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v);
}
inline void PutBe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * (3 - i)));
}
inline uint16_t GetBe16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
inline uint32_t GetBe24(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 16) | (static_cast<uint32_t>(p[1]) << 8) | p[2];
}
inline uint32_t GetBe32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}

// A CD address as minutes, seconds and frames (75 frames a second). LBA 0 is
// 00:02:00; the lead-in lies at 90 minutes and above, at negative LBAs.
struct Msf {
  uint8_t m = 0, s = 0, f = 0;
};

constexpr Msf LbaToMsf(int32_t lba) {
  const int32_t frames = lba >= -150 ? lba + 150 : lba + 450150;
  return Msf{static_cast<uint8_t>(frames / 4500), static_cast<uint8_t>((frames / 75) % 60),
             static_cast<uint8_t>(frames % 75)};
}
constexpr int32_t MsfToLba(Msf msf) {
  const int32_t frames = (msf.m * 60 + msf.s) * 75 + msf.f;
  return msf.m < 90 ? frames - 150 : frames - 450150;
}

// The four-byte "00 M S F" form that READ TOC and READ DISC INFORMATION use
// for CD addresses.
inline void PutMsfAddress(uint8_t* p, int32_t lba) {
  const Msf msf = LbaToMsf(lba);
  p[0] = 0;
  p[1] = msf.m;
  p[2] = msf.s;
  p[3] = msf.f;
}

}  // namespace fornax::sim
