#include "simdrive/sense.h"

#include "simdrive/bytes.h"

namespace fornax::sim {

std::array<uint8_t, kSenseBytes> EncodeSense(const Sense& s) {
  std::array<uint8_t, kSenseBytes> b{};
  b[0] = s.info_valid ? 0xF0 : 0x70;
  b[2] = s.key & 0x0F;
  if (s.info_valid) PutBe32(&b[3], s.info);
  b[7] = kSenseBytes - 8;
  b[12] = s.asc;
  b[13] = s.ascq;
  if (s.sksv) {
    b[15] = static_cast<uint8_t>(0x80 | (s.sks_flags & 0x7F));
    PutBe16(&b[16], s.sks_value);
  }
  return b;
}

namespace sense {

Sense InvalidFieldInCdb(int byte, int bit) {
  Sense s = Make(0x05, 0x24, 0x00);
  s.sksv = true;
  s.sks_flags = 0x40;  // C/D: the error is in the CDB
  if (bit >= 0) s.sks_flags |= static_cast<uint8_t>(0x08 | (bit & 7));
  s.sks_value = static_cast<uint16_t>(byte);
  return s;
}

Sense LbaOutOfRange(uint32_t lba) { return WithInformation(Make(0x05, 0x21, 0x00), lba); }

Sense WithProgress(Sense base, uint16_t progress) {
  base.sksv = true;
  base.sks_flags = 0;
  base.sks_value = progress;
  return base;
}

Sense WithInformation(Sense base, uint32_t lba) {
  base.info_valid = true;
  base.info = lba;
  return base;
}

}  // namespace sense
}  // namespace fornax::sim
