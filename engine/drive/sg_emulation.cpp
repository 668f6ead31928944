#include "engine/drive/sg_emulation.h"

#include <dirent.h>
#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "engine/drive/srb.h"

namespace fornax {
namespace {

constexpr unsigned kPassThroughTimeoutMs = 120000;
constexpr uint8_t kNoAddressMarker = 250;
constexpr char kManagerId[] = "FORNAX SG_IO EMU";  // 16 characters
constexpr uint32_t kDefaultMaxTransfer = 0x00FF0000;

// The largest transfer the kernel passes to the drive in one command.
uint32_t MaxTransferOf(int index) {
  const std::string path = "/sys/class/block/sr" + std::to_string(index) + "/queue/max_hw_sectors_kb";
  FILE* file = std::fopen(path.c_str(), "r");
  if (!file) return kDefaultMaxTransfer;
  unsigned kilobytes = 0;
  const bool read = std::fscanf(file, "%u", &kilobytes) == 1;
  std::fclose(file);
  return read && kilobytes > 0 ? std::min<uint32_t>(kilobytes * 1024u, kDefaultMaxTransfer) : kDefaultMaxTransfer;
}

struct TDriveEntry {
  uint8_t Adapter = 0, Target = 0, Lun = 0;
  int Index = 0;  // the N of /dev/srN
  bool Present = false;
  int Handle = -1;
  uint8_t Inquiry[40] = {};
  uint32_t MaxTransfer = kDefaultMaxTransfer;
};

struct TEmulation {
  std::mutex Lock;
  bool Started = false;
  std::vector<TDriveEntry> Drives;
  int AdapterCount = 0;
  bool CloseAfterCommand = false;
};

TEmulation& State() {
  static TEmulation state;
  return state;
}

std::string DevicePath(int index) { return "/dev/sr" + std::to_string(index); }

// Read/write first; a drive that only allows reading is still a drive.
int OpenDrive(int index) {
  const std::string path = DevicePath(index);
  int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  return fd;
}

struct TPassThrough {
  bool Sent = false;
  int Error = 0;  // errno when the kernel did not take the request
  uint8_t ScsiStatus = 0;
  uint8_t HostStatus = 0;
  uint8_t Sense[32] = {};
};

TPassThrough PassThrough(int fd, const uint8_t* cdb, uint8_t cdbLength, uint8_t flags,
                         uint8_t* data, uint32_t length) {
  TPassThrough result;
  sg_io_hdr_t io {};
  io.interface_id = 'S';
  io.cmd_len = cdbLength;
  io.cmdp = const_cast<uint8_t*>(cdb);
  io.mx_sb_len = sizeof result.Sense;
  io.sbp = result.Sense;
  io.dxfer_direction = (flags & SRB_DIR_IN) ? SG_DXFER_FROM_DEV
                       : (flags & SRB_DIR_OUT) ? SG_DXFER_TO_DEV
                                               : SG_DXFER_NONE;
  if (io.dxfer_direction == SG_DXFER_NONE) length = 0;
  io.dxfer_len = length;
  io.dxferp = length ? data : nullptr;
  io.timeout = kPassThroughTimeoutMs;
  if (::ioctl(fd, SG_IO, &io) < 0) {
    result.Error = errno;
    return result;
  }
  result.Sent = true;
  result.ScsiStatus = io.status & 0xFE;
  // The kernel's view of a transport failure, in the host adapter's words.
  if (io.host_status == 0x03) result.HostStatus = HASTAT_TIMEOUT;          // time-out
  else if (io.host_status == 0x01 || io.host_status == 0x04) result.HostStatus = HASTAT_SEL_TO;
  else if (io.host_status != 0) result.HostStatus = HASTAT_BUS_RESET;
  return result;
}

bool Probe(TDriveEntry& entry) {
  const int fd = OpenDrive(entry.Index);
  if (fd < 0) return false;
  uint8_t cdb[6] = {0x12, 0, 0, 0, 96, 0};
  uint8_t answer[96] = {};
  const TPassThrough sent = PassThrough(fd, cdb, 6, SRB_DIR_IN, answer, sizeof answer);
  ::close(fd);
  if (!sent.Sent || sent.ScsiStatus != 0 || sent.HostStatus != 0) return false;
  std::memcpy(entry.Inquiry, answer, sizeof entry.Inquiry);
  entry.Present = true;
  return true;
}

std::vector<int> DriveIndexes() {
  std::vector<int> indexes;
  DIR* dir = ::opendir("/sys/class/block");
  if (dir) {
    while (const dirent* item = ::readdir(dir)) {
      int n = 0;
      char rest = 0;
      if (std::sscanf(item->d_name, "sr%d%c", &n, &rest) == 1) indexes.push_back(n);
    }
    ::closedir(dir);
  }
  if (indexes.empty()) {
    // No sysfs (a container): look at the device nodes themselves.
    for (int n = 0; n < 32; ++n)
      if (::access(DevicePath(n).c_str(), F_OK) == 0) indexes.push_back(n);
  }
  std::sort(indexes.begin(), indexes.end());
  return indexes;
}

bool IoctlScsiAddress(int index, int& host, int& target, int& lun) {
  const int fd = OpenDrive(index);
  if (fd < 0) return false;
  struct {
    int DevId;
    int HostUniqueId;
  } idlun {};
  const bool ok = ::ioctl(fd, 0x5382 /* SCSI_IOCTL_GET_IDLUN */, &idlun) == 0;
  ::close(fd);
  if (!ok) return false;
  target = idlun.DevId & 0xFF;
  lun = (idlun.DevId >> 8) & 0xFF;
  host = (idlun.DevId >> 24) & 0xFF;
  return true;
}

TDriveEntry* Find(TEmulation& state, uint8_t adapter, uint8_t target, uint8_t lun) {
  for (TDriveEntry& entry : state.Drives)
    if (entry.Present && entry.Adapter == adapter && entry.Target == target && entry.Lun == lun)
      return &entry;
  return nullptr;
}

int HighestAdapterPlusOne(const std::vector<TDriveEntry>& drives) {
  int count = 0;
  for (const TDriveEntry& entry : drives)
    if (entry.Present) count = std::max(count, entry.Adapter + 1);
  return count;
}

uint32_t HostAdapterInquiry(TEmulation& state, SRB_HAInquiry& srb) {
  srb.HA_Count = static_cast<uint8_t>(state.AdapterCount);
  if (srb.SRB_HaId >= state.AdapterCount) {
    srb.SRB_Status = SS_INVALID_HA;
    return srb.SRB_Status;
  }
  srb.HA_SCSI_ID = 7;
  std::memcpy(srb.HA_ManagerId, kManagerId, 16);
  std::memset(srb.HA_Identifier, 0, 16);
  std::snprintf(srb.HA_Identifier, 16, "SPTI %d", srb.SRB_HaId);
  std::memset(srb.HA_Unique, 0, 16);
  srb.HA_Unique[0] = 0x07;  // buffer alignment mask 0x0007
  srb.HA_Unique[3] = 8;     // targets
  // The maximum transfer: what the smallest queue of the adapter's drives takes.
  uint32_t maxTransfer = kDefaultMaxTransfer;
  for (const TDriveEntry& entry : state.Drives)
    if (entry.Present && entry.Adapter == srb.SRB_HaId) maxTransfer = std::min(maxTransfer, entry.MaxTransfer);
  for (int i = 0; i < 4; ++i) srb.HA_Unique[4 + i] = static_cast<uint8_t>(maxTransfer >> (8 * i));
  srb.SRB_Status = SS_COMP;
  return srb.SRB_Status;
}

uint32_t Execute(TEmulation& state, SRB_ExecSCSICmd& srb) {
  TDriveEntry* entry = Find(state, srb.SRB_HaId, srb.SRB_Target, srb.SRB_Lun);
  if (!entry) {
    srb.SRB_Status = SS_NO_DEVICE;
    return srb.SRB_Status;
  }
  if (srb.CDBByte[0] == 0x12) {
    // Answered from what the drive said at start-up, without disturbing it.
    if (srb.SRB_HaId >= state.AdapterCount) {
      srb.SRB_Status = SS_INVALID_HA;
      return srb.SRB_Status;
    }
    if (srb.SRB_BufPointer) std::memcpy(srb.SRB_BufPointer, entry->Inquiry, std::min<uint32_t>(36, srb.SRB_BufLen));
    srb.SRB_Status = SS_COMP;
    return srb.SRB_Status;
  }
  if (srb.SRB_BufLen > entry->MaxTransfer) {
    // The kernel would refuse it with a bare EIO; say what is wrong.
    srb.SRB_Status = SS_BUFFER_TOO_BIG;
    return srb.SRB_Status;
  }
  if (entry->Handle < 0) entry->Handle = OpenDrive(entry->Index);
  TPassThrough sent;
  if (entry->Handle >= 0)
    sent = PassThrough(entry->Handle, srb.CDBByte, srb.SRB_CDBLen, srb.SRB_Flags, srb.SRB_BufPointer,
                       srb.SRB_BufLen);
  if (sent.Sent && sent.ScsiStatus == 0 && sent.HostStatus == 0) {
    srb.SRB_Status = SS_COMP;
  } else if (!sent.Sent) {
    // The request never reached the drive: gone, or refused by the kernel.
    const bool gone = entry->Handle < 0 || sent.Error == ENODEV || sent.Error == ENXIO || sent.Error == ENOENT;
    srb.SRB_Status = gone ? SS_NO_DEVICE : SS_ERR;
    srb.SRB_HaStat = gone ? HASTAT_OK : HASTAT_SEL_TO;
  } else {
    srb.SRB_Status = SS_ERR;
    std::memcpy(srb.SenseArea, sent.Sense, std::min<size_t>(srb.SRB_SenseLen, SRB_SENSE_AREA));
    srb.SRB_TargStat = sent.ScsiStatus;
    srb.SRB_HaStat = sent.HostStatus;
  }
  if (state.CloseAfterCommand && entry->Handle >= 0) {
    ::close(entry->Handle);
    entry->Handle = -1;
  }
  return srb.SRB_Status;
}

}  // namespace

bool SysfsScsiAddress(const std::string& blockName, int& host, int& target, int& lun) {
  char link[512] = {};
  const std::string path = "/sys/class/block/" + blockName + "/device";
  const ssize_t n = ::readlink(path.c_str(), link, sizeof link - 1);
  if (n <= 0) return false;
  const std::string target_path(link, static_cast<size_t>(n));
  const std::string name = target_path.substr(target_path.rfind('/') + 1);
  int channel = 0;
  return std::sscanf(name.c_str(), "%d:%d:%d:%d", &host, &channel, &target, &lun) == 4;
}

int EmulationStartup() {
  TEmulation& state = State();
  std::lock_guard<std::mutex> lock(state.Lock);
  if (state.Started) return 0;
  state.Started = true;
  state.Drives.clear();
  int found = 0, unaddressed = 0;
  for (const int index : DriveIndexes()) {
    TDriveEntry entry;
    entry.Index = index;
    if (!Probe(entry)) continue;
    entry.MaxTransfer = MaxTransferOf(index);
    int host = 0, target = 0, lun = 0;
    if (SysfsScsiAddress("sr" + std::to_string(index), host, target, lun) ||
        IoctlScsiAddress(index, host, target, lun)) {
      entry.Adapter = static_cast<uint8_t>(host);
      entry.Target = static_cast<uint8_t>(target);
      entry.Lun = static_cast<uint8_t>(lun);
    } else {
      entry.Adapter = 0;
      entry.Target = static_cast<uint8_t>(unaddressed++);
      entry.Lun = kNoAddressMarker;
    }
    state.Drives.push_back(entry);
    ++found;
  }
  state.AdapterCount = HighestAdapterPlusOne(state.Drives);
  // Drives without an address gather on one more adapter of their own.
  if (unaddressed > 0) {
    for (TDriveEntry& entry : state.Drives) {
      if (entry.Lun != kNoAddressMarker) continue;
      entry.Lun = 0;
      entry.Adapter = static_cast<uint8_t>(state.AdapterCount);
    }
    state.AdapterCount = HighestAdapterPlusOne(state.Drives);
  }
  return found;
}

void EmulationShutdown() {
  TEmulation& state = State();
  std::lock_guard<std::mutex> lock(state.Lock);
  for (TDriveEntry& entry : state.Drives)
    if (entry.Handle >= 0) ::close(entry.Handle);
  state.Drives.clear();
  state.AdapterCount = 0;
  state.Started = false;
}

bool EmulationStarted() {
  std::lock_guard<std::mutex> lock(State().Lock);
  return State().Started;
}

uint32_t EmulationGetSupportInfo() {
  std::lock_guard<std::mutex> lock(State().Lock);
  const int count = State().AdapterCount;
  if (count > 0) return (static_cast<uint32_t>(SS_COMP) << 8) | static_cast<uint8_t>(count);
  return static_cast<uint32_t>(SS_NO_ADAPTERS) << 8;
}

uint32_t EmulationSendCommand(void* request) {
  if (!request) return SS_ERR;
  TEmulation& state = State();
  std::lock_guard<std::mutex> lock(state.Lock);
  auto* header = static_cast<SRB_Header*>(request);
  switch (header->SRB_Cmd) {
    case SC_HA_INQUIRY:
      return HostAdapterInquiry(state, *static_cast<SRB_HAInquiry*>(request));
    case SC_GET_DEV_TYPE: {
      auto& srb = *static_cast<SRB_GDEVBlock*>(request);
      const bool present = Find(state, srb.SRB_HaId, srb.SRB_Target, srb.SRB_Lun) != nullptr;
      srb.SRB_DeviceType = present ? 0x05 : 0x1F;
      srb.SRB_Status = present ? SS_COMP : SS_NO_DEVICE;
      return srb.SRB_Status;
    }
    case SC_EXEC_SCSI_CMD:
      return Execute(state, *static_cast<SRB_ExecSCSICmd*>(request));
    case SC_GET_DISK_INFO:
      return SS_ERR;
    default:
      header->SRB_Status = SS_ERR;
      return SS_ERR;
  }
}

void EmulationSetCloseAfterCommand(bool on) {
  std::lock_guard<std::mutex> lock(State().Lock);
  State().CloseAfterCommand = on;
}

std::string EmulationDevicePath(uint8_t adapter, uint8_t target, uint8_t lun) {
  TEmulation& state = State();
  std::lock_guard<std::mutex> lock(state.Lock);
  const TDriveEntry* entry = Find(state, adapter, target, lun);
  return entry ? DevicePath(entry->Index) : std::string();
}

}  // namespace fornax
