#include "engine/drive/mmc_commands.h"

#include "engine/base/bytes.h"

namespace fornax::mmc {
namespace {

TCommand Make(uint8_t opcode, uint8_t length, uint8_t flags, uint32_t data, uint32_t timeoutMs) {
  TCommand c;
  c.Cdb[0] = opcode;
  c.Length = length;
  c.Flags = flags;
  c.DataLength = data;
  c.TimeoutMs = timeoutMs;
  return c;
}

}  // namespace

TCommand TestUnitReady(uint32_t timeoutMs) { return Make(0x00, 6, kNoData, 0, timeoutMs); }

TCommand RewindUnit() { return Make(0x01, 6, kNoData, 0, 10000); }

TCommand RequestSense(uint8_t length) {
  TCommand c = Make(0x03, 6, kDataIn, length, 10000);
  c.Cdb[4] = length;
  return c;
}

TCommand FormatUnit(uint8_t formatBits, uint32_t listLength) {
  TCommand c = Make(0x04, 6, kDataOut, listLength, 10000);
  c.Cdb[1] = formatBits;
  return c;
}

TCommand Inquiry() {
  TCommand c = Make(0x12, 6, kDataIn, 128, 10000);
  c.Cdb[4] = 128;
  return c;
}

TCommand StartStopUnit(bool load) {
  TCommand c = Make(0x1B, 6, kNoData, 0, 20000);
  c.Cdb[4] = load ? 3 : 2;
  return c;
}

TCommand PreventAllowMediumRemoval(bool prevent) {
  TCommand c = Make(0x1E, 6, kNoData, 0, 10000);
  c.Cdb[4] = prevent ? 1 : 0;
  return c;
}

TCommand ReadFormatCapacities() {
  TCommand c = Make(0x23, 10, kDataIn, 248, 10000);
  c.Cdb[8] = 248;
  return c;
}

TCommand ReadCapacity() { return Make(0x25, 10, kDataIn, 8, 10000); }

TCommand Read10(uint32_t address, uint16_t blocks, uint32_t length) {
  TCommand c = Make(0x28, 10, kDataIn, length, 10000);
  PutBe32(&c.Cdb[2], address);
  PutBe16(&c.Cdb[7], blocks);
  return c;
}

TCommand Write10(uint32_t address, uint16_t blocks, uint32_t length, uint8_t flags) {
  TCommand c = Make(0x2A, 10, flags, length, 120000);
  PutBe32(&c.Cdb[2], address);
  PutBe16(&c.Cdb[7], blocks);
  return c;
}

TCommand SynchronizeCache(bool immediate, uint32_t timeoutMs) {
  TCommand c = Make(0x35, 10, kNoData, 0, timeoutMs);
  c.Cdb[1] = immediate ? 2 : 0;
  return c;
}

TCommand ReadToc(bool msf, uint8_t format, uint8_t trackOrSession, uint8_t length, uint8_t control) {
  TCommand c = Make(0x43, 10, kDataIn, length, 10000);
  c.Cdb[1] = msf ? 2 : 0;
  c.Cdb[2] = format;
  c.Cdb[6] = trackOrSession;
  c.Cdb[8] = length;
  c.Cdb[9] = control;
  return c;
}

TCommand GetConfiguration(uint8_t requestType, uint8_t startingFeature, uint16_t length) {
  TCommand c = Make(0x46, 10, kDataIn, length, 30000);
  c.Cdb[1] = requestType;
  c.Cdb[3] = startingFeature;
  c.Cdb[8] = static_cast<uint8_t>(length);
  return c;
}

TCommand ReadDiscInformation(uint16_t length) {
  TCommand c = Make(0x51, 10, kDataIn, length, 10000);
  c.Cdb[8] = static_cast<uint8_t>(length);
  return c;
}

TCommand ReadTrackInformation(uint8_t track) {
  TCommand c = Make(0x52, 10, kDataIn, 40, 60000);
  c.Cdb[1] = 1;
  c.Cdb[5] = track;
  c.Cdb[8] = 40;
  return c;
}

TCommand ReserveTrack(uint32_t blocks) {
  TCommand c = Make(0x53, 12, kNoData, 0, 10000);
  PutBe32(&c.Cdb[5], blocks);
  return c;
}

TCommand SendOpcInformation() {
  TCommand c = Make(0x54, 10, kNoData, 0, 150000);
  c.Cdb[1] = 1;
  return c;
}

TCommand ModeSelect10(uint8_t listLength) {
  TCommand c = Make(0x55, 10, kDataOut, listLength, 10000);
  c.Cdb[1] = 0x10;
  c.Cdb[8] = listLength;
  return c;
}

TCommand ModeSense10(uint8_t page, bool defaults, uint16_t length) {
  TCommand c = Make(0x5A, 10, kDataIn, length, 20000);
  c.Cdb[2] = static_cast<uint8_t>(page | (defaults ? 0x80 : 0));
  PutBe16(&c.Cdb[7], length);
  return c;
}

TCommand CloseTrackSession(bool immediate, bool closeTrack, bool finalize) {
  TCommand c = Make(0x5B, 10, kNoData, 0, 180000);
  c.Cdb[1] = immediate ? 1 : 0;
  c.Cdb[2] = finalize ? 5 : closeTrack ? 1 : 2;
  if (closeTrack) c.Cdb[5] = 0xFF;
  return c;
}

TCommand CloseTrackSessionFunction(bool immediate, uint8_t function, uint8_t byte3, uint8_t byte4,
                                   uint8_t byte5) {
  TCommand c = Make(0x5B, 10, kNoData, 0, 180000);
  c.Cdb[1] = immediate ? 1 : 0;
  c.Cdb[2] = function;
  c.Cdb[3] = byte3;
  c.Cdb[4] = byte4;
  c.Cdb[5] = byte5;
  return c;
}

TCommand ReadBufferCapacity() {
  TCommand c = Make(0x5C, 10, kDataIn, 32, 10000);
  c.Cdb[8] = 32;
  return c;
}

TCommand SetStreaming(uint16_t listLength) {
  TCommand c = Make(0xB6, 12, kDataOut, listLength, 10000);
  PutBe16(&c.Cdb[9], listLength);
  return c;
}

TCommand SetCdSpeed(uint16_t readSpeed, uint16_t writeSpeed) {
  TCommand c = Make(0xBB, 12, kNoData, 0, 10000);
  PutBe16(&c.Cdb[2], readSpeed == 0 ? 0xFFFF : readSpeed);
  PutBe16(&c.Cdb[4], writeSpeed == 0 ? 0xFFFF : writeSpeed);
  return c;
}

TCommand SendDvdStructure(uint8_t format, uint16_t length) {
  TCommand c = Make(0xBF, 12, kDataOut, length, 10000);
  c.Cdb[7] = format;
  PutBe16(&c.Cdb[8], length);
  return c;
}

TCommand Blank(bool immediate, uint8_t type) {
  TCommand c = Make(0xA1, 12, kNoData, 0, 4800000);
  c.Cdb[1] = static_cast<uint8_t>((immediate ? 0x10 : 0) | (type & 0x07));
  return c;
}

}  // namespace fornax::mmc
