#include "engine/drive/capabilities.h"

#include <algorithm>
#include <cstring>

#include "engine/base/bytes.h"
#include "engine/drive/scsi_device.h"

namespace fornax {

int FindModePage(const uint8_t* answer, uint8_t pageCode, int fallback) {
  if (answer[16] == pageCode) return 16;
  if (answer[8] == pageCode) return 8;
  if (answer[7] == pageCode) return 7;
  return fallback;
}

uint32_t CapabilitiesFromPage(const uint8_t* page) {
  uint32_t set = 0;
  const uint8_t reads = page[2], writes = page[3];
  if (reads & 0x01) set |= capReadCDR;
  if (reads & 0x02) set |= capReadCDRW;
  if (reads & 0x04) set |= capReadMethod2;
  if (reads & 0x08) set |= capReadDVDROM;
  if (reads & 0x10) set |= capReadDVDR | capReadDVDRW;
  if (reads & 0x20) set |= capReadDVDRAM;
  if (writes & 0x01) set |= capWriteCDR;
  if (writes & 0x02) set |= capWriteCDRW;
  if (writes & 0x04) set |= capTestWrite;
  if (writes & 0x10) set |= capWriteDVDR | capWriteDVDRW;
  if (writes & 0x20) set |= capWriteDVDRAM;
  if (page[4] & 0x80) set |= capUnderrunProtection;
  return set;
}

uint32_t CapabilitiesFromFeature(uint16_t feature, bool writes) {
  switch (feature) {
    case 0x002A:
      return capReadDVDPlusR | capReadDVDPlusRW | (writes ? capWriteDVDPlusR | capWriteDVDPlusRW : 0);
    case 0x003B:
      return capReadDVDPlusRDL | (writes ? capWriteDVDPlusRDL : 0);
    case 0x002F:
      return capReadDVDR | capReadDVDRW | (writes ? capWriteDVDR | capWriteDVDRW : 0);
    default:
      return 0;
  }
}

bool TDriveCapabilities::VendorPageSaysUnderrunProtection() {
  alignas(16) uint8_t answer[128] = {};
  return FDevice.ModeSense10(0x30, false, answer, sizeof answer) &&
         (answer[16] == 0x30 || answer[8] == 0x30 || answer[7] == 0x30);
}

// A unit attention (a disc just inserted) refuses one command and is then
// gone; the page is asked for once more rather than taken as missing.
bool TDriveCapabilities::ModeSense(uint8_t page, bool defaults, uint8_t* answer, uint16_t length) {
  if (FDevice.ModeSense10(page, defaults, answer, length)) return true;
  return (FDevice.LastSense()[2] & 0x0F) == 0x06 && FDevice.ModeSense10(page, defaults, answer, length);
}

bool TDriveCapabilities::RefreshCapabilities() {
  FCapabilities = 0;
  FMaxWriteSpeed = FMaxReadSpeed = 0;
  std::memset(FPage, 0, sizeof FPage);

  uint16_t writeSpeed = 0, readSpeed = 0;
  int offset = 15;
  alignas(16) uint8_t answer[kPageCopySize + 16] = {};
  // What the drive can do, from the page's default values. A drive that
  // refuses those as an illegal request (some ATAPI drives do) tells the same
  // in its current ones; a busy one is not asked again.
  bool pageRead = ModeSense(0x2A, true, answer, 255);
  if (!pageRead && (FDevice.LastSense()[2] & 0x0F) == 0x05) pageRead = ModeSense(0x2A, false, answer, 255);
  if (pageRead) {
    offset = FindModePage(answer, 0x2A, 8);
    std::memcpy(FPage, answer + offset, sizeof FPage);
    FCapabilities = CapabilitiesFromPage(FPage);
    if (FDevice.Quirks().UnderrunProtection || VendorPageSaysUnderrunProtection())
      FCapabilities |= capUnderrunProtection;
    writeSpeed = GetBe16(FPage + 18);
    if (writeSpeed == 0 && (FPage[3] & 0x20)) writeSpeed = 1;
    readSpeed = GetBe16(FPage + 8);
    if (readSpeed == 0 && (FPage[3] & 0x20)) readSpeed = 1;
    for (const uint16_t feature : {uint16_t{0x002A}, uint16_t{0x003B}, uint16_t{0x002F}}) {
      alignas(16) uint8_t config[114] = {};
      if (!FDevice.GetConfiguration(2, static_cast<uint8_t>(feature), config, sizeof config)) continue;
      if (GetBe16(config + 8) != feature) continue;
      FCapabilities |= CapabilitiesFromFeature(feature, config[12] == 1);
    }
  }

  std::memset(answer, 0, sizeof answer);
  if (!ModeSense(0x2A, false, answer, 128)) return false;
  offset = FindModePage(answer, 0x2A, offset);
  std::memcpy(FPage, answer + offset, sizeof FPage);
  // A drive that reports no write speed still writes: take 1x DVD.
  if (GetBe16(FPage + 20) == 0) PutBe16(FPage + 20, 1385);
  if (GetBe16(FPage + 18) == 0) PutBe16(FPage + 18, 1385);
  FPageMaxReadSpeed = GetBe16(FPage + 8);
  FBufferSizeKB = GetBe16(FPage + 12);
  FCurrentReadSpeed = GetBe16(FPage + 14);
  FPageMaxWriteSpeed = GetBe16(FPage + 18);
  FCurrentWriteSpeed = GetBe16(FPage + 20);
  FMaxWriteSpeed = std::max(writeSpeed, FPageMaxWriteSpeed);
  FMaxReadSpeed = std::max(readSpeed, FPageMaxReadSpeed);
  return true;
}

uint16_t TDriveCapabilities::MaxWriteSpeed() { return RefreshCapabilities() ? FPageMaxWriteSpeed : 0; }
uint16_t TDriveCapabilities::MaxReadSpeed() { return RefreshCapabilities() ? FPageMaxReadSpeed : 0; }
uint16_t TDriveCapabilities::CurrentWriteSpeed() { return RefreshCapabilities() ? FCurrentWriteSpeed : 0; }

}  // namespace fornax
