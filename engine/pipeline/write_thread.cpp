#include "engine/pipeline/write_thread.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <fmt/format.h>

#include "engine/base/messages.h"
#include "engine/base/sector.h"
#include "engine/drive/medium_queries.h"
#include "engine/drive/transport.h"
#include "engine/disc/volume_descriptors.h"
#include "engine/pipeline/cache_thread.h"
#include "engine/pipeline/session_check.h"
#include "engine/pipeline/session_closing.h"
#include "engine/base/pacing.h"
#include "engine/pipeline/thread_priority.h"
#include "engine/recorder.h"

namespace fornax {
namespace {

constexpr int kBusyRetries = 10000;
constexpr int kBusyPauseMs = 600;
// The drive is given as long to finish writing after the final flush as the
// flush command itself allows.
constexpr int kFlushWaitSeconds = 1800;
// A DVD is written in whole units of 32 sectors.
constexpr int kUnitBytes = 65536;

// Thousands grouped, as "#,##0".
std::string Grouped(uint32_t value) {
  std::string digits = std::to_string(value);
  for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3) digits.insert(static_cast<size_t>(at), ",");
  return digits;
}

}  // namespace

TThWrite::TThWrite(TQzRecorder& engine, TCacheThread& cache, bool toImageFile, int imageFile)
    : FEngine(engine), FCache(cache), FToImageFile(toImageFile), FImageFile(imageFile) {}

TThWrite::~TThWrite() {
  FThread.Join();
  if (FImageFile >= 0) ::close(FImageFile);  // never started
}

void TThWrite::Start() {
  FThread.Start([this] { Execute(); });
}

std::string TThWrite::SpeedText(uint16_t speed) const {
  const std::string units = IsDvd() ? fmt::format("{:.1f}", speed / 1385.0) : fmt::format("{:.0f}", speed / 176.4);
  return units + "X (" + Grouped(speed) + " KB/s)";
}

void TThWrite::Fail(const std::string& text) {
  FCache.SetErrorText(text);
  FCache.RequestAbort();
}

bool TThWrite::Failed() const { return !FCache.ErrorText().empty(); }

// A drive that is busy (its buffer full, or still finishing) asks to be
// asked again. A failure without any sense data is no such answer.
bool TThWrite::DriveBusy() const {
  const uint8_t* sense = FEngine.LastSense();
  return FEngine.TargetBusy() || sense[12] == 0x04 || (sense[12] == 0x00 && sense[0] != 0);
}

bool TThWrite::Aborted() const { return FEngine.WriteState().AbortWriteRequested; }

int TThWrite::NextChunk() {
  for (;;) {
    if (Aborted()) {
      Fail(kMsgAbortedByUser);
      return 0;
    }
    // The wait is bounded so that an abort is seen while the cache is slow.
    const int bytes = FCache.TakeChunk(FTransfer, 50);
    if (!FCache.ErrorText().empty()) return 0;
    if (bytes >= 0) return bytes;
  }
}

// An abort asked for before the thread started (while the cache filled, or
// a disc was formatted) still counts: the flag is cleared when a write is
// asked for, not here.
void TThWrite::Execute() {
  SetCurrentThreadPriority(TThreadPriority::TimeCritical);
  TWriteState& state = FEngine.WriteState();
  state.WriteInProgress = true;
  state.BytesWritten = 0;
  FCache.SetErrorText("");
  if (FToImageFile) {
    WriteToImageFile();
  } else {
    PrepareDrive();
    if (!Failed()) WriteToDrive();
    FinishDrive();
  }
  Final();
}

