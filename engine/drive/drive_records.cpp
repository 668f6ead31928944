#include "engine/drive/drive_records.h"

#include <cstring>

#include "engine/base/bytes.h"

namespace fornax {

TTrackInfo ParseTrackInfo(const uint8_t* answer) {
  TTrackInfo t;
  std::memcpy(t.Raw, answer, sizeof t.Raw);
  t.DataLength = GetBe16(answer);
  t.TrackStart = GetBe32(answer + 8);
  t.NextWritableAddress = GetBe32(answer + 12);
  t.FreeBlocks = GetBe32(answer + 16);
  t.FixedPacketSize = GetBe32(answer + 20);
  t.TrackSize = GetBe32(answer + 24);
  t.LastRecordedAddress = GetBe32(answer + 28);
  return t;
}

TDiscInformation ParseDiscInformation(const uint8_t* answer) {
  TDiscInformation d;
  std::memcpy(d.Raw, answer, sizeof d.Raw);
  d.DataLength = GetBe16(answer);
  return d;
}

uint32_t FormatCapacityBlocks(const uint8_t* a) {
  static const uint8_t kBlock2048[4] = {0x00, 0x00, 0x08, 0x00};
  static const uint8_t kPlusRwFormat[4] = {0x98, 0x00, 0x00, 0x00};
  if (std::memcmp(a + 8, kBlock2048, 4) == 0) return GetBe32(a + 4);
  if (std::memcmp(a + 16, kBlock2048, 4) == 0 || std::memcmp(a + 16, kPlusRwFormat, 4) == 0)
    return GetBe32(a + 12);
  if (std::memcmp(a + 24, kBlock2048, 4) == 0) return GetBe32(a + 20);
  return GetBe32(a + 4);
}

TBufferCapacity ParseBufferCapacity(const uint8_t* answer) {
  TBufferCapacity b;
  b.Size = GetBe32(answer + 4);
  b.Free = GetBe32(answer + 8);
  if (b.Free == 0xFFFFFFFFu) b.Free = b.Size;
  return b;
}

}  // namespace fornax
