#include "engine/drive/write_parameters.h"

#include <cstring>

#include "engine/base/bytes.h"
#include "engine/drive/medium_queries.h"

namespace fornax {

std::array<uint8_t, kWriteParametersPageSize> BuildWriteParametersPage(
    const uint8_t* currentPage, const TWriteParametersInput& in) {
  std::array<uint8_t, kWriteParametersPageSize> page{};
  std::memcpy(page.data(), currentPage, page.size());
  uint8_t* p = page.data();
  const uint8_t m = in.MediumCode;
  p[1] = 0x32;
  if (m == mtDVDR) {
    p[2] = 0x60;
    p[3] = 0xE5;
    p[5] = 16;
    PutBe32(p + 10, 16);
  } else {
    p[2] = 0x01;  // track at once
    p[3] = 0x04;
    p[5] = 0;
    PutBe32(p + 10, 0);
  }
  p[4] = 8;  // mode 1, 2048-byte blocks
  if (m == mtDVDPlusRW || m == mtDVDPlusR) {
    p[2] = 0x22;
    p[3] |= 0xC0;
  }
  if (in.LinkSizeQuirk) p[2] |= 0x20;
  if (m == mtDVDR || m == mtDVDRW || m == mtDVDRWRestricted || m == mtDVDRWSequential || m == mtDVDPlusR)
    p[3] |= 0xE0;
  else if (!in.TestWrite && !in.FinalizeDisc)
    p[3] |= 0xC0;
  else
    p[3] &= 0x3F;
  if (in.UnderrunProtection && in.DriveHasUnderrunProtection) p[2] |= 0x40; else p[2] &= ~0x40;
  if (in.TestWrite && in.DriveHasTestWrite) p[2] |= 0x10; else p[2] &= ~0x10;
  p[6] = p[7] = p[8] = p[9] = 0;
  if (m == mtDVDPlusR) {
    p[6] = 16;
    PutBe32(p + 10, 16);
  }
  if (m == mtDVDRWRestricted || m == mtDVDRWSequential) {
    // Incremental with a link size; a test write stays one.
    p[2] = static_cast<uint8_t>(0x20 | (p[2] & 0x10));
    p[3] = 0xC5;
    p[5] = 16;
  }
  if (m == mtDVDPlusR) {
    p[3] = 0xC4;
    p[6] = 0;
  }
  if (m == mtDVDPlusRDL) {
    p[2] = static_cast<uint8_t>((p[2] & 0xF0) | 0x22);
    p[3] = static_cast<uint8_t>(((p[3] & 0xF0) | 0x04) & 0xDF);
    p[3] = in.NextSessionAllowed ? (p[3] | 0xC0) : (p[3] & 0x3F);
    p[5] = p[6] = 0;
    PutBe32(p + 10, 0);
  } else if (in.UnderrunProtection && in.PageSaysBufferUnderrunFree) {
    p[2] |= 0x40;
  }
  if (m == mtDVDPlusRW) {
    p[3] = 0x04;
    p[5] = 16;
  }
  if (in.CloseDisc && (m == mtDVDR || m == mtDVDRWSequential)) p[3] &= 0x3F;
  PutBe16(p + 14, 150);
  return page;
}

}  // namespace fornax
