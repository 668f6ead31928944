#pragma once
// TSCSIDevice: the component that stands for one optical drive at a time. It
// finds the drives the transport reaches, selects and identifies one, runs
// commands on it, turns failures into text, traces them in the log, and
// offers every MMC command the engine sends.

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/base/date_time.h"
#include "engine/base/device_base.h"
#include "engine/drive/drive_records.h"
#include "engine/drive/mmc_commands.h"
#include "engine/drive/srb.h"

namespace fornax {

using TDeviceChangedEvent = std::function<void(TObject* Sender)>;

inline constexpr uint8_t kNoAddress = 254;
inline constexpr uint8_t kNoDeviceType = 0x7F;
inline constexpr uint8_t kNotReadyToSend = 0xE2;

// Model quirks of the selected drive, set at each selection from its INQUIRY.
struct TDriveQuirks {
  bool UnderrunProtection = false;  // reports underrun protection although its page does not
  bool LinkSizeValid = false;       // wants LS_V in the write parameters page
  bool SlowReady = false;           // this drive: poll readiness slowly
};

class TSCSIDevice : public TDeviceBase {
 public:
  explicit TSCSIDevice(TComponent* owner = nullptr);
  ~TSCSIDevice() override;

  // Transport.
  bool InitTransport(bool preferPassThrough, const std::string& libraryPath);
  bool ASPIInitialized() const;

  // Drives.
  void ScanDevices();
  const std::vector<std::string>& DeviceList() const { return FDeviceList; }
  // Selects the drive of a list line ("adapter:target:lun,..."); false when
  // the line names no CD or DVD drive (the selection is then cleared).
  bool SelectDevice(const std::string& id);
  const std::string& DeviceId() const { return FDeviceId; }
  const std::string& DeviceDescription() const { return FDeviceDescription; }
  uint8_t DeviceType() const { return FDeviceType; }
  uint8_t HostAdapter() const { return FAdapter; }
  uint8_t Target() const { return FTarget; }
  uint8_t Lun() const { return FLun; }
  const uint8_t* InquiryData() const { return FInquiry; }
  // The device node of the selected drive ("/dev/sr0"), or empty when unknown.
  std::string DrivePath();
  TDeviceChangedEvent OnDeviceChange;

  // Command execution.
  uint8_t ExecuteCommand(SRB_ExecSCSICmd& srb, uint32_t timeoutMs);
  const std::string& LastError() const { return FLastError; }
  const uint8_t* LastSense() const { return FLastSense; }
  bool TargetBusy() const { return FTargetBusy; }
  // Whether the last command failed because the drive holds no medium.
  bool NoMedium() const;
  // Waits until the drive is ready, for `totalMs` at most; at once false
  // when the drive says it holds no medium.
  bool WaitReady(int totalMs, int stepMs);

  // The trace-all switch: a trace line for every command (off by default).
  static void SetTraceAll(bool on);
  static bool TraceAll();
  // The write thread sets the latch before writing some media; nothing clears it.
  void SetErrorTraceLatch() { FErrorTraceLatch = true; }

  const TDriveQuirks& Quirks() const { return FQuirks; }
  // Process-wide quirk flags: poll readiness slowly; close with the Immed bit.
  static bool SlowReadyAll();
  static bool ImmediateClose();

  // The medium code the engine works with, shared by the whole process.
  static uint8_t CurrentMediumCode();
  static void SetCurrentMediumCode(uint8_t code);

