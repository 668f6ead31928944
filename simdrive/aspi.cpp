// The transport entry points: ASPI request blocks in, the drive behind them;
// and fornax_sim_execute, the same drive for a CDB without an SRB.
// One adapter with one drive at target 0, LUN 0; every command runs to its
// end before SendASPI32Command returns.

#include <algorithm>
#include <cstring>

#include "engine/drive/srb.h"
#include "simdrive/dispatch.h"
#include "simdrive/drive.h"
#include "simdrive/simdrive.h"

namespace fornax::sim {
namespace {

constexpr uint32_t kMaxTransfer = 0x00FF0000;
constexpr uint8_t kDeviceTypeCdDvd = 0x05;
constexpr uint8_t kDeviceTypeUnknown = 0x1F;

uint8_t Finish(void* srb, uint8_t status) {
  static_cast<SRB_Header*>(srb)->SRB_Status = status;
  return status;
}

void PutText(char* field, size_t width, const char* text) {
  std::memset(field, ' ', width);
  std::memcpy(field, text, std::min(width, std::strlen(text)));
}

uint8_t HostAdapterInquiry(SRB_HAInquiry* srb) {
  srb->HA_Count = 1;
  if (srb->SRB_HaId != 0) return Finish(srb, SS_INVALID_HA);
  srb->HA_SCSI_ID = 7;
  PutText(srb->HA_ManagerId, sizeof srb->HA_ManagerId, "FORNAX SIMDRIVE");
  std::memset(srb->HA_Identifier, 0, sizeof srb->HA_Identifier);
  std::memcpy(srb->HA_Identifier, "SIMULATED", 9);
  std::memset(srb->HA_Unique, 0, sizeof srb->HA_Unique);
  srb->HA_Unique[3] = 8;  // targets
  const uint32_t max_transfer = kMaxTransfer;
  std::memcpy(&srb->HA_Unique[4], &max_transfer, sizeof max_transfer);
  return Finish(srb, SS_COMP);
}

uint8_t GetDeviceType(SRB_GDEVBlock* srb) {
  const bool ours = srb->SRB_HaId == 0 && srb->SRB_Target == 0 && srb->SRB_Lun == 0;
  srb->SRB_DeviceType = ours ? kDeviceTypeCdDvd : kDeviceTypeUnknown;
  return Finish(srb, ours ? SS_COMP : SS_NO_DEVICE);
}

// The SRB itself does not fit the command: wrong direction, missing buffer.
bool MalformedSrb(const SRB_ExecSCSICmd* srb, const CommandEntry* entry) {
  if (srb->SRB_CDBLen == 0 || srb->SRB_CDBLen > SRB_CDB_BYTES) return true;
  if (srb->SRB_BufLen > 0 && srb->SRB_BufPointer == nullptr) return true;
  const uint8_t direction = srb->SRB_Flags & (SRB_DIR_IN | SRB_DIR_OUT);
  if (direction == (SRB_DIR_IN | SRB_DIR_OUT)) return true;
  if (entry == nullptr) return false;
  if (srb->SRB_CDBLen < entry->cdb_length) return true;
  if (direction == SRB_DIR_IN && entry->direction == DataDirection::kOut) return true;
  if (direction == SRB_DIR_OUT && entry->direction == DataDirection::kIn) return true;
  return false;
}

void CopySense(SRB_ExecSCSICmd* srb, const Sense& sense) {
  const auto bytes = EncodeSense(sense);
  const size_t n = std::min<size_t>({bytes.size(), srb->SRB_SenseLen, SRB_SENSE_AREA});
  std::memcpy(srb->SenseArea, bytes.data(), n);
}

uint8_t ExecuteScsiCommand(SRB_ExecSCSICmd* srb) {
  srb->SRB_HaStat = HASTAT_OK;
  srb->SRB_TargStat = STATUS_GOOD;
  if (srb->SRB_HaId != 0 || srb->SRB_Target != 0 || srb->SRB_Lun != 0) return Finish(srb, SS_NO_DEVICE);
  const CommandEntry* entry = FindCommand(srb->CDBByte[0]);
  if (MalformedSrb(srb, entry)) return Finish(srb, SS_INVALID_SRB);
  if (srb->SRB_BufLen > kMaxTransfer) return Finish(srb, SS_BUFFER_TOO_BIG);

  Command cmd;
  cmd.cdb = std::span<const uint8_t>(srb->CDBByte, srb->SRB_CDBLen);
  const bool out = entry != nullptr && entry->direction == DataDirection::kOut;
  if (out && srb->SRB_BufLen > 0) cmd.data_out = std::span<const uint8_t>(srb->SRB_BufPointer, srb->SRB_BufLen);
  if (!out) cmd.data_in_room = srb->SRB_BufLen;
  const Reply reply = Drive::Instance().Execute(cmd);

  switch (reply.status) {
    case Completion::kGood:
      if (!reply.data.empty())
        std::memcpy(srb->SRB_BufPointer, reply.data.data(), std::min<size_t>(reply.data.size(), srb->SRB_BufLen));
      return Finish(srb, SS_COMP);
    case Completion::kCheckCondition:
      srb->SRB_TargStat = STATUS_CHKCOND;
      CopySense(srb, reply.sense);
      return Finish(srb, SS_ERR);
    case Completion::kBusy: srb->SRB_TargStat = STATUS_BUSY; return Finish(srb, SS_ERR);
    case Completion::kTransferError: srb->SRB_HaStat = HASTAT_DO_DU; return Finish(srb, SS_ERR);
  }
  return Finish(srb, SS_ERR);
}

// The same command without an SRB, for a program that is not the engine
// (the LIO/TCMU handler). Direction: 0 none, 1 data-in, 2 data-out.
int ExecuteDirect(const uint8_t* cdb, size_t cdb_length, int direction, uint8_t* data, uint32_t length,
                  uint32_t* transferred, uint8_t* sense_out, size_t sense_length) {
  if (transferred != nullptr) *transferred = 0;
  auto check = [&](const Sense& s) {
    if (sense_out != nullptr && sense_length > 0) {
      const auto bytes = EncodeSense(s);
      std::memset(sense_out, 0, sense_length);
      std::memcpy(sense_out, bytes.data(), std::min(sense_length, bytes.size()));
    }
    return int{STATUS_CHKCOND};
  };
  if (cdb == nullptr || cdb_length == 0 || cdb_length > SRB_CDB_BYTES) return check(sense::InvalidFieldInCdb(0));
  if (length > 0 && data == nullptr) return check(sense::InvalidFieldInCdb(0));
  const CommandEntry* entry = FindCommand(cdb[0]);
  // An opcode the drive does not know goes to the drive all the same, which
  // answers 05/20/00 (after the same gates as through an SRB).
  if (entry != nullptr) {
    if (cdb_length < entry->cdb_length) return check(sense::InvalidFieldInCdb(0));
    const bool wrong_direction = (direction == 1 && entry->direction == DataDirection::kOut) ||
                                 (direction == 2 && entry->direction == DataDirection::kIn);
    if (wrong_direction && length > 0) return check(sense::InvalidFieldInCdb(0));
  }
  Command cmd;
  cmd.cdb = std::span<const uint8_t>(cdb, cdb_length);
  const bool out = direction == 2 && entry != nullptr && entry->direction == DataDirection::kOut;
  if (out && length > 0) cmd.data_out = std::span<const uint8_t>(data, length);
  if (direction == 1) cmd.data_in_room = length;
  const Reply reply = Drive::Instance().Execute(cmd);
  switch (reply.status) {
    case Completion::kGood: {
      if (direction == 1) {
        const auto n = static_cast<uint32_t>(std::min<size_t>(reply.data.size(), length));
        if (n > 0) std::memcpy(data, reply.data.data(), n);
        if (transferred != nullptr) *transferred = n;
      } else if (direction == 2 && transferred != nullptr) {
        *transferred = reply.taken >= 0 ? static_cast<uint32_t>(std::min<int64_t>(reply.taken, length)) : length;
      }
      return STATUS_GOOD;
    }
    case Completion::kCheckCondition: return check(reply.sense);
    case Completion::kBusy: return STATUS_BUSY;
    // The buffer does not hold what the CDB's transfer length moves.
    case Completion::kTransferError: return check(sense::InvalidFieldInCdb(7));
  }
  return check(sense::kInternalTargetFailure);
}

}  // namespace
}  // namespace fornax::sim

