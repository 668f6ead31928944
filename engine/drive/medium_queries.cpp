#include "engine/drive/medium_queries.h"

#include <algorithm>
#include <cstring>

#include "engine/base/bytes.h"
#include "engine/disc/volume_descriptors.h"
#include "engine/drive/disc_sessions.h"
#include "engine/drive/scsi_device.h"

namespace fornax {

const std::array<const char*, 16> MediumNames = {
    "UNKNOWN", "CD-ROM", "CD-R",   "CD-RW", "DVD-ROM", "DVD-R",    "DVD-RAM", "DVD-RW",
    "DVD-RW",  "DVD-RW", "DVD+RW", "DVD+R", "DVD+R DL", "DDCD-ROM", "DDCD-R",  "DDCD-RW"};

uint8_t MediumCodeOfProfile(uint16_t profile) {
  switch (profile) {
    case 0x0008: return mtCDROM;
    case 0x0009: return mtCDR;
    case 0x000A: return mtCDRW;
    case 0x0010: return mtDVDROM;
    case 0x0011: return mtDVDR;
    case 0x0012: return mtDVDRAM;
    case 0x0013: return mtDVDRWRestricted;
    case 0x0014: return mtDVDRWSequential;
    case 0x001A: return mtDVDPlusRW;
    case 0x001B: return mtDVDPlusR;
    case 0x002B: return mtDVDPlusRDL;
    case 0x0020: return mtDDCDROM;
    case 0x0021: return mtDDCDR;
    case 0x0022: return mtDDCDRW;
    default: return mtUnknown;
  }
}

std::string ProfileName(uint16_t profile) {
  switch (profile) {
    case 0x0001: return "Non-removable disk";
    case 0x0002: return "Removable disk";
    case 0x0003: return "MO Eraseable";
    case 0x0004: return "MO Write Once";
    case 0x0005: return "AS-MO";
    case 0x0008: return "CD-ROM";
    case 0x0009: return "CD-R";
    case 0x000A: return "CD-RW";
    case 0x0010: return "DVD-ROM";
    case 0x0011: return "DVD-R";
    case 0x0012: return "DVD-RAM";
    case 0x0013: return "DVD-RW Restricted Overwrite";
    case 0x0014: return "DVD-RW Sequential Recording";
    case 0x001A: return "DVD+RW";
    case 0x001B: return "DVD+R";
    case 0x002B: return "DVD+R DL";
    case 0x0020: return "DDCD-ROM";
    case 0x0021: return "DDCD-R";
    case 0x0022: return "DDCD-RW";
    default: return "???????";
  }
}

bool ProfileErasable(uint16_t profile) {
  return profile == 0x0003 || profile == 0x000A || profile == 0x0013 || profile == 0x0014 ||
         profile == 0x001A || profile == 0x0022;
}

// The lead-out start is a time on the disc; sector 0 lies two seconds (150
// frames) after time zero.
uint32_t AtipCapacity(const uint8_t* atip) {
  const uint32_t frames = static_cast<uint32_t>(atip[12]) * 4500 + static_cast<uint32_t>(atip[13]) * 75 + atip[14];
  return frames >= 150 ? frames - 150 : 0;
}

bool IsAtip(const uint8_t* answer) {
  const uint16_t length = GetBe16(answer);
  return length >= 0x0016 && (answer[4] & 0x80) != 0;
}

// READ TOC format 4, accepted only when the answer is an ATIP.
static bool ReadAtip(TSCSIDevice& device, uint8_t* atip) {
  return device.ReadToc(true, 4, 0, atip, 26) && IsAtip(atip);
}

uint8_t TMediumQueries::MediumType() {
  uint8_t code = mtUnknown;
  alignas(16) uint8_t config[114] = {};
  if (FDevice.GetConfiguration(2, 0, config, sizeof config)) code = MediumCodeOfProfile(GetBe16(config + 6));
  if (code == mtUnknown) {
    alignas(16) uint8_t atip[26] = {};
    if (ReadAtip(FDevice, atip))
      code = (atip[6] & 0x80) ? ((atip[6] & 0x40) ? mtCDRW : mtCDR) : mtCDROM;
  }
  if (code == mtUnknown && ReadDiscInformation())
    code = FDevice.DiscInformation().Erasable() ? mtCDRW : mtCDR;
  if (code == mtUnknown && FDevice.UnitReady()) code = mtCDROM;
  return code;
}

// The first command after a disc goes in is refused with a unit attention
// and the next one answers; a disc just inserted must not read as
// "not erasable" or "no sessions" for that.
bool TMediumQueries::ReadDiscInformation() {
  if (FDevice.ReadDiscInformation()) return true;
  return (FDevice.LastSense()[2] & 0x0F) == 0x06 && FDevice.ReadDiscInformation();
}

bool TMediumQueries::IsErasable() {
  if (ReadDiscInformation()) return FDevice.DiscInformation().Erasable();
  const uint8_t code = MediumType();
  TSCSIDevice::SetCurrentMediumCode(code);
  return code == mtDVDRAM || code == mtDVDRWRestricted || code == mtDVDRWSequential || code == mtDVDPlusRW;
}

int TMediumQueries::DiscStatus() {
  if (!ReadDiscInformation()) return -1;
  return FDevice.DiscInformation().DiscStatus();
}

int TMediumQueries::SessionCount() {
  if (!ReadDiscInformation()) {
    // A drive without disc information still has a table of contents.
    const bool refused = (FDevice.LastSense()[2] & 0x0F) == 0x05;
    return refused ? TDiscSessions(FDevice).TocSessionCount() : 0;
  }
  const TDiscInformation& info = FDevice.DiscInformation();
  if (info.DiscStatus() == 0) return 0;
  return info.Sessions() - (info.LastSessionState() == 0 ? 1 : 0);
}

uint32_t TMediumQueries::FileSystemSectors() {
  const TDescriptorSet set = ScanDescriptorSet(
      [this](uint32_t lba, uint8_t* sector) { return FDevice.ReadSectors(lba, 1, sector, 2048); }, 0);
  return set.Found ? set.VolumeEnd : 0;
}

uint8_t TMediumQueries::LastTrack() {
  return ReadDiscInformation() ? FDevice.DiscInformation().LastTrackInLastSession() : 0;
}

uint32_t TMediumQueries::DvdUsed(uint8_t code) {
  if (!FDevice.ReadTrackInfo(LastTrack())) return 0;
  const TTrackInfo track = FDevice.TrackInfo();
  if (track.TrackSize == 0xFFFFFFFFu) return 0;
  // A file system that claims more than the disc holds uses all of it.
  if (IsOverwritableMedium(code)) return std::min(FileSystemSectors(), CapacitySectors());
  if (code == mtDVDRWSequential) {
    // An empty track (size = free) is where writing goes on: the space before
    // it is used, which is nothing on a blank disc but the earlier sessions
    // on an appendable one.
    uint32_t blocks = 0, size = 0;
    if (FDevice.ReadFormatCapacities(blocks, size))
      return track.TrackSize == track.FreeBlocks ? track.NextWritableAddress : track.TrackSize;
  }
  return track.NextWritableAddress;
}

uint32_t TMediumQueries::CdUsed() {
  const int sessions = SessionCount();
  if (FDevice.ReadTrackInfo(static_cast<uint8_t>(sessions + 1))) {
    const TTrackInfo& track = FDevice.TrackInfo();
    const uint32_t value = track.NextWritableAddress == 0xFFFFFFFFu ? track.TrackSize : track.NextWritableAddress;
    if (sessions == 0 || value != 0) return value;
  }
  uint32_t last = 0, blockLength = 0;
  if (FDevice.ReadCapacity(last, blockLength)) {
    if (last < 0x7F000001u) return last;
    uint32_t blocks = 0, size = 0;
    return FDevice.ReadFormatCapacities(blocks, size) ? blocks : 0;
  }
  return FDevice.ReadTrackInfo(static_cast<uint8_t>(SessionCount() + 1)) ? FDevice.TrackInfo().FreeBlocks : 0;
}

uint32_t TMediumQueries::UsedSectors() {
  const uint8_t code = TSCSIDevice::CurrentMediumCode();
  if (IsReadOnlyMedium(code)) return RecordedSectors();
  FSetWriteParameters(code);
  ReadDiscInformation();
  return code >= mtDVDROM ? DvdUsed(code) : CdUsed();
}

uint32_t TMediumQueries::DvdFree(uint8_t code) {
  if (!FDevice.ReadTrackInfo(LastTrack())) return 0;
  const TTrackInfo track = FDevice.TrackInfo();
  // What the newest file system leaves of the formatted capacity; a file
  // system that claims more than the disc holds leaves nothing.
  if (IsOverwritableMedium(code)) {
    const uint32_t capacity = CapacitySectors();
    const uint32_t used = FileSystemSectors();
    return capacity > used ? capacity - used : 0;
  }
  if (track.TrackSize == 0xFFFFFFFFu) return 0;
  return track.LastRecordedAddress != 0 ? track.FreeBlocks : track.TrackSize;
}

uint32_t TMediumQueries::CdFree() {
  if (DiscStatus() == 2) return 0;
  const uint8_t last = LastTrack();
  bool read = FDevice.ReadTrackInfo(last);
  if (!read) read = FDevice.ReadTrackInfo(last);
  if (!read) return 0;
  return std::max(FDevice.TrackInfo().FreeBlocks, FDevice.TrackInfo().TrackSize);
}

uint32_t TMediumQueries::FreeSectors() {
  const uint8_t code = TSCSIDevice::CurrentMediumCode();
  if (IsReadOnlyMedium(code)) return 0;
  FSetWriteParameters(code);
  ReadDiscInformation();
  return code >= mtDVDROM ? DvdFree(code) : CdFree();
}

uint32_t TMediumQueries::CdCapacity() {
  alignas(16) uint8_t atip[26] = {};
  if (ReadAtip(FDevice, atip)) {
    uint32_t capacity = AtipCapacity(atip);
    uint32_t last = 0, blockLength = 0;
    if (capacity < 20000 && FDevice.ReadCapacity(last, blockLength) && last > capacity) capacity = last;
    return capacity;
  }
  const int sessions = SessionCount();
  const auto freePlusStart = [this](int track, uint32_t& value) {
    if (!FDevice.ReadTrackInfo(static_cast<uint8_t>(track))) return false;
    value = FDevice.TrackInfo().FreeBlocks + FDevice.TrackInfo().TrackStart;
    return true;
  };
  uint32_t blocks = 0, size = 0, value = 0;
  if (FDevice.ReadFormatCapacities(blocks, size)) {
    if (blocks != 0xFFFD0001u) return blocks;
    if (freePlusStart(sessions + 1, value) || freePlusStart(sessions, value)) return value;
    return 0;
  }
  if (freePlusStart(sessions, value)) return value;
  return FDevice.ReadFormatCapacities(blocks, size) ? blocks : 0;
}

uint32_t TMediumQueries::RecordedSectors() {
  uint32_t last = 0, blockLength = 0;
  if (!FDevice.ReadCapacity(last, blockLength) || last >= 0x7FFFFFFFu) return 0;
  return last + 1;
}

uint32_t TMediumQueries::ReadOnlyCapacity() {
  alignas(16) uint8_t atip[26] = {};
  const uint32_t atipCapacity = ReadAtip(FDevice, atip) ? AtipCapacity(atip) : 0;
  return std::max(atipCapacity, RecordedSectors());
}

uint32_t TMediumQueries::CapacitySectors() {
  const uint8_t code = TSCSIDevice::CurrentMediumCode();
  if (IsReadOnlyMedium(code)) return ReadOnlyCapacity();
  FSetWriteParameters(code);
  if (code < mtDVDROM) {
    const uint32_t capacity = CdCapacity();
    return capacity == 0xFFFFFFFFu ? UsedSectors() : capacity;
  }
  const bool trackRead = FDevice.ReadTrackInfo(LastTrack());
  if (code == mtDVDRAM || code == mtDVDRWRestricted || code == mtDVDPlusRW) {
    uint32_t blocks = 0, size = 0;
    if (FDevice.ReadFormatCapacities(blocks, size)) return blocks;
  }
  if (!trackRead) return 0;
  return FDevice.TrackInfo().FreeBlocks + FDevice.TrackInfo().NextWritableAddress;
}

bool TMediumQueries::DiscInfo(TDiscInfoRecord& record) {
  TDiscInfoRecord info;
  if (!FDevice.TestUnitReady(5000)) {
    FDevice.WaitReady(3000, 5000);
    if (!FDevice.TestUnitReady(5000)) {
      record.Ready = 0;
      return false;
    }
  }
  info.Ready = 1;
  info.BlockSize = 2048;
  alignas(16) uint8_t toc[114] = {};
  if (FDevice.ReadToc(false, 0, 0, toc, sizeof toc)) {
    TSessionInfo sessions;
    if (TDiscSessions(FDevice).ReadSessionInfo(sessions)) {
      info.FirstSession = sessions.FirstSession;
      info.LastSession = sessions.LastSession;
    }
    alignas(16) uint8_t atip[26] = {};
    info.Capacity = ReadAtip(FDevice, atip) ? AtipCapacity(atip) : 0;
    info.MediumName = "CD-ROM";
  }
  alignas(16) uint8_t config[114] = {};
  if (FDevice.GetConfiguration(2, 0, config, sizeof config)) {
    info.Profile = GetBe16(config + 6);
    info.MediumName = ProfileName(info.Profile);
    info.Erasable = ProfileErasable(info.Profile) ? 1 : 0;
    const bool dvd = MediumCodeOfProfile(info.Profile) >= mtDVDROM;
    // The track that holds the free space: used is where writing goes on,
    // capacity where the free space ends; a format list may know more.
    uint32_t last = 0, blockLength = 0;
    if (FDevice.ReadTrackInfo(dvd ? 1 : 255)) {
      const TTrackInfo& track = FDevice.TrackInfo();
      // Without a next writable address (an overwritable or closed track)
      // the recorded part is what the track does not have free.
      const bool nwaValid = (track.Raw[7] & 0x01) != 0;
      const uint32_t end = track.TrackStart + track.TrackSize;
      info.Used = nwaValid ? track.NextWritableAddress : end - std::min(track.FreeBlocks, track.TrackSize);
      info.Capacity = std::max(info.Capacity, nwaValid ? track.NextWritableAddress + track.FreeBlocks : end);
    } else if (FDevice.ReadCapacity(last, blockLength)) {
      info.Used = last + 1;  // a closed disc: everything up to its last sector
    }
    uint32_t blocks = 0, size = 0;
    if (FDevice.ReadFormatCapacities(blocks, size)) info.Capacity = std::max(info.Capacity, blocks);
  }
  if (ReadDiscInformation()) {
    const TDiscInformation& disc = FDevice.DiscInformation();
    info.DiscStatus = disc.DiscStatus();
    info.LastSessionState = disc.LastSessionState();
    info.Erasable = disc.Erasable() ? 1 : 0;
  } else {
    uint32_t last = 0, blockLength = 0;
    if (FDevice.ReadCapacity(last, blockLength)) {
      info.Used = last + 1;  // sectors 0 to the last one
      info.BlockSize = blockLength;
    }
    if (FDevice.ReadTrackInfo(0)) info.MediumName = "CD-ROM";
  }
  info.Capacity = std::max(info.Capacity, info.Used);
  record = info;
  return true;
}

}  // namespace fornax
