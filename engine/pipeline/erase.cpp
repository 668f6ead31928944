#include "engine/pipeline/erase.h"

#include <cmath>
#include <cstring>
#include <fmt/format.h>
#include <vector>

#include "engine/base/messages.h"
#include "engine/drive/medium_queries.h"
#include "engine/drive/transport.h"
#include "engine/base/pacing.h"
#include "engine/recorder.h"

namespace fornax {
namespace {

constexpr uint8_t kDvdPlusRwFormat[12] = {0x00, 0x82, 0x00, 0x08, 0x00, 0x23, 0x05, 0x40, 0x98, 0x00, 0x00, 0x00};
constexpr uint8_t kDvdRamFormat[12] = {0x00, 0x82, 0x00, 0x08, 0x00, 0x22, 0x21, 0x20, 0x00, 0x00, 0x08, 0x00};
constexpr int kZeroBlock = 32 * 2048;

bool OverwrittenInPlace(uint8_t code) {
  return code == mtDVDRAM || code == mtDVDRWRestricted || code == mtDVDRWSequential || code == mtDVDPlusRW;
}

std::string Grouped(uint32_t value) {
  std::string digits = std::to_string(value);
  for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3) digits.insert(static_cast<size_t>(at), ",");
  return digits;
}

// "2.0X(2,770 KB/s)" on DVD media, "4X(706 KB/s)" on CDs.
std::string EraseSpeedText(uint8_t code, uint16_t speed) {
  const std::string units = OverwrittenInPlace(code) ? fmt::format("{:.1f}X", speed / 1385.0)
                                                     : fmt::format("{:.0f}X", speed / 176.4);
  return units + "(" + Grouped(speed) + " KB/s)";
}

}  // namespace

int DriveReportedPercent(const uint8_t* sense) {
  const bool notReady = (sense[2] & 0x0F) == 0x02 && sense[12] == 0x04;
  const bool progressValid = (sense[15] & 0x80) != 0;
  if (!notReady || !progressValid) return -1;
  const int fraction = (sense[16] << 8) | sense[17];
  return std::min(99, fraction * 100 / 65536);
}

uint16_t ExpectedEraseSeconds(uint8_t mediumCode, bool quick) {
  if (mediumCode > 3) return quick ? 600 : 4440;
  return quick ? 150 : 4500;
}

TEraseThread::TEraseThread(TQzRecorder& engine, uint8_t mediumCode, bool quick)
    : FEngine(engine), FMedium(mediumCode), FQuick(quick), FExpectedSeconds(ExpectedEraseSeconds(mediumCode, quick)) {}

TEraseThread::~TEraseThread() { FThread.Join(); }

void TEraseThread::Start() {
  FThread.Start([this] { Execute(); });
}

bool TEraseThread::Busy() const { return FEngine.LastSense()[12] == 0x04; }

// What the drive says of its own progress counts over the estimate: a quick
// erase that takes seconds would otherwise sit near 0 until it ends. The
// percentage never goes back.
void TEraseThread::Update(int elapsed) {
  int progress = std::min(100, static_cast<int>(std::lround(100.0 * elapsed / FExpectedSeconds)));
  const int reported = DriveReportedPercent(FEngine.LastSense());
  if (reported >= 0) progress = reported;
  FProgress = std::max(FProgress.load(), progress);
}

// A round of "not ready yet": TEST UNIT READY, and a pause when it fails.
void TEraseThread::Round(int& elapsed) {
  const bool ready = FEngine.TestUnitReady(5000);
  Update(elapsed);
  if (!ready) PaceSleep(2000);
  elapsed += 2;
}

void TEraseThread::WaitForDvdRw(int& elapsed) {
  for (int pass = 0; pass < 2; ++pass) {
    do {
      const bool ready = FEngine.TestUnitReady(5000);
      Update(elapsed);
      if (!ready) PaceSleep(2000);
      elapsed += 1;
    } while (Busy() && InTime(elapsed));
    if (pass == 0) PaceSleep(5000);
    if (!Busy() || !InTime(elapsed)) break;
  }
}

// The format's foreground part; bounded like every other wait of an erase,
// at twice the time a whole erase is expected to take.
bool TEraseThread::WaitForDvdPlusRwFormat(int& elapsed) {
  for (;;) {
    FEngine.ReadDiscInformation();
    Update(elapsed);
    if (!Busy()) return true;
    if (elapsed + 2 > 2 * FExpectedSeconds) return false;
    PaceSleep(2000);
    elapsed += 2;
  }
}

void TEraseThread::OverwriteWithZeros(uint32_t blocks, bool closeAfter) {
  const std::vector<uint8_t> zeros(kZeroBlock, 0);
  for (uint32_t i = 0; i < blocks; ++i) {
    if (!FEngine.Write10(i * 32, 32, zeros.data(), kZeroBlock)) {
      if (closeAfter) return;  // a failing write ends it, without flush or close
    }
  }
  if (closeAfter) PaceSleep(300);
  FEngine.SynchronizeCache(false, 30000);
  if (closeAfter) FEngine.CloseTrackSessionFunction(false, 3, 0, 0, 0);
}

