#pragma once
// A transport for tests: records every SRB the engine sends and answers
// through a function the test gives, so command blocks, flags and the
// engine's reading of answers are checked without a drive.

#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

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
    if (srb.SRB_BufPointer)
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

}  // namespace fornax::test
