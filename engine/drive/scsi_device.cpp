#include "engine/drive/scsi_device.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fmt/format.h>
#include <mutex>
#include <thread>

#include "engine/base/messages.h"
#include "engine/base/pacing.h"
#include "engine/drive/command_names.h"
#include "engine/drive/sense_texts.h"
#include "engine/drive/sg_emulation.h"
#include "engine/drive/transport.h"

namespace fornax {
namespace {

std::atomic<bool> gTraceAll{false};
std::atomic<bool> gSlowReadyAll{false};
std::atomic<bool> gImmediateClose{true};
std::atomic<uint8_t> gCurrentMediumCode{0};

// What a transport signals when it finishes a command after returning.
struct TSrbEvent : SRB_PostEvent {
  std::mutex Lock;
  std::condition_variable Done;
  bool Signalled = false;

  TSrbEvent() { Signal = &TSrbEvent::OnSignal; }
  static void OnSignal(SRB_PostEvent* event) {
    auto* self = static_cast<TSrbEvent*>(event);
    std::lock_guard<std::mutex> lock(self->Lock);
    self->Signalled = true;
    self->Done.notify_all();
  }
  void Wait(uint32_t ms) {
    std::unique_lock<std::mutex> lock(Lock);
    Done.wait_for(lock, std::chrono::milliseconds(ms), [this] { return Signalled; });
  }
};

std::string Trimmed(const uint8_t* bytes, size_t count) {
  std::string text(reinterpret_cast<const char*>(bytes), count);
  const size_t end = text.find_last_not_of(" \0", std::string::npos, 2);
  const size_t start = text.find_first_not_of(' ');
  if (end == std::string::npos || start == std::string::npos) return "";
  return text.substr(start, end - start + 1);
}

bool ExcludedFromErrorTrace(uint8_t opcode) {
  static const uint8_t kQuiet[] = {0x00, 0x01, 0x04, 0x12, 0x1B, 0x1E, 0x23, 0x35, 0x43,
                                   0x46, 0x51, 0x52, 0x55, 0x5A, 0x5C, 0xB6, 0xBB};
  return std::find(std::begin(kQuiet), std::end(kQuiet), opcode) != std::end(kQuiet);
}

std::string TimeOfDay() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const time_t t = system_clock::to_time_t(now);
  struct tm local {};
  localtime_r(&t, &local);
  const auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  return fmt::format("{:02d}:{:02d}:{:03d} ", local.tm_min, local.tm_sec, ms);
}

void Sleep(int ms) { PaceSleep(ms); }

}  // namespace

TSCSIDevice::TSCSIDevice(TComponent* owner) : TDeviceBase(owner) {
  if (TransportLoaded()) {
    HostAdapterInquiry(0, FAdapterInquiry);
    ScanDevices();
  }
}

TSCSIDevice::~TSCSIDevice() = default;

bool TSCSIDevice::InitTransport(bool preferPassThrough, const std::string& libraryPath) {
  bool loaded = false;
  try {
    loaded = InitASPI(preferPassThrough, libraryPath);
  } catch (...) {
    loaded = false;
  }
  if (!loaded) return false;
  HostAdapterInquiry(0, FAdapterInquiry);
  ScanDevices();
  return true;
}

bool TSCSIDevice::ASPIInitialized() const { return TransportLoaded(); }

void TSCSIDevice::HostAdapterInquiry(uint8_t adapter, SRB_HAInquiry& record) {
  std::memset(&record, 0, sizeof record);
  record.SRB_Cmd = SC_HA_INQUIRY;
  record.SRB_HaId = adapter;
  SendASPI32Command(&record);
  if (record.SRB_Status != SS_COMP) {
    FAdapterCount = -1;
    return;
  }
  FAdapterCount = record.HA_Count == 0 ? 7 : record.HA_Count;
}

void TSCSIDevice::ScanDevices() {
  FDeviceList.clear();
  const uint8_t adapter = FAdapter, target = FTarget, lun = FLun;
  if (DoDebug) Log(">>> " + TransportName(), ltInfo);
  // Linux numbers SCSI hosts without limit: every adapter up to the count is
  // scanned, not only the first 127.
  const int adapters = FAdapterCount;
  for (int a = 0; a < adapters; ++a) {
    SRB_HAInquiry record{};
    HostAdapterInquiry(static_cast<uint8_t>(a), record);
    if (DoDebug) Log(">>>  (" + Trimmed(reinterpret_cast<const uint8_t*>(record.HA_Identifier), 16) + ")", ltInfo);
    for (int t = 0; t < 8; ++t) {
      for (int l = 0; l < 8; ++l) {
        FAdapter = static_cast<uint8_t>(a);
        FTarget = static_cast<uint8_t>(t);
        FLun = static_cast<uint8_t>(l);
        std::memset(FInquiry, 0, sizeof FInquiry);
        if (!Inquiry() || (FInquiry[0] != 0x05 && FInquiry[0] != 0x04)) continue;
        FDeviceList.push_back(DeviceListLine(FAdapter, FTarget, FLun, DrivePath(), FInquiry));
      }
    }
    FAdapterCount = adapters;  // each inquiry above refreshed it
  }
  FAdapter = adapter;
  FTarget = target;
  FLun = lun;
  FLastError.clear();
}

