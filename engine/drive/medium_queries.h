#pragma once
// What medium the selected drive holds: its code and name, whether it can be
// erased, its sessions, and how many sectors are used, free and in all. Every
// query sends its commands afresh and degrades to 0 when they fail.

#include <array>
#include <cstdint>
#include <functional>
#include <string>

namespace fornax {

class TSCSIDevice;

// Medium codes: below 4 CD media.
enum TMediumCode : uint8_t {
  mtUnknown = 0, mtCDROM = 1, mtCDR = 2, mtCDRW = 3, mtDVDROM = 4, mtDVDR = 5, mtDVDRAM = 6,
  mtDVDRW = 7, mtDVDRWRestricted = 8, mtDVDRWSequential = 9, mtDVDPlusRW = 10, mtDVDPlusR = 11,
  mtDVDPlusRDL = 12, mtDDCDROM = 13, mtDDCDR = 14, mtDDCDRW = 15
};

extern const std::array<const char*, 16> MediumNames;

inline bool IsDvdMedium(uint8_t code) { return code >= mtDVDR && code <= mtDVDPlusRDL; }
// Media written in place, block by block: a session may start anywhere, and
// what the start of the disc shows is what a reader finds.
inline bool IsOverwritableMedium(uint8_t code) {
  return code == mtDVDRAM || code == mtDVDPlusRW || code == mtDVDRWRestricted;
}
// Media on which a drive can rehearse a write without recording anything.
inline bool MediumHasTestWrite(uint8_t code) {
  return code == mtCDR || code == mtCDRW || code == mtDVDR || code == mtDVDRWSequential;
}
// Pressed discs, or what a drive that only reads reports for any disc: what
// they hold is all they hold.
inline bool IsReadOnlyMedium(uint8_t code) { return code == mtCDROM || code == mtDVDROM || code == mtDDCDROM; }
// Write-once (or sequentially recorded) media with tracks and sessions.
inline bool IsSequentialMedium(uint8_t code) {
  return code == mtCDR || code == mtCDRW || code == mtDVDR || code == mtDVDRWSequential ||
         code == mtDVDPlusR || code == mtDVDPlusRDL;
}

// The medium code of a current profile (0 for none or an unknown one).
uint8_t MediumCodeOfProfile(uint16_t profile);
// The profile's name for the disc information record, and whether it is erasable.
std::string ProfileName(uint16_t profile);
bool ProfileErasable(uint16_t profile);
// CD capacity from an ATIP answer: the sector where the lead-out may start
// at the latest (its time M:S:F less the two seconds before sector 0).
uint32_t AtipCapacity(const uint8_t* atip);
// Whether an answer to READ TOC format 4 really is an ATIP. Some ATAPI drives
// ignore the format field and answer with the table of contents, whose byte 4
// is reserved; an ATIP has bit 7 of byte 4 set.
bool IsAtip(const uint8_t* answer);

struct TDiscInfoRecord {
  uint8_t Ready = 0;
  uint32_t Capacity = 0;
  uint32_t Used = 0;
  uint32_t BlockSize = 0;
  uint8_t FirstSession = 0, LastSession = 0;
  uint8_t LastSessionState = 0;
  uint8_t DiscStatus = 0;
  uint16_t Profile = 0;
  std::string MediumName;
  uint8_t Erasable = 0;
};

class TMediumQueries {
 public:
  // `setWriteParameters` sets the write parameters page for a medium code,
  // as the space queries do before they ask.
  TMediumQueries(TSCSIDevice& device, std::function<bool(uint8_t)> setWriteParameters)
      : FDevice(device), FSetWriteParameters(std::move(setWriteParameters)) {}

  uint8_t MediumType();
  bool IsErasable();
  int DiscStatus();
  int SessionCount();
  uint32_t FileSystemSectors();
  uint32_t UsedSectors();
  uint32_t FreeSectors();
  uint32_t CapacitySectors();
  bool DiscInfo(TDiscInfoRecord& record);

 private:
  bool ReadDiscInformation();  // asks once more after a unit attention
  uint8_t LastTrack();
  // A read-only disc: up to its last sector (READ CAPACITY), 0 when unknown;
  // its capacity is that or its ATIP's, whichever is larger.
  uint32_t RecordedSectors();
  uint32_t ReadOnlyCapacity();
  uint32_t CdCapacity();
  uint32_t DvdUsed(uint8_t code);
  uint32_t CdUsed();
  uint32_t DvdFree(uint8_t code);
  uint32_t CdFree();

  TSCSIDevice& FDevice;
  std::function<bool(uint8_t)> FSetWriteParameters;
};

}  // namespace fornax