using namespace fornax::sim;

extern "C" __attribute__((visibility("default"))) int fornax_sim_execute(const uint8_t* cdb, size_t cdb_length,
                                                                          int direction, uint8_t* data,
                                                                          uint32_t length, uint32_t* transferred,
                                                                          uint8_t* sense, size_t sense_length) {
  return ExecuteDirect(cdb, cdb_length, direction, data, length, transferred, sense, sense_length);
}

extern "C" __attribute__((visibility("default"))) uint32_t GetASPI32SupportInfo(void) {
  return 0x0101;  // done, one adapter
}

extern "C" __attribute__((visibility("default"))) uint32_t SendASPI32Command(void* srb) {
  if (srb == nullptr) return SS_ERR;
  switch (static_cast<SRB_Header*>(srb)->SRB_Cmd) {
    case SC_HA_INQUIRY: return HostAdapterInquiry(static_cast<SRB_HAInquiry*>(srb));
    case SC_GET_DEV_TYPE: return GetDeviceType(static_cast<SRB_GDEVBlock*>(srb));
    case SC_EXEC_SCSI_CMD: return ExecuteScsiCommand(static_cast<SRB_ExecSCSICmd*>(srb));
    case SC_GET_DISK_INFO: return Finish(srb, SS_ERR);  // no device node behind this drive
    default: return Finish(srb, SS_INVALID_CMD);
  }
}
