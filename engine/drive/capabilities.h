#pragma once
// What the selected drive can do: the capability set built from its
// capabilities page and its features, the page itself, and its speeds.

#include <cstdint>

namespace fornax {

class TSCSIDevice;

enum TCapability : uint32_t {
  capReadCDR = 1u << 0,
  capReadCDRW = 1u << 1,
  capReadMethod2 = 1u << 2,
  capReadDVDROM = 1u << 3,
  capReadDVDR = 1u << 4,
  capReadDVDRW = 1u << 5,
  capReadDVDRAM = 1u << 6,
  capReadDVDPlusR = 1u << 7,
  capReadDVDPlusRDL = 1u << 8,
  capReadDVDPlusRW = 1u << 9,
  capWriteCDR = 1u << 10,
  capWriteCDRW = 1u << 11,
  capTestWrite = 1u << 12,
  capWriteDVDR = 1u << 13,
  capWriteDVDRW = 1u << 14,
  capWriteDVDRAM = 1u << 15,
  capWriteDVDPlusR = 1u << 16,
  capWriteDVDPlusRDL = 1u << 17,
  capWriteDVDPlusRW = 1u << 18,
  capUnderrunProtection = 1u << 20,
};

inline constexpr int kPageCopySize = 516;

// Offset of a mode page in a MODE SENSE (10) answer: after a block
// descriptor (16), right after the header (8), or at 7; else `fallback`.
int FindModePage(const uint8_t* answer, uint8_t pageCode, int fallback);
// Capability bits that page 2Ah's bytes 2 to 4 give.
uint32_t CapabilitiesFromPage(const uint8_t* page);
// Read and write bits a feature gives when GET CONFIGURATION names it.
uint32_t CapabilitiesFromFeature(uint16_t feature, bool writes);

class TDriveCapabilities {
 public:
  explicit TDriveCapabilities(TSCSIDevice& device) : FDevice(device) {}

  bool RefreshCapabilities();
  uint32_t Capabilities() const { return FCapabilities; }
  bool Has(uint32_t capability) const { return (FCapabilities & capability) != 0; }
  // Page 2Ah as last read, from its page code byte on.
  const uint8_t* PageCopy() const { return FPage; }
  uint16_t DeviceMaxWriteSpeed() const { return FMaxWriteSpeed; }
  uint16_t DeviceMaxReadSpeed() const { return FMaxReadSpeed; }
  uint16_t BufferSizeKB() const { return FBufferSizeKB; }
  uint16_t CurrentReadSpeedValue() const { return FCurrentReadSpeed; }
  uint16_t CurrentWriteSpeedValue() const { return FCurrentWriteSpeed; }

  // Each refreshes first; 0 when that fails.
  uint16_t MaxWriteSpeed();
  uint16_t MaxReadSpeed();
  uint16_t CurrentWriteSpeed();

 private:
  bool VendorPageSaysUnderrunProtection();
  bool ModeSense(uint8_t page, bool defaults, uint8_t* answer, uint16_t length);

  TSCSIDevice& FDevice;
  uint32_t FCapabilities = 0;
  uint8_t FPage[kPageCopySize] = {};
  uint16_t FMaxWriteSpeed = 0, FMaxReadSpeed = 0;
  uint16_t FPageMaxReadSpeed = 0, FBufferSizeKB = 0, FCurrentReadSpeed = 0;
  uint16_t FPageMaxWriteSpeed = 0, FCurrentWriteSpeed = 0;
};

}  // namespace fornax
