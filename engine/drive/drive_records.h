#pragma once
// Answers of the drive that the engine keeps, in host byte order, and the
// parsers that fill them from the drive's big-endian bytes.

#include <cstdint>
#include <string>

namespace fornax {

// READ TRACK INFORMATION (40 bytes asked for).
struct TTrackInfo {
  uint8_t Raw[40] = {};
  uint16_t DataLength = 0;
  uint32_t TrackStart = 0;
  uint32_t NextWritableAddress = 0;
  uint32_t FreeBlocks = 0;
  uint32_t FixedPacketSize = 0;
  uint32_t TrackSize = 0;
  uint32_t LastRecordedAddress = 0;
};
TTrackInfo ParseTrackInfo(const uint8_t* answer);

// READ DISC INFORMATION (56 bytes asked for).
struct TDiscInformation {
  uint8_t Raw[56] = {};
  uint16_t DataLength = 0;
  uint8_t DiscStatus() const { return Raw[2] & 0x03; }
  uint8_t LastSessionState() const { return (Raw[2] >> 2) & 0x03; }
  bool Erasable() const { return (Raw[2] & 0x10) != 0; }
  uint8_t FirstTrack() const { return Raw[3]; }
  uint8_t Sessions() const { return Raw[4]; }
  uint8_t LastTrackInLastSession() const { return Raw[6]; }
};
TDiscInformation ParseDiscInformation(const uint8_t* answer);

// READ FORMAT CAPACITIES: the block count the engine takes from the list.
uint32_t FormatCapacityBlocks(const uint8_t* answer);

// READ BUFFER CAPACITY: buffer length, and free length (the buffer length when
// the drive says FFFFFFFFh).
struct TBufferCapacity {
  uint32_t Size = 0;
  uint32_t Free = 0;
};
TBufferCapacity ParseBufferCapacity(const uint8_t* answer);

}  // namespace fornax