void TEraseThread::WaitForTheEnd(int& elapsed) {
  if (FMedium != mtDVDRAM) {
    do {
      FEngine.ReadDiscInformation();
      Update(elapsed);
      if (Busy()) PaceSleep(5000);
      elapsed += 5;
    } while (Busy() && InTime(elapsed));
  }
  do Round(elapsed);
  while (Busy() && InTime(elapsed));
  alignas(16) uint8_t sense[40];
  do {
    Update(elapsed);
    std::memset(sense, 0, sizeof sense);
    FEngine.RequestSense(sense, sizeof sense);
    elapsed += 2;
    if (sense[0] == 0xF0) sense[12] = 0x04;
    if (sense[12] != 0) PaceSleep(2000);
  } while (sense[12] != 0 && InTime(elapsed));
}

void TEraseThread::Execute() {
  int elapsed = 0;
  FProgress = 0;
  if (FMedium == mtDVDRWRestricted || FMedium == mtDVDRWSequential) {
    WaitForDvdRw(elapsed);
  } else if (FMedium == mtDVDPlusRW) {
    if (WaitForDvdPlusRwFormat(elapsed)) {
      OverwriteWithZeros(FQuick ? 65 : 71001, true);
      elapsed += 1;
    } else {
      FEngine.Log(">>> " + fmt::format(kMsgEraseTooLong, 2 * FExpectedSeconds), ltStatus);
      FWithError = true;
    }
  } else if (FMedium == mtDVDRAM && FQuick) {
    OverwriteWithZeros(65, false);
  }
  if (TSCSIDevice::SlowReadyAll()) {
    do Round(elapsed);
    while (Busy() && InTime(elapsed));
    FEngine.ReadDiscInformation();
    PaceSleep(5000);
  }
  if (!FEngine.TestUnitReady(5000) || !FEngine.ReadDiscInformation()) WaitForTheEnd(elapsed);
  if (TransportIsEmulation()) ResetASPI();
  FProgress = 100;
  FEngine.ReturnDriveToIdle();
  FEngine.FinishErase(FWithError);
}

bool TQzRecorder::EraseDisc(uint8_t Quick) {
  const bool quick = Quick == 1;
  FWrite.AbortWriteRequested = false;
  TestUnitReady(5000);
  LoadMedium();
  const uint8_t code = MediumType();
  SetCurrentMediumCode(code);
  const auto ready = [this] { return TestUnitReady(5000) || WaitReady(30000, 5000); };
  if (!ready()) return false;
  if (code != mtDVDRAM) {
    SetSpeeds(ReadSpeed, WriteSpeed());
    SetWriteParameters(false, false, code, false);
  }
  const uint16_t speed = CurrentWriteSpeed();
  if (!ready()) return false;
  // Once sent, an erase cannot be stopped: an abort counts only until then.
  if (AbortRequested()) {
    Log(std::string(">>> ") + kMsgEraseNotStarted, ltStatus);
    return false;
  }
  Log(">>> " + fmt::format(kMsgStartingErase, MediumNames[code & 15], EraseSpeedText(code, speed)), ltInfo);

  bool accepted = false;
  if (code == mtDVDPlusRW) {
    accepted = FormatUnit(0x11, kDvdPlusRwFormat, sizeof kDvdPlusRwFormat);
    if (!accepted) {
      RewindUnit();
      PaceSleep(1000);
      accepted = FormatUnit(0x11, kDvdPlusRwFormat, sizeof kDvdPlusRwFormat);
    }
  } else if (code == mtDVDRAM && quick) {
    const std::vector<uint8_t> zeros(kZeroBlock, 0);
    for (uint32_t lba = 0; lba <= 320; lba += 32) Write10(lba, 32, zeros.data(), kZeroBlock);
    SynchronizeCache(false, 30000);
    accepted = true;
  } else if (code == mtDVDRAM) {
    accepted = FormatUnit(0x11, kDvdRamFormat, sizeof kDvdRamFormat);
  } else {
    accepted = Run(mmc::Blank(true, quick ? 1 : 0), nullptr, true);
  }
  if (!accepted) {
    FErasing = false;
    if (OnEraseDone) OnEraseDone(this, true);
    return false;
  }
  RetireWorker(false);
  std::lock_guard<std::mutex> lock(FWorkerGuard);
  FEraser = std::make_shared<TEraseThread>(*this, code, quick);
  FErasing = true;
  FEraser->Start();
  return true;
}

int TQzRecorder::EraseProgress() const { return Erasing() ? LastEraseProgress() : 0; }
int TQzRecorder::LastEraseProgress() const {
  std::lock_guard<std::mutex> lock(FWorkerGuard);
  return FEraser ? FEraser->Progress() : 0;
}

void TQzRecorder::FinishErase(bool withError) {
  FErasing = false;
  Dispatch([this, withError] {
    FErasing = false;
    if (OnEraseDone) OnEraseDone(this, withError);
  });
}

}  // namespace fornax