std::string TSCSIDevice::DrivePath() {
  if (TransportIsEmulation()) return EmulationDevicePath(FAdapter, FTarget, FLun);
  // Another transport: the node whose sysfs address matches, else what the
  // transport's disk information names.
  for (int n = 0; n < 64; ++n) {
    int host = 0, target = 0, lun = 0;
    if (!SysfsScsiAddress("sr" + std::to_string(n), host, target, lun)) continue;
    if (host == FAdapter && target == FTarget) return "/dev/sr" + std::to_string(n);
  }
  SRB_GetDiskInfo info{};
  info.SRB_Cmd = SC_GET_DISK_INFO;
  info.SRB_HaId = FAdapter;
  info.SRB_Target = FTarget;
  info.SRB_Lun = FLun;
  SendASPI32Command(&info);
  if (info.SRB_Status == SS_COMP && info.SRB_Int13HDriveInfo != 128)
    return "/dev/sr" + std::to_string(info.SRB_Int13HDriveInfo);
  return "";
}

bool TSCSIDevice::SelectDevice(const std::string& id) {
  int adapter = 0, target = 0, lun = 0;
  if (id.size() <= 4 || !ParseDeviceAddress(id, adapter, target, lun) || adapter > 255 ||
      target > 255 || lun > 255) {
    ResetSelection(id);
    return false;
  }
  FAdapter = static_cast<uint8_t>(adapter);
  FTarget = static_cast<uint8_t>(target);
  FLun = static_cast<uint8_t>(lun);
  FDeviceId = id;

  RefreshCapabilities();
  // A failed INQUIRY must not leave the last drive's answer to be taken for
  // this one's.
  std::memset(FInquiry, 0, sizeof FInquiry);
  if (Inquiry()) {
    FDeviceType = FInquiry[0];
    for (int i = 8; i < 56; ++i)
      if (FInquiry[i] < 0x20) FInquiry[i] = ' ';
    FDeviceDescription = std::string(reinterpret_cast<const char*>(FInquiry + 8), 8) + " " +
                         std::string(reinterpret_cast<const char*>(FInquiry + 16), 16) + " " +
                         std::string(reinterpret_cast<const char*>(FInquiry + 32), 4);
  } else {
    FDeviceDescription = FLastError;
  }
  if (FInquiry[0] != 0x05 && FInquiry[0] != 0x04) {
    ResetSelection(id);
    return false;
  }
  SetQuirks();
  if (OnDeviceChange) OnDeviceChange(this);
  ProbeWriteTypes();
  return true;
}

void TSCSIDevice::ResetSelection(const std::string& id) {
  if (!id.empty()) Log(kMsgInvalidDevice, ltStatus);
  FDeviceId.clear();
  FDeviceDescription.clear();
  FDeviceType = kNoDeviceType;
  FAdapter = FTarget = FLun = kNoAddress;
}

void TSCSIDevice::SetQuirks() {
  const std::string product = Trimmed(FInquiry + 16, 16);
  std::string vendor = Trimmed(FInquiry + 8, 8);
  if (vendor.size() < 3) vendor = "     ";
  const std::string rawProduct(reinterpret_cast<const char*>(FInquiry + 16), 16);
  FQuirks = TDriveQuirks{};
  FQuirks.UnderrunProtection = product == "CD-W512EB";
  FQuirks.LinkSizeValid = product == "CRX175E" || product == "CD-RW  CRX800E";
  if (product.rfind("UJDA", 0) == 0 || vendor.rfind("TDK", 0) == 0) gSlowReadyAll = true;
  gImmediateClose = product != "CDRW321040X";
  if (rawProduct == "DVD-RW  DVR-103 " || rawProduct == "DVD-RW  DVR-104 ") {
    FQuirks.SlowReady = true;
    gImmediateClose = true;
  }
}

