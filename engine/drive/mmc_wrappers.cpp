// The MMC commands of the device component: each fills one SRB from its
// command block, runs it, and keeps what the engine reads of the answer.

#include <cstring>
#include <fmt/format.h>
#include <vector>

#include "engine/base/bytes.h"
#include "engine/drive/scsi_device.h"
#include "engine/drive/transport.h"

namespace fornax {

bool TSCSIDevice::Run(const TCommand& command, uint8_t* data, bool acceptPending) {
  SRB_ExecSCSICmd srb{};
  srb.SRB_Flags = command.Flags;
  srb.SRB_BufLen = command.DataLength;
  srb.SRB_BufPointer = command.DataLength ? data : nullptr;
  srb.SRB_CDBLen = command.Length;
  std::memcpy(srb.CDBByte, command.Cdb, sizeof srb.CDBByte);
  // A command that never reached a drive leaves its status pending; that is
  // no success, even for a write.
  if (ExecuteCommand(srb, command.TimeoutMs) != 1) return false;
  return srb.SRB_Status == SS_COMP || (acceptPending && srb.SRB_Status == SS_PENDING);
}

bool TSCSIDevice::TestUnitReady(uint32_t timeoutMs) { return Run(mmc::TestUnitReady(timeoutMs), nullptr); }

bool TSCSIDevice::RewindUnit() { return Run(mmc::RewindUnit(), nullptr); }

bool TSCSIDevice::RequestSense(uint8_t* buffer, uint8_t length) {
  return Run(mmc::RequestSense(length), buffer);
}

bool TSCSIDevice::FormatUnit(uint8_t formatBits, const uint8_t* list, uint32_t length) {
  std::vector<uint8_t> data(list, list + length);
  return Run(mmc::FormatUnit(formatBits, length), data.data());
}

bool TSCSIDevice::Inquiry() { return Run(mmc::Inquiry(), FInquiry); }

bool TSCSIDevice::EjectMedium() {
  SetCloseAfterCommand(true);
  const bool ok = Run(mmc::StartStopUnit(false), nullptr);
  SetCloseAfterCommand(false);
  return ok;
}

bool TSCSIDevice::LoadMedium() {
  SetCloseAfterCommand(true);
  const bool ok = Run(mmc::StartStopUnit(true), nullptr);
  SetCloseAfterCommand(false);
  return ok;
}

bool TSCSIDevice::PreventAllowMediumRemoval(bool prevent) {
  if (!prevent) SetCloseAfterCommand(true);
  const bool ok = Run(mmc::PreventAllowMediumRemoval(prevent), nullptr);
  if (!prevent) SetCloseAfterCommand(false);
  return ok;
}

bool TSCSIDevice::ReadFormatCapacities(uint32_t& blockCount, uint32_t& blockSize) {
  alignas(16) uint8_t answer[248] = {};
  if (!Run(mmc::ReadFormatCapacities(), answer)) return false;
  blockCount = FormatCapacityBlocks(answer);
  blockSize = 2048;
  return true;
}

bool TSCSIDevice::ReadCapacity(uint32_t& lastAddress, uint32_t& blockLength) {
  alignas(16) uint8_t answer[32] = {};
  if (!Run(mmc::ReadCapacity(), answer)) return false;
  lastAddress = GetBe32(answer);
  blockLength = GetBe32(answer + 4);
  return true;
}

bool TSCSIDevice::ReadSectors(uint32_t address, uint16_t blocks, uint8_t* buffer, uint32_t length) {
  return Run(mmc::Read10(address, blocks, length), buffer);
}

bool TSCSIDevice::Write10(uint32_t address, uint16_t blocks, const uint8_t* buffer, uint32_t length,
                          uint8_t flags) {
  return Run(mmc::Write10(address, blocks, length, flags), const_cast<uint8_t*>(buffer), true);
}

bool TSCSIDevice::SynchronizeCache(bool immediate, uint32_t timeoutMs) {
  return Run(mmc::SynchronizeCache(immediate, timeoutMs), nullptr);
}

bool TSCSIDevice::ReadToc(bool msf, uint8_t format, uint8_t trackOrSession, uint8_t* buffer,
                          uint32_t length, uint8_t control) {
  if (length > 255) return false;  // the allocation length is one byte here
  return Run(mmc::ReadToc(msf, format, trackOrSession, static_cast<uint8_t>(length), control), buffer);
}

bool TSCSIDevice::GetConfiguration(uint8_t requestType, uint8_t startingFeature, uint8_t* buffer,
                                   uint16_t length) {
  return Run(mmc::GetConfiguration(requestType, startingFeature, length), buffer);
}

bool TSCSIDevice::ReadDiscInformation(uint8_t* buffer, uint16_t length) {
  alignas(16) uint8_t answer[56] = {};
  const uint16_t asked = std::min<uint16_t>(length, sizeof answer);
  if (!Run(mmc::ReadDiscInformation(asked), answer)) return false;
  FDiscInformation = ParseDiscInformation(answer);
  if (buffer) std::memcpy(buffer, answer, asked);
  return true;
}

bool TSCSIDevice::ReadTrackInfo(uint8_t track) {
  alignas(16) uint8_t answer[40] = {};
  if (!Run(mmc::ReadTrackInformation(track), answer)) return false;
  FTrackInfo = ParseTrackInfo(answer);
  return true;
}

bool TSCSIDevice::ReserveTrack(uint32_t blocks) { return Run(mmc::ReserveTrack(blocks), nullptr); }

bool TSCSIDevice::SendOpcInformation() { return Run(mmc::SendOpcInformation(), nullptr); }

bool TSCSIDevice::ModeSelect10(const uint8_t* list, uint32_t length) {
  if (length > 255) return false;
  std::vector<uint8_t> transfer(65536, 0);
  std::memcpy(transfer.data(), list, length);
  return Run(mmc::ModeSelect10(static_cast<uint8_t>(length)), transfer.data());
}

bool TSCSIDevice::ModeSense10(uint8_t page, bool defaults, uint8_t* buffer, uint16_t length) {
  std::memset(buffer, 0, length);
  std::vector<uint8_t> transfer(65536, 0);
  if (!Run(mmc::ModeSense10(page, defaults, length), transfer.data())) return false;
  std::memcpy(buffer, transfer.data(), length);
  return true;
}

bool TSCSIDevice::CloseTrackSession(bool immediate, bool closeTrack, bool finalize) {
  return Run(mmc::CloseTrackSession(immediate, closeTrack, finalize), nullptr);
}

bool TSCSIDevice::CloseTrackSessionFunction(bool immediate, uint8_t function, uint8_t byte3,
                                            uint8_t byte4, uint8_t byte5) {
  return Run(mmc::CloseTrackSessionFunction(immediate, function, byte3, byte4, byte5), nullptr);
}

bool TSCSIDevice::ReadBufferCapacity() {
  alignas(16) uint8_t answer[32] = {};
  if (!Run(mmc::ReadBufferCapacity(), answer)) {
    DeviceFreeBufferSize = 0;
    return false;
  }
  const TBufferCapacity capacity = ParseBufferCapacity(answer);
  DeviceBufferSize = capacity.Size;
  DeviceFreeBufferSize = capacity.Free;
  return true;
}

bool TSCSIDevice::SetStreaming(const uint8_t* descriptor, uint16_t length) {
  std::vector<uint8_t> data(descriptor, descriptor + length);
  return Run(mmc::SetStreaming(length), data.data());
}

bool TSCSIDevice::SetStreamingSpeeds(uint32_t startAddress, uint32_t endAddress, uint32_t readSize,
                                     uint32_t readTimeMs, uint32_t writeSize, uint32_t writeTimeMs) {
  alignas(16) uint8_t descriptor[28] = {};
  PutBe32(descriptor + 4, startAddress);
  PutBe32(descriptor + 8, endAddress);
  PutBe32(descriptor + 12, readSize);
  PutBe32(descriptor + 16, readTimeMs);
  PutBe32(descriptor + 20, writeSize);
  PutBe32(descriptor + 24, writeTimeMs);
  return SetStreaming(descriptor, sizeof descriptor);
}

bool TSCSIDevice::SetCdSpeed(uint16_t readSpeed, uint16_t writeSpeed) {
  return Run(mmc::SetCdSpeed(readSpeed, writeSpeed), nullptr);
}

bool TSCSIDevice::SendDvdStructure(uint8_t format, const uint8_t* buffer, uint16_t length) {
  std::vector<uint8_t> data(buffer, buffer + length);
  return Run(mmc::SendDvdStructure(format, length), data.data());
}

bool TSCSIDevice::SendTimeStamp(TDateTime dateTime) {
  alignas(16) uint8_t list[22] = {};
  PutBe16(list, 20);
  const TDateTimeParts p = DecodeDateTime(dateTime);
  const std::string stamp =
      fmt::format("{:04d}{:02d}{:02d}{:02d}{:02d}{:02d}", p.Year, p.Month, p.Day, p.Hour, p.Minute, p.Second);
  std::memcpy(list + 8, stamp.data(), 14);
  return SendDvdStructure(0x0F, list, sizeof list);
}

void TSCSIDevice::ReleaseHandleAfterCommand(bool on) { SetCloseAfterCommand(on); }

}  // namespace fornax
