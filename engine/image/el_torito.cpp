#include "engine/image/el_torito.h"

#include "engine/base/bytes.h"

namespace fornax {

uint8_t BootMediaType(int32_t bootImageSectors) {
  switch (bootImageSectors) {
    case 600: return 1;   // 1.2 MB diskette
    case 720: return 2;   // 1.44 MB diskette
    case 1440: return 3;  // 2.88 MB diskette
    default: return 4;    // hard disk
  }
}

TSector BootRecordDescriptor(uint32_t catalogLocation) {
  TSector s{};
  s[0] = 0;
  PutText(&s[1], "CD001");
  s[6] = 1;
  // The boot system identifier every El Torito reader looks for, byte for byte.
  PutText(&s[7], "EL TORITO SPECIFICATION");
  PutLe32(&s[71], catalogLocation);
  return s;
}

uint16_t ValidationChecksum(const uint8_t* entry) {
  uint16_t sum = 0;
  for (int i = 0; i < 32; i += 2) sum = static_cast<uint16_t>(sum + GetLe16(entry + i));
  return static_cast<uint16_t>(0 - sum);
}

TSector BootCatalog(int32_t bootImageSectors, uint32_t bootImageLocation) {
  TSector s{};
  // Validation entry.
  s[0] = 1;
  s[1] = 0;  // 80x86
  PutText(&s[4], "Vesta");
  s[30] = 0x55;
  s[31] = 0xAA;
  PutLe16(&s[28], ValidationChecksum(s.data()));
  // Default entry.
  s[32] = 0x88;
  s[33] = BootMediaType(bootImageSectors);
  PutLe16(&s[38], 1);
  PutLe32(&s[40], bootImageLocation);
  return s;
}

}  // namespace fornax
