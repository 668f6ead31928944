#pragma once
// A transport for tests: records every SRB the engine sends and answers
// through a function the test gives, so command blocks, flags and the
// engine's reading of answers are checked without a drive.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

#include "engine/base/bytes.h"
#include "engine/drive/srb.h"
#include "engine/drive/transport.h"

namespace fornax::test {

struct TSentCommand {
  uint8_t HaId = 0, Target = 0, Lun = 0, Flags = 0, CdbLength = 0;
  uint32_t DataLength = 0;
  std::vector<uint8_t> Cdb;      // CdbLength bytes
  std::vector<uint8_t> DataOut;  // what a data-out command carried
};

class TFakeDrive {
 public:
  using TResponder = std::function<void(SRB_ExecSCSICmd& srb)>;

  explicit TFakeDrive(uint8_t adapters = 1) : Adapters(adapters) {
    Current() = this;
    InstallTransport("FAKE", &Info, &Send);
  }
  ~TFakeDrive() {
    InstallTransport("", nullptr, nullptr);
    Current() = nullptr;
  }

  // Answers every command by default with GOOD and no data.
  uint8_t Adapters;
  TResponder Respond = [](SRB_ExecSCSICmd& srb) { srb.SRB_Status = SS_COMP; };
  std::vector<TSentCommand> Sent;

  static void Good(SRB_ExecSCSICmd& srb, const std::vector<uint8_t>& answer = {}) {
    if (srb.SRB_BufPointer && !answer.empty())
      std::memcpy(srb.SRB_BufPointer, answer.data(), std::min<size_t>(answer.size(), srb.SRB_BufLen));
    srb.SRB_Status = SS_COMP;
  }
  static void CheckCondition(SRB_ExecSCSICmd& srb, uint8_t key, uint8_t asc, uint8_t ascq) {
    srb.SRB_Status = SS_ERR;
    srb.SRB_TargStat = STATUS_CHKCOND;
    std::memset(srb.SenseArea, 0, sizeof srb.SenseArea);
    srb.SenseArea[0] = 0x70;
    srb.SenseArea[2] = key;
    srb.SenseArea[7] = 0x0A;
    srb.SenseArea[12] = asc;
    srb.SenseArea[13] = ascq;
  }
  // The commands with this opcode, in the order they were sent.
  std::vector<TSentCommand> WithOpcode(uint8_t opcode) const {
    std::vector<TSentCommand> out;
    for (const TSentCommand& c : Sent)
      if (!c.Cdb.empty() && c.Cdb[0] == opcode) out.push_back(c);
    return out;
  }

