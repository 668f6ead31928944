#pragma once
// Command blocks of every MMC command the engine sends: the CDB bytes, the
// data direction, the data length and the time-out, as pure values.

#include <cstdint>

namespace fornax {

struct TCommand {
  uint8_t Cdb[16] = {};
  uint8_t Length = 0;    // 6, 10 or 12
  uint8_t Flags = 0;     // SRB flags: event bit, and 0x08 in / 0x10 out
  uint32_t DataLength = 0;
  uint32_t TimeoutMs = 0;
};

// Data directions, always with the event bit.
inline constexpr uint8_t kNoData = 0x40;
inline constexpr uint8_t kDataIn = 0x48;
inline constexpr uint8_t kDataOut = 0x50;

namespace mmc {

TCommand TestUnitReady(uint32_t timeoutMs);
TCommand RewindUnit();
TCommand RequestSense(uint8_t length);
TCommand FormatUnit(uint8_t formatBits, uint32_t listLength);
TCommand Inquiry();
TCommand StartStopUnit(bool load);
TCommand PreventAllowMediumRemoval(bool prevent);
TCommand ReadFormatCapacities();
TCommand ReadCapacity();
TCommand Read10(uint32_t address, uint16_t blocks, uint32_t length);
TCommand Write10(uint32_t address, uint16_t blocks, uint32_t length, uint8_t flags);
TCommand SynchronizeCache(bool immediate, uint32_t timeoutMs);
TCommand ReadToc(bool msf, uint8_t format, uint8_t trackOrSession, uint8_t length, uint8_t control);
TCommand GetConfiguration(uint8_t requestType, uint8_t startingFeature, uint16_t length);
TCommand ReadDiscInformation(uint16_t length);
TCommand ReadTrackInformation(uint8_t track);
TCommand ReserveTrack(uint32_t blocks);
TCommand SendOpcInformation();
TCommand ModeSelect10(uint8_t listLength);
TCommand ModeSense10(uint8_t page, bool defaults, uint16_t length);
// The engine's form: close a track (finalize clear) or the session, or, with
// finalize, function 5.
TCommand CloseTrackSession(bool immediate, bool closeTrack, bool finalize);
TCommand CloseTrackSessionFunction(bool immediate, uint8_t function, uint8_t byte3, uint8_t byte4,
                                   uint8_t byte5);
TCommand ReadBufferCapacity();
TCommand SetStreaming(uint16_t listLength);
// Speeds in KB/s; 0 asks for the drive's maximum.
TCommand SetCdSpeed(uint16_t readSpeed, uint16_t writeSpeed);
TCommand SendDvdStructure(uint8_t format, uint16_t length);
// BLANK: type 0 the whole disc, 1 the minimal blank.
TCommand Blank(bool immediate, uint8_t type);

}  // namespace mmc
}  // namespace fornax