bool TThWrite::WriteToImageFile() {
  const std::string& name = FEngine.ISOFileName;
  if (FImageFile < 0) {
    Fail(fmt::format(kMsgCantCreateFile, name));
    return false;
  }
  struct stat st {};
  const bool regular = ::fstat(FImageFile, &st) == 0 && S_ISREG(st.st_mode);
  int64_t position = 0;
  if (FCache.Direct()) {
    if (FollowDirectWrite()) position = FCache.DirectLength();
  } else {
    WriteChunksToFile(regular, position);
  }
  if (regular && !Failed() && ::ftruncate(FImageFile, position) != 0)
    Fail(fmt::format(kMsgCantWriteFile, name, std::strerror(errno)));
  const bool closed = ::close(FImageFile) == 0;
  FImageFile = -1;
  if (!closed && !Failed()) Fail(fmt::format(kMsgCantWriteFile, name, std::strerror(errno)));
  // An image cut short must not be left looking like a finished one (a
  // device written to is left alone).
  if (Failed() && regular) ::unlink(name.c_str());
  return !Failed();
}

// The cache writes a regular image file itself; the writer reports its
// progress and passes an abort on.
bool TThWrite::FollowDirectWrite() {
  TWriteState& state = FEngine.WriteState();
  const int64_t limit = FEngine.ImageSectors() * kSectorSize;
  bool aborted = false;
  for (;;) {
    const bool finished = FCache.WaitFinished(50);
    state.SetCurrentWriteFile(FCache.CurrentFile());
    state.BytesWritten = std::min<int64_t>(FCache.DirectProgress(), limit);
    if (finished) break;
    if (!aborted && Aborted()) {
      aborted = true;
      Fail(kMsgAbortedByUser);
    }
  }
  return !Failed();
}