 private:
  static TFakeDrive*& Current() {
    static TFakeDrive* current = nullptr;
    return current;
  }
  static uint32_t Info() { return (uint32_t{SS_COMP} << 8) | Current()->Adapters; }
  static uint32_t Send(void* request) {
    TFakeDrive* self = Current();
    auto* header = static_cast<SRB_Header*>(request);
    if (header->SRB_Cmd == SC_HA_INQUIRY) {
      auto* srb = static_cast<SRB_HAInquiry*>(request);
      srb->HA_Count = self->Adapters;
      srb->SRB_Status = srb->SRB_HaId < self->Adapters ? SS_COMP : SS_INVALID_HA;
      std::memcpy(srb->HA_Identifier, "FAKE", 4);
      return srb->SRB_Status;
    }
    if (header->SRB_Cmd != SC_EXEC_SCSI_CMD) {
      header->SRB_Status = SS_ERR;
      return SS_ERR;
    }
    auto& srb = *static_cast<SRB_ExecSCSICmd*>(request);
    TSentCommand sent;
    sent.HaId = srb.SRB_HaId;
    sent.Target = srb.SRB_Target;
    sent.Lun = srb.SRB_Lun;
    sent.Flags = srb.SRB_Flags;
    sent.CdbLength = srb.SRB_CDBLen;
    sent.DataLength = srb.SRB_BufLen;
    sent.Cdb.assign(srb.CDBByte, srb.CDBByte + srb.SRB_CDBLen);
    if ((srb.SRB_Flags & SRB_DIR_OUT) && srb.SRB_BufPointer)
      sent.DataOut.assign(srb.SRB_BufPointer, srb.SRB_BufPointer + srb.SRB_BufLen);
    self->Sent.push_back(sent);
    self->Respond(srb);
    return srb.SRB_Status;
  }
};

// A standard INQUIRY answer of a CD/DVD drive.
inline std::vector<uint8_t> InquiryAnswer(const char* vendor, const char* product, const char* revision,
                                          uint8_t type = 0x05) {
  std::vector<uint8_t> a(36, ' ');
  a[0] = type;
  a[1] = 0x80;
  a[2] = 0x05;
  a[3] = 0x32;
  a[4] = 31;
  a[5] = a[6] = a[7] = 0;
  std::memcpy(&a[8], vendor, std::min<size_t>(8, std::strlen(vendor)));
  std::memcpy(&a[16], product, std::min<size_t>(16, std::strlen(product)));
  std::memcpy(&a[32], revision, std::min<size_t>(4, std::strlen(revision)));
  return a;
}

// A drive that only reads, answering as QEMU's emulated drives were measured
// to answer (scsi-cd; with IgnoresTocFormat and RefusesDefaultPage, ide-cd):
// no track information and no recording commands, a table of contents of
// complete sessions, the capabilities page, READ (10) of a disc held in
// memory. Without a disc every medium command says 02/3A/00, and REQUEST
// SENSE reports the last error once (scsi-cd) or again and again as F0h
// (ide-cd's stale sense, with StaleSense).
struct TReadOnlyDrive {
  std::vector<uint32_t> TrackStarts = {0};  // one track per session unless TracksInLastSession
  uint8_t TracksInLastSession = 1;
  uint32_t LeadOut = 302;
  uint16_t Profile = 0x0008;
  bool Empty = false;
  bool IgnoresTocFormat = false;    // the format comes from byte 9 bits 7-6 alone
  bool RefusesDefaultPage = false;  // MODE SENSE page control 2 refused
  bool StaleSense = false;
  bool UntoldTrack = false;         // READ TOC format 1 leaves the track (and ADR) 0, as QEMU's drives
  std::vector<uint8_t> Disc;        // the sectors READ (10) gives (zeros beyond)
  uint8_t Sense[18] = {};           // what REQUEST SENSE reports

  uint8_t Sessions() const {
    return static_cast<uint8_t>(TrackStarts.size() - TracksInLastSession + 1);
  }
  void Answer(SRB_ExecSCSICmd& srb) {
    const uint8_t op = srb.CDBByte[0];
    if (op == 0x12) return TFakeDrive::Good(srb, InquiryAnswer("QEMU", "QEMU DVD-ROM", "2.5+"));
    if (op == 0x03) return RequestSense(srb);
    if (op == 0x5A) return ModeSense(srb);
    if (op == 0x46) return Configuration(srb);
    if (Empty) return Refuse(srb, 0x02, 0x3A);
    switch (op) {
      case 0x00: return TFakeDrive::Good(srb);
      case 0x25: return Capacity(srb);
      case 0x28: return Read(srb);
      case 0x43: return Toc(srb);
      case 0x51: return DiscInformation(srb);
      default: return Refuse(srb, 0x05, 0x20);
    }
  }