  // MMC commands. Each returns true when the drive accepted it.
  bool TestUnitReady(uint32_t timeoutMs);
  bool UnitReady() { return TestUnitReady(5000); }
  bool RewindUnit();
  bool RequestSense(uint8_t* buffer, uint8_t length);
  bool FormatUnit(uint8_t formatBits, const uint8_t* list, uint32_t length);
  bool Inquiry();
  bool EjectMedium();
  bool LoadMedium();
  bool PreventAllowMediumRemoval(bool prevent);
  bool ReadFormatCapacities(uint32_t& blockCount, uint32_t& blockSize);
  bool ReadCapacity(uint32_t& lastAddress, uint32_t& blockLength);
  bool ReadSectors(uint32_t address, uint16_t blocks, uint8_t* buffer, uint32_t length);
  bool Write10(uint32_t address, uint16_t blocks, const uint8_t* buffer, uint32_t length,
               uint8_t flags = kDataOut);
  bool SynchronizeCache(bool immediate, uint32_t timeoutMs);
  bool ReadToc(bool msf, uint8_t format, uint8_t trackOrSession, uint8_t* buffer, uint32_t length,
               uint8_t control = 0);
  bool GetConfiguration(uint8_t requestType, uint8_t startingFeature, uint8_t* buffer, uint16_t length);
  bool ReadDiscInformation(uint8_t* buffer, uint16_t length);
  bool ReadDiscInformation() { return ReadDiscInformation(nullptr, 56); }
  bool ReadTrackInfo(uint8_t track);
  bool ReserveTrack(uint32_t blocks);
  bool SendOpcInformation();
  bool ModeSelect10(const uint8_t* list, uint32_t length);
  bool ModeSense10(uint8_t page, bool defaults, uint8_t* buffer, uint16_t length);
  bool CloseTrackSession(bool immediate, bool closeTrack, bool finalize);
  bool CloseTrackSessionFunction(bool immediate, uint8_t function, uint8_t byte3, uint8_t byte4,
                                 uint8_t byte5);
  bool ReadBufferCapacity();
  bool SetStreaming(const uint8_t* descriptor, uint16_t length);
  bool SetStreamingSpeeds(uint32_t startAddress, uint32_t endAddress, uint32_t readSize,
                          uint32_t readTimeMs, uint32_t writeSize, uint32_t writeTimeMs);
  bool SetCdSpeed(uint16_t readSpeed, uint16_t writeSpeed);
  bool SendDvdStructure(uint8_t format, const uint8_t* buffer, uint16_t length);
  bool SendTimeStamp(TDateTime dateTime);
  void ReleaseHandleAfterCommand(bool on);

  // Answers kept.
  const TTrackInfo& TrackInfo() const { return FTrackInfo; }
  const TDiscInformation& DiscInformation() const { return FDiscInformation; }
  std::atomic<uint32_t> DeviceBufferSize{0};
  std::atomic<uint32_t> DeviceFreeBufferSize{0};

 protected:
  // Identification first refreshes what the drive can do; the engine
  // component overrides this with its capability query.
  virtual bool RefreshCapabilities() { return true; }
  bool Run(const TCommand& command, uint8_t* data, bool acceptPending = false);

 private:
  void HostAdapterInquiry(uint8_t adapter, SRB_HAInquiry& record);
  void ResetSelection(const std::string& id);
  void SetQuirks();
  void ProbeWriteTypes();
  void Trace(const SRB_ExecSCSICmd& srb);
  bool Busy() const { return FLastSense[12] == 0x04; }

  uint8_t FAdapter = kNoAddress, FTarget = kNoAddress, FLun = kNoAddress;
  int FAdapterCount = -1;  // -1 when the host adapter inquiry failed
  SRB_HAInquiry FAdapterInquiry{};
  std::vector<std::string> FDeviceList;
  std::string FDeviceId, FDeviceDescription;
  uint8_t FDeviceType = kNoDeviceType;
  alignas(16) uint8_t FInquiry[128] = {};
  std::string FLastError;
  uint8_t FLastSense[SRB_SENSE_AREA] = {};
  bool FTargetBusy = false;
  bool FErrorTraceLatch = false;
  TDriveQuirks FQuirks;
  TTrackInfo FTrackInfo;
  TDiscInformation FDiscInformation;
};

// Builds the trace line of one executed SRB. `timeOfDay` ("mm:ss:zzz ") is
// given only under the trace-all switch.
std::string TraceLine(const SRB_ExecSCSICmd& srb, const std::string& lastError,
                      const std::string& timeOfDay);

// Parses "adapter:target:lun" at the start of a list line: whole numbers up
// to their separators. False when the line does not start so.
bool ParseDeviceAddress(const std::string& id, int& adapter, int& target, int& lun);

// The list line of a drive: address, device node (or "?:"), and the vendor,
// product and revision bytes of its INQUIRY answer as delivered.
std::string DeviceListLine(uint8_t adapter, uint8_t target, uint8_t lun, const std::string& path,
                           const uint8_t* inquiry);

}  // namespace fornax