// Leaves the drive's write parameters page at track-at-once after trying the
// write types from raw down, as drives that lack the first ones expect.
void TSCSIDevice::ProbeWriteTypes() {
  for (const uint8_t writeType : {uint8_t{3}, uint8_t{2}, uint8_t{1}}) {
    alignas(16) uint8_t answer[512] = {};
    if (!ModeSense10(0x05, false, answer, sizeof answer)) continue;
    const uint8_t* page = answer[16] == 0x05 ? answer + 16 : answer + 8;
    alignas(16) uint8_t list[8 + 256] = {};
    const size_t pageLength = static_cast<size_t>(page[1]) + 2;
    std::memcpy(list + 8, page, std::min(pageLength, sizeof list - 8));
    uint8_t* p = list + 8;
    p[2] = writeType;
    p[4] = writeType == 3 ? 1 : 0;
    p[3] = p[8] = p[9] = 0;
    p[14] = 0;
    p[15] = 150;
    ModeSelect10(list, static_cast<uint32_t>(page[1]) + 10);
  }
}

uint8_t TSCSIDevice::ExecuteCommand(SRB_ExecSCSICmd& srb, uint32_t timeoutMs) {
  FLastError.clear();
  FTargetBusy = false;
  std::memset(FLastSense, 0, sizeof FLastSense);
  if (!TransportLoaded() || FAdapter == kNoAddress) return kNotReadyToSend;

  TSrbEvent event;
  const bool withEvent = (srb.SRB_Flags & SRB_EVENT_NOTIFY) != 0;
  srb.SRB_PostProc = withEvent ? static_cast<SRB_PostEvent*>(&event) : nullptr;
  srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
  srb.SRB_HaId = FAdapter;
  srb.SRB_Target = FTarget;
  srb.SRB_Lun = FLun;
  srb.SRB_SenseLen = 24;
  // The LUN travels in the SRB's address only: in today's command blocks the
  // top bits of byte 1 belong to the command (READ (10) would read them as
  // its own flags), and the kernel chooses the unit by its device node.

  SendASPI32Command(&srb);
  if (withEvent && srb.SRB_Status == SS_PENDING) event.Wait(std::max<uint32_t>(timeoutMs, 10000));

  if (srb.SRB_Status != SS_PENDING && srb.SRB_Status != SS_COMP) {
    const TErrorText error = BuildErrorText(srb);
    FLastError = error.Text;
    FTargetBusy = error.TargetBusy;
    std::memcpy(FLastSense, srb.SenseArea, sizeof FLastSense);
  }
  Trace(srb);
  if (srb.SRB_Status == SS_PENDING) {
    SRB_Abort abort{};
    abort.SRB_Cmd = SC_ABORT_SRB;
    abort.SRB_HaId = FAdapter;
    abort.SRB_ToAbort = &srb;
    SendASPI32Command(&abort);
    srb.SRB_Status = SS_ERR;
    srb.SRB_HaStat = HASTAT_TIMEOUT;
  }
  srb.SRB_PostProc = nullptr;
  const auto address = reinterpret_cast<uintptr_t>(srb.SRB_BufPointer);
  if (address % 4 != 0) Log("aaaa" + std::to_string(address), ltStatus);
  return 1;
}

void TSCSIDevice::Trace(const SRB_ExecSCSICmd& srb) {
  bool build = TraceAll();
  if (!build && !FErrorTraceLatch) {
    FErrorTraceLatch = true;
    const bool failed = srb.SRB_Status != SS_PENDING && srb.SRB_Status != SS_COMP;
    const bool longWrite = srb.SenseArea[12] == 0x04 && srb.SenseArea[13] == 0x08;
    build = failed && !ExcludedFromErrorTrace(srb.CDBByte[0]) && !longWrite;
  }
  if (build) Log(TraceLine(srb, FLastError, TraceAll() ? TimeOfDay() : ""), ltStatus);
}

bool TSCSIDevice::NoMedium() const { return IsNoMediumSense(FLastSense); }