bool TThWrite::WriteChunksToFile(bool regular, int64_t& position) {
  const std::string& name = FEngine.ISOFileName;
  TWriteState& state = FEngine.WriteState();
  const int64_t limit = FEngine.ImageSectors() * kSectorSize;
  for (int bytes = NextChunk(); bytes > 0 && !Failed(); bytes = NextChunk()) {
    state.SetCurrentWriteFile(FCache.CurrentFile());
    state.BytesWritten = std::min<int64_t>(state.BytesWritten + bytes, limit);
    // A new file reads zeros where nothing was written: runs of zeros (the
    // holes of sparse sources, the padding) stay holes.
    const bool zeros = regular && FTransfer[0] == 0 &&
                       std::memcmp(FTransfer.data(), FTransfer.data() + 1, static_cast<size_t>(bytes) - 1) == 0;
    if (zeros && ::lseek(FImageFile, bytes, SEEK_CUR) >= 0) {
      position += bytes;
      continue;
    }
    for (int done = 0; done < bytes;) {
      const ssize_t n = ::write(FImageFile, FTransfer.data() + done, static_cast<size_t>(bytes - done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        Fail(fmt::format(kMsgCantWriteFile, name, std::strerror(n == 0 ? ENOSPC : errno)));
        break;
      }
      done += static_cast<int>(n);
    }
    position += bytes;
  }
  return !Failed();
}

void TThWrite::PrepareDrive() {
  TQzRecorder& e = FEngine;
  FCapacityPolling = e.ReadBufferCapacity();
  FMedium = e.MediumType();
  TSCSIDevice::SetCurrentMediumCode(FMedium);
  e.LoadMedium();
  if (FMedium != mtDVDPlusRW) e.RewindUnit();
  e.SetSpeeds(e.ReadSpeed, e.WriteSpeed());
  e.WaitReady(10000, 1000);
  const bool finalize = e.FinalizeDisc;
  const uint16_t speed = e.CurrentWriteSpeed();
  e.FinalizeDisc = true;
  e.SetWriteParameters(e.TestWrite, e.UnderrunProtection, FMedium, true);
  e.FinalizeDisc = finalize;
  const uint32_t imageSectors = static_cast<uint32_t>(e.ImageSectors());
  FSessionStart = static_cast<uint32_t>(e.SessionStart());
  if (FMedium == mtDVDR || FMedium == mtDVDRWRestricted || FMedium == mtDVDRWSequential ||
      FMedium == mtDVDPlusRW || FMedium == mtDVDPlusR || FMedium == mtDVDPlusRDL) {
    const auto perSecond = [](uint16_t kbps) { return static_cast<uint32_t>(std::trunc(kbps / 1385.0 * 1440.25)); };
    e.SetStreamingSpeeds(FSessionStart, FSessionStart + imageSectors, perSecond(e.ReadSpeed), 1000,
                         perSecond(e.WriteSpeed()), 1000);
  }
  // The track being written is the disc's last one: the invisible (or
  // incomplete) track that follows the closed ones. Counting sessions
  // misses a session that holds more than one track.
  FTrackNumber = e.ReadDiscInformation() && e.DiscInformation().LastTrackInLastSession() != 0
                     ? e.DiscInformation().LastTrackInLastSession()
                     : e.SessionCount() + 1;
  if (FMedium == mtDVDR) {
    static const uint8_t kFixed[28] = {0, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x23, 0x12, 0x7F, 0x00, 0x00, 0xAB, 0xBD,
                                       0x00, 0x00, 0x03, 0xE8, 0x00, 0x00, 0x05, 0x8A, 0x00, 0x00, 0x03, 0xE8};
    e.SetStreaming(kFixed, sizeof kFixed);
    e.SendTimeStamp(Now());
    // The track is written incrementally, not into a reservation: a write
    // cut short then leaves a track only as long as what it holds, which
    // tells a reader that the session is not whole.
    e.WaitReady(10000, 1000);
  }
  if (Aborted()) {
    Fail(kMsgAbortedByUser);
    return;
  }
  if (FMedium != mtDVDRAM && !e.TestWrite && e.PerformOPC) e.SendOpcInformation();
  e.Log(">>> " + fmt::format(kMsgStartingWrite, MediumNames[FMedium & 15], SpeedText(speed)), ltInfo);
  if (e.TestWrite) e.Log(std::string(">>> ") + kMsgTestWrite, ltInfo);
}

// A DVD+RW that was never formatted takes the basic format first; writes
// work while the rest of it goes on in the background.
void TThWrite::FormatDvdPlusRw() {
  static const uint8_t kFormat[12] = {0x00, 0x82, 0x00, 0x08, 0x00, 0x23, 0x05, 0x40, 0x98, 0x00, 0x00, 0x00};
  FFormatted = true;
  if (!FEngine.FormatUnit(0x11, kFormat, sizeof kFormat)) return;
  TPollPause pause(kFlushWaitSeconds * 1000, 2000);
  do {
    FEngine.ReadDiscInformation();
  } while (FEngine.LastSense()[12] == 0x04 && pause.Sleep());
}

// One WRITE (10), asked again while the drive is busy.
bool TThWrite::WriteChunk(uint32_t sector, const uint8_t* data, int bytes, int& retries) {
  for (;;) {
    if (Aborted()) {
      Fail(kMsgAbortedByUser);
      return false;
    }
    if (FEngine.Write10(sector, static_cast<uint16_t>(bytes / kSectorSize), data, static_cast<uint32_t>(bytes)))
      return true;
    // The first write to a blank DVD+RW meets the missing format here.
    if (FMedium == mtDVDPlusRW && FEngine.LastSense()[12] == 0x30 && !FFormatted) {
      FormatDvdPlusRw();
      continue;
    }
    if (!DriveBusy()) {
      Fail(std::string(kMsgWriterError) + " [" + FEngine.LastError() + "]");
      return false;
    }
    PaceSleep(kBusyPauseMs);
    if (++retries >= kBusyRetries) {
      Fail(kMsgWriterBusy);
      return false;
    }
  }
}

void TThWrite::WriteToDrive() {
  TQzRecorder& e = FEngine;
  TWriteState& state = e.WriteState();
  FChunkBytes = NextChunk();
  FImageMode = !FCache.ImageFileName().empty();
  if (FImageMode) FSessionStart = 0;
  const bool overwrite = !FImageMode && IsOverwritableMedium(FMedium);
  const int64_t limit = e.ImageSectors() * kSectorSize;
  if (FChunkBytes > 0 && overwrite && FSessionStart == 0) {
    // The session's first unit holds its descriptors; zeros stand in for it
    // until the rest is written (they also get an unformatted DVD+RW
    // formatted and an intermediate DVD-RW growing from its start).
    FHeldUnit.assign(kUnitBytes, 0);
    std::memcpy(FHeldUnit.data(), FTransfer.data(), static_cast<size_t>(FChunkBytes));
    const std::vector<uint8_t> zeros(kUnitBytes, 0);
    int retries = 0;
    if (!WriteChunk(0, zeros.data(), kUnitBytes, retries)) return;
    state.BytesWritten = std::min<int64_t>(state.BytesWritten + FChunkBytes, limit);
    FSectorOffset = kUnitBytes / kSectorSize;
    FChunkBytes = NextChunk();
  }
  while (FChunkBytes > 0 && !Failed()) {
    // Every unit on DVD media is a whole 32 sectors, the last one too (an
    // overwritable DVD-RW takes nothing shorter than 16); what lies beyond
    // the image in it is zeros, never the last chunk's bytes.
    if (FMedium != mtCDR && FMedium != mtCDRW && FChunkBytes < kUnitBytes) {
      std::memset(FTransfer.data() + FChunkBytes, 0, static_cast<size_t>(kUnitBytes - FChunkBytes));
      FChunkBytes = kUnitBytes;
    }
    state.SetCurrentWriteFile(FCache.CurrentFile());
    state.BytesWritten = std::min<int64_t>(state.BytesWritten + FChunkBytes, limit);
    if (FCapacityCountdown == 0 && FCapacityPolling && e.ReadBufferCapacity()) FCapacityCountdown = 5;
    --FCapacityCountdown;
    int retries = 0;
    if (!WriteChunk(FSessionStart + FSectorOffset, FTransfer.data(), FChunkBytes, retries)) return;
    FSectorOffset += static_cast<uint32_t>(FChunkBytes / kSectorSize);
    FChunkBytes = NextChunk();
  }
  if (Failed()) return;
  FDataWritten = true;
  if (overwrite) CommitStartOfDisc();
}

void TThWrite::CommitStartOfDisc() {
  TQzRecorder& e = FEngine;
  e.SynchronizeCache(false, 1800000);
  std::vector<uint8_t> unit = FHeldUnit;
  if (FSessionStart != 0) {
    // The sectors around the descriptor set keep what they hold: the system
    // area and whatever an earlier session placed right after its own set.
    unit.assign(kUnitBytes, 0);
    if (!e.ReadSectors(0, kUnitBytes / kSectorSize, unit.data(), kUnitBytes)) {
      Fail(fmt::format(kMsgCantReadDiscStart, e.LastError()));
      return;
    }
    const TDescriptorCopy& copy = e.DescriptorCopy();
    OverlayDescriptorSet(unit.data(), kUnitBytes / kSectorSize, copy.Bytes.data(), static_cast<uint32_t>(copy.Length));
  }
  int retries = 0;
  if (!WriteChunk(0, unit.data(), kUnitBytes, retries)) return;
  e.SynchronizeCache(false, 1800000);
}

void TThWrite::FinishDrive() {
  TQzRecorder& e = FEngine;
  if (FMedium != mtDVDRAM) e.ReadBufferCapacity();
  if (FMedium == mtDVDR || FMedium == mtDVDRWRestricted || FMedium == mtDVDRWSequential) {
    if (e.OnFinalizingTrack) e.OnFinalizingTrack(&e);
    e.SynchronizeCache(true, 1800000);
    e.DeviceFreeBufferSize = e.DeviceBufferSize.load();
    // The drive writes out its buffer now; disc information answers again
    // once it is done. The wait is bounded as the flush command is.
    TPollPause pause(kFlushWaitSeconds * 1000, 1000);
    while (!e.ReadDiscInformation()) {
      const int ms = pause.Next();
      if (ms == 0) {
        if (!Failed()) Fail(fmt::format(kMsgDriveNeverFinished, kFlushWaitSeconds));
        break;
      }
      // The buffer shown drains by a 960th of its size a second meanwhile.
      const uint32_t step = static_cast<uint32_t>(static_cast<uint64_t>(e.DeviceBufferSize) * ms / 960000);
      e.DeviceFreeBufferSize = e.DeviceFreeBufferSize > step ? e.DeviceFreeBufferSize - step : 0;
      PaceSleep(ms);
    }
  } else {
    if (e.OnFinalizingTrack) e.OnFinalizingTrack(&e);
    if (!e.SynchronizeCache(false, 120000)) e.SynchronizeCache(true, 120000);
  }
  e.DeviceBufferSize = 0;
  e.DeviceFreeBufferSize = 0;
  if (Failed()) return;
  // Once every sector is on the disc an abort no longer stops anything: the
  // session is closed all the same, so that the disc does not keep it open.
  if (!e.TestWrite && FMedium != mtDVDRAM && e.FinalizeTrack) CloseTrackAndSession();
  if (!Failed() && !e.TestWrite) CheckSessionReadable();
  if (Aborted() && !Failed()) e.Log(std::string(">>> ") + kMsgLateAbort, ltStatus);
  e.WaitReady(240000, 5000);
  if (FMedium != mtDVDRAM) e.ReadBufferCapacity();
  FEngine.ReturnDriveToIdle();
}

void TThWrite::CloseTrackAndSession() {
  TQzRecorder& e = FEngine;
  const auto steps = SessionCloseSteps(FMedium, static_cast<uint8_t>(FTrackNumber), e.FinalizeDisc,
                                       TSCSIDevice::ImmediateClose());
  if (!e.RunCloseSteps(steps, e.FinalizeDisc)) Fail(fmt::format(kMsgCloseFailed, e.LastError()));
}

// A write is reported done only when the disc shows the session closed and
// gives back its descriptors as they were written.
void TThWrite::CheckSessionReadable() {
  TQzRecorder& e = FEngine;
  if (IsSequentialMedium(FMedium) && e.FinalizeTrack) {
    if (!e.ReadDiscInformation()) {
      Fail(fmt::format(kMsgReadBackFailed, e.LastError()));
      return;
    }
    const TDiscInformation& info = e.DiscInformation();
    if (info.DiscStatus() != 2 && info.LastSessionState() == 1) {
      Fail(kMsgSessionStillOpen);
      return;
    }
  }
  std::string why;
  if (FImageMode) {
    std::vector<uint8_t> head;
    if (!ReadImageHead(FCache.ImageFileName(), kUnitBytes / kSectorSize, head, why) ||
        !DiscHolds(e, 0, head.data(), static_cast<uint32_t>(head.size() / kSectorSize), why))
      Fail(fmt::format(kMsgReadBackFailed, why));
    return;
  }
  const TDescriptorCopy& copy = e.DescriptorCopy();
  const uint32_t systemArea = 16;
  const uint32_t sectors = static_cast<uint32_t>(copy.Length / kSectorSize) - systemArea;
  const uint8_t* descriptors = copy.Bytes.data() + systemArea * kSectorSize;
  bool whole = DiscHolds(e, FSessionStart + systemArea, descriptors, sectors, why);
  if (whole && IsOverwritableMedium(FMedium) && FSessionStart != 0)
    whole = DiscHolds(e, systemArea, descriptors, sectors, why);
  if (!whole) Fail(fmt::format(kMsgReadBackFailed, why));
}

void TThWrite::Final() {
  TQzRecorder& e = FEngine;
  TWriteState& state = e.WriteState();
  FCache.Lock();
  state.SetCurrentWriteFile(FCache.CurrentFile());
  std::string result = FCache.ErrorText();
  if (result.empty()) result = FCache.DeferredError();
  FCache.Unlock();
  state.WriteInProgress = false;
  e.ReleaseCache();
  SetCloseAfterCommand(true);
  state.SetCurrentWriteFile("");
  e.FinishWrite(result);
}

}  // namespace fornax