 private:
  void Refuse(SRB_ExecSCSICmd& srb, uint8_t key, uint8_t asc) {
    TFakeDrive::CheckCondition(srb, key, asc, 0);
    std::memcpy(Sense, srb.SenseArea, sizeof Sense);
  }
  void RequestSense(SRB_ExecSCSICmd& srb) {
    std::vector<uint8_t> answer(Sense, Sense + sizeof Sense);
    if (StaleSense && answer[0] != 0) answer[0] = 0xF0;
    if (!StaleSense) std::memset(Sense, 0, sizeof Sense);
    TFakeDrive::Good(srb, answer);
  }
  void ModeSense(SRB_ExecSCSICmd& srb) {
    const uint8_t page = srb.CDBByte[2] & 0x3F, control = srb.CDBByte[2] >> 6;
    if (page != 0x2A || (control == 2 && RefusesDefaultPage)) return Refuse(srb, 0x05, 0x24);
    std::vector<uint8_t> answer(8 + 20, 0);
    PutBe16(answer.data(), static_cast<uint16_t>(answer.size() - 2));
    answer[8] = 0x2A;
    answer[9] = 0x12;
    answer[10] = 0x3B;  // reads CD-R, CD-RW, DVD-ROM, DVD-R, DVD-RAM; writes nothing
    PutBe16(&answer[16], 704);
    PutBe16(&answer[20], 512);
    TFakeDrive::Good(srb, answer);
  }
  void Configuration(SRB_ExecSCSICmd& srb) {
    std::vector<uint8_t> answer(8, 0);
    PutBe32(answer.data(), 4);
    PutBe16(&answer[6], Empty ? 0 : Profile);
    TFakeDrive::Good(srb, answer);
  }
  void Capacity(SRB_ExecSCSICmd& srb) {
    std::vector<uint8_t> answer(8, 0);
    PutBe32(answer.data(), LeadOut - 1);
    PutBe32(&answer[4], 2048);
    TFakeDrive::Good(srb, answer);
  }
  void Read(SRB_ExecSCSICmd& srb) {
    const uint32_t lba = GetBe32(srb.CDBByte + 2), count = GetBe16(srb.CDBByte + 7);
    if (lba + count > LeadOut) return Refuse(srb, 0x05, 0x21);
    std::memset(srb.SRB_BufPointer, 0, srb.SRB_BufLen);
    const size_t from = static_cast<size_t>(lba) * 2048;
    if (from < Disc.size())
      std::memcpy(srb.SRB_BufPointer, Disc.data() + from, std::min<size_t>(Disc.size() - from, count * 2048u));
    srb.SRB_Status = SS_COMP;
  }
  // A complete disc: its sessions, the first and last track of the last one.
  void DiscInformation(SRB_ExecSCSICmd& srb) {
    std::vector<uint8_t> answer(34, 0);
    answer[1] = 0x20;
    answer[2] = 0x0E;
    answer[3] = 1;
    answer[4] = Sessions();
    answer[5] = static_cast<uint8_t>(TrackStarts.size() - TracksInLastSession + 1);
    answer[6] = static_cast<uint8_t>(TrackStarts.size());
    TFakeDrive::Good(srb, answer);
  }
  void Toc(SRB_ExecSCSICmd& srb) {
    const uint8_t format = IgnoresTocFormat ? srb.CDBByte[9] >> 6 : srb.CDBByte[2] & 0x0F;
    if (format == 1) {
      std::vector<uint8_t> answer = {0x00, 0x0A, 1, Sessions(), 0, 0x14, 0, 0, 0, 0, 0, 0};
      const uint8_t track = static_cast<uint8_t>(TrackStarts.size() - TracksInLastSession + 1);
      PutBe32(&answer[8], TrackStarts[track - 1]);
      answer[5] = UntoldTrack ? 0 : 0x14;
      answer[6] = UntoldTrack ? 0 : track;
      return TFakeDrive::Good(srb, answer);
    }
    if (format != 0) return Refuse(srb, 0x05, 0x24);
    const uint8_t from = srb.CDBByte[6];
    const uint8_t tracks = static_cast<uint8_t>(TrackStarts.size());
    if (from > tracks && from != 0xAA) return Refuse(srb, 0x05, 0x24);
    std::vector<uint8_t> answer = {0, 0, 1, tracks};
    const auto entry = [&](uint8_t number, uint32_t start) {
      answer.insert(answer.end(), {0, 0x14, number, 0, 0, 0, 0, 0});
      PutBe32(&answer[answer.size() - 4], start);
    };
    for (uint8_t track = 1; track <= tracks && from != 0xAA; ++track)
      if (track >= from) entry(track, TrackStarts[track - 1]);
    entry(0xAA, LeadOut);
    PutBe16(answer.data(), static_cast<uint16_t>(answer.size() - 2));
    TFakeDrive::Good(srb, answer);
  }
};

}  // namespace fornax::test