// An empty drive (or an open tray) does not become ready by waiting: the
// wait ends as soon as a command's own sense says so, with that command's
// reason kept as the last error. REQUEST SENSE is no witness for it: some
// drives have cleared that sense by then, others answer with stale sense.
// Each stage asks the drive first and pauses only while it answers busy, so
// a drive that is ready costs a command per stage and no time; the pauses
// grow to the caller's interval and all of them stay within its bound.
bool TSCSIDevice::WaitReady(int totalMs, int stepMs) {
  if (NoMedium()) return false;
  if (FQuirks.SlowReady || gSlowReadyAll) {
    // These drives answer "ready" before they are: they get their time first.
    do {
      Sleep(1500);
      totalMs -= 1500;
      if (totalMs < 0) break;
      TestUnitReady(5000);
      if (NoMedium()) return false;
    } while (Busy());
  }
  TPollPause pause(std::max(0, totalMs), stepMs);
  // DVD-RAM drives report the end of their background work through REQUEST
  // SENSE only.
  const bool senseBusy = CurrentMediumCode() == 6;
  if (!senseBusy) {
    ReadDiscInformation();
    while (Busy()) {
      if (!pause.Sleep()) return false;
      ReadDiscInformation();
    }
  }
  const bool ready = TestUnitReady(5000);
  if (ready && !senseBusy) return true;
  if (NoMedium()) return false;
  if (!ready) {
    // A refusal that is not "busy" (a unit attention) is asked once more.
    do {
      if (!pause.Sleep()) return false;
      TestUnitReady(5000);
      if (NoMedium()) return false;
    } while (Busy());
  }
  alignas(16) uint8_t sense[40];
  for (;;) {
    std::memset(sense, 0, sizeof sense);
    RequestSense(sense, sizeof sense);
    if (sense[0] == 0xF0) sense[12] = 0x04;  // a valid information field: still busy
    if (sense[12] == 0) return true;
    // Other sense is reported once and cleared: asked again at once.
    if (sense[12] == 0x04 ? !pause.Sleep() : pause.Next() == 0) return false;
  }
}

void TSCSIDevice::SetTraceAll(bool on) { gTraceAll = on; }
bool TSCSIDevice::TraceAll() { return gTraceAll; }
bool TSCSIDevice::SlowReadyAll() { return gSlowReadyAll; }
bool TSCSIDevice::ImmediateClose() { return gImmediateClose; }
uint8_t TSCSIDevice::CurrentMediumCode() { return gCurrentMediumCode; }
void TSCSIDevice::SetCurrentMediumCode(uint8_t code) { gCurrentMediumCode = code; }

bool ParseDeviceAddress(const std::string& id, int& adapter, int& target, int& lun) {
  int* fields[3] = {&adapter, &target, &lun};
  const char separators[3] = {':', ':', ','};
  size_t pos = 0;
  for (int i = 0; i < 3; ++i) {
    size_t digits = 0;
    long value = 0;
    while (pos < id.size() && id[pos] >= '0' && id[pos] <= '9') {
      value = value * 10 + (id[pos] - '0');
      if (value > 100000) return false;
      ++pos;
      ++digits;
    }
    if (digits == 0) return false;
    *fields[i] = static_cast<int>(value);
    if (i < 2) {
      if (pos >= id.size() || id[pos] != separators[i]) return false;
      ++pos;
    } else if (pos < id.size() && id[pos] != ',') {
      return false;
    }
  }
  return true;
}

std::string DeviceListLine(uint8_t adapter, uint8_t target, uint8_t lun, const std::string& path,
                           const uint8_t* inquiry) {
  std::string line = fmt::format("{}:{}:{},{} ", adapter, target, lun, path.empty() ? "?:" : path);
  line.append(reinterpret_cast<const char*>(inquiry + 8), 28);
  if (inquiry[0] == 0x04) line += " (no soportado)";
  return line;
}

std::string TraceLine(const SRB_ExecSCSICmd& srb, const std::string& lastError,
                      const std::string& timeOfDay) {
  const uint8_t op = srb.CDBByte[0];
  std::string line = "<<< " + timeOfDay + CommandName(op) + " ";
  line += fmt::format("({:02X}) {{{:02X}|{:02X}}} - ", op, srb.SRB_Flags, srb.SRB_CDBLen);
  line += fmt::format("{}:{:X}:{} <{:02X}> [{:05X}] ", srb.SRB_HaId, srb.SRB_Target, srb.SRB_Lun,
                      srb.SRB_Status, srb.SRB_BufLen);
  for (int i = 1; i < 16; ++i) line += fmt::format("{:02X} ", srb.CDBByte[i]);
  line += " |";
  if (srb.SRB_BufPointer) {
    const uint32_t dump = std::min<uint32_t>(srb.SRB_BufLen, 257);
    for (uint32_t i = 0; i < dump; ++i) line += fmt::format("{:02X} ", srb.SRB_BufPointer[i]);
  }
  line += fmt::format("= {:02X} {:02X} {:02X} {:02X} ASC:{:02X},ASQ:{:02X} ", srb.SRB_HaStat,
                      srb.SRB_TargStat, srb.SenseArea[0], srb.SenseArea[2], srb.SenseArea[12],
                      srb.SenseArea[13]);
  return line + lastError;
}

}  // namespace fornax
