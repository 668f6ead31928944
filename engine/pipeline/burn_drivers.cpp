// The engine's drivers of a write: they lay the image out for the disc,
// start the read-ahead cache, wait until it is primed and hand over to the
// write thread. The end of a write comes back through OnWriteDone.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <fmt/format.h>
#include <thread>

#include "engine/base/bytes.h"
#include "engine/base/messages.h"
#include "engine/base/sector.h"
#include "engine/pipeline/cache_thread.h"
#include "engine/base/pacing.h"
#include "engine/pipeline/write_thread.h"
#include "engine/recorder.h"

namespace fornax {
namespace {

// Bounds the DVD-RW preparation's wait for the drive's format.
constexpr int kFormatWaitSeconds = 1800;

}  // namespace

void TQzRecorder::Dispatch(std::function<void()> event) {
  if (Dispatcher) Dispatcher(std::move(event));
  else event();
}

int TQzRecorder::CacheFillPercent() const {
  std::lock_guard<std::mutex> lock(FCacheGuard);
  if (!FWrite.WriteInProgress || !FCache) return 0;
  const uint32_t cached = static_cast<uint32_t>(FCache->CachedBytes());
  return static_cast<int>(std::lround(static_cast<double>(cached) * 100.0 / FCacheSize));
}

void TQzRecorder::ReleaseCache() {
  std::unique_ptr<TCacheThread> cache;
  {
    std::lock_guard<std::mutex> lock(FCacheGuard);
    cache = std::move(FCache);
  }
  if (cache) cache->WaitForEnd();
}

void TQzRecorder::FinishWrite(const std::string& result) {
  Dispatch([this, result] {
    if (OnWriteDone) OnWriteDone(this, result);
  });
}

// Where the new session starts on the disc in the drive: after the file
// system on overwritable media, at the next writable address of the open
// track on the others.
bool TQzRecorder::QueryNextWritableAddress() {
  FNextSessionStart = 0;
  WaitReady(10000, 500);
  const uint8_t code = CurrentMediumCode();
  const bool finalize = FinalizeDisc;
  FinalizeDisc = true;
  SetWriteParameters(TestWrite, UnderrunProtection, code, true);
  FinalizeDisc = finalize;
  WaitReady(10000, 500);

  if (code == mtDVDRAM || code == mtDVDPlusRW) {
    alignas(16) uint8_t sector[2048];
    for (uint32_t lba = 32; lba >= 16; --lba) {
      if (!ReadSectors(lba, 1, sector, sizeof sector)) continue;
      if ((sector[0] == 1 || sector[0] == 2) && std::memcmp(sector + 1, "CD001", 5) == 0) {
        FNextSessionStart = GetLe32(sector + 80);
        break;
      }
    }
    return true;
  }
  if (!ReadDiscInformation()) return false;
  if (code == mtDVDRWRestricted) {
    if (!ReadTrackInfo(1)) return false;
    if (TrackInfo().NextWritableAddress != 0) FNextSessionStart = TrackInfo().NextWritableAddress;
    return true;
  }
  // The last track of the last session is the open (invisible) one on a disc
  // that takes another session; a closed disc has none and says so.
  if (!ReadTrackInfo(DiscInformation().LastTrackInLastSession())) return false;
  if (!(TrackInfo().Raw[7] & 0x01)) return false;
  FNextSessionStart = TrackInfo().NextWritableAddress;
  return true;
}

bool TQzRecorder::PrepareDiscSession() {
  const uint8_t code = MediumType();
  SetCurrentMediumCode(code);
  if (LayingOutForBurn) {
    if (!QueryNextWritableAddress()) Log(std::string(">>> ") + kMsgNextWritableAddress, ltStatus);
    if (FNextSessionStart > 0xFF000000u) FNextSessionStart = 0;
  }
  if (SessionToImport != 0) ImportDiscSession(static_cast<uint8_t>(SessionToImport), FHeaderImportTarget);
  return true;
}

// A blank DVD-RW is formatted for overwriting before it is written. A
// sequential disc that already holds sessions is left as it is: the quick
// format would erase them.
void TQzRecorder::PrepareRewritableDvd() {
  const uint8_t code = CurrentMediumCode();
  if (code != mtDVDRWRestricted && code != mtDVDRWSequential) return;
  if (code == mtDVDRWSequential && DiscStatus() != 0) return;
  static const uint8_t kSequential[12] = {0x00, 0xA2, 0x00, 0x08, 0x00, 0x00, 0x03, 0xE8, 0x54, 0x00, 0x00, 0x10};
  static const uint8_t kRestricted[12] = {0x00, 0x82, 0x00, 0x08, 0x00, 0x00, 0x00, 0x00, 0x4C, 0x00, 0x00, 0x10};
  static const uint8_t kFallback[12] = {0x00, 0x82, 0x00, 0x08, 0x00, 0x00, 0x00, 0x00, 0x54, 0x00, 0x00, 0x10};
  if (!FormatUnit(0x11, code == mtDVDRWSequential ? kSequential : kRestricted, 12))
    FormatUnit(0x11, kFallback, 12);
  for (int waited = 0; waited < kFormatWaitSeconds; waited += 5) {
    WaitResponsive(5000);
    ReadDiscInformation();
    if (LastSense()[12] != 0x04) break;
  }
}

// Waits in 100 ms steps until the cache is primed. A cache that fails first
// ends the write here: OnWriteDone with its text, and no write thread.
TCacheInput TQzRecorder::CacheInput() {
  TCacheInput input;
  input.CacheBytes = FCacheSize;
  input.TotalBytes = FLayout.TrackSectors * kSectorSize;
  input.WritePostGap = WritePostGap;
  input.ChunkSize = FChunkSize;
  input.CacheLock = &CacheLock();
  return input;
}

// The laid-out compilation: header, boot image, files.
TCacheInput TQzRecorder::CompilationCacheInput() {
  TCacheInput input = CacheInput();
  input.HeaderStream = &FHeaderStream;
  input.Compilation = &FCompilation;
  input.BootImageSectors = Bootable ? FLayout.BootImageSectors : 0;
  input.BootImageFile = Bootable ? BootImageFile : "";
  input.BootImageBytes = Bootable ? FBootImageBytes : 0;
  return input;
}

bool TQzRecorder::StartCache(const TCacheInput& input) {
  {
    std::lock_guard<std::mutex> lock(FCacheGuard);
    FCache = std::make_unique<TCacheThread>(input);
  }
  return WaitForCache();
}

void TQzRecorder::ReturnDriveToIdle() {
  SetWriteParameters(false, false, mtCDROM, false);
  SetSpeeds(MaxReadSpeed(), 2);
  RewindUnit();
  PreventAllowMediumRemoval(false);
  LoadMedium();
  RewindUnit();
  TestUnitReady(5000);
}

bool TQzRecorder::WaitForCache() {
  for (;;) {
    TCacheThread* cache = nullptr;
    {
      std::lock_guard<std::mutex> lock(FCacheGuard);
      cache = FCache.get();
    }
    if (cache->Primed()) return true;
    const std::string error = cache->ErrorText();
    if (!error.empty()) {
      FWrite.SetCurrentWriteFile(cache->CurrentFile());
      if (OnWriteDone) OnWriteDone(this, error);
      ReleaseCache();
      return false;
    }
    WaitResponsive(100, false);
  }
}

void TQzRecorder::WaitResponsive(int milliseconds, bool paced) {
  for (int slept = 0; slept < milliseconds; slept += 50) {
    if (OnWaiting) OnWaiting();
    const int step = std::min(50, milliseconds - slept);
    if (paced) PaceSleep(step);
    else std::this_thread::sleep_for(std::chrono::milliseconds(step));
  }
}

bool TQzRecorder::StartWriteThread(bool ToImageFile) {
  FWriter.reset();  // the last write ended; its thread is joined here
  TCacheThread* cache = nullptr;
  {
    std::lock_guard<std::mutex> lock(FCacheGuard);
    cache = FCache.get();
  }
  FWriter = std::make_unique<TThWrite>(*this, *cache, ToImageFile);
  FWriter->Start();
  return true;
}

bool TQzRecorder::BurnCompilation() {
  const uint8_t medium = MediumType();
  FChunkSize = (medium == mtCDR || medium == mtCDRW) ? kChunkSizeCd : kChunkSizeDvd;
  SetCurrentMediumCode(medium);
  PrepareRewritableDvd();
  // Always laid out for the disc: an image file's layout would start the
  // session at sector 0 whatever the disc holds.
  LayingOutForBurn = true;
  PrepareImage(false, FHeaderImportTarget);
  BuildHeader(false, FHeaderImportTarget);
  LayingOutForBurn = false;

  return StartCache(CompilationCacheInput()) && StartWriteThread(false);
}

bool TQzRecorder::BurnISOFile(const std::string& FileName) {
  const uint8_t medium = MediumType();
  SetCurrentMediumCode(medium);
  FChunkSize = (medium == mtCDR || medium == mtCDRW) ? kChunkSizeCd : kChunkSizeDvd;
  struct stat st {};
  const int fd = ::open(FileName.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    if (fd >= 0) ::close(fd);
    if (OnWriteDone) OnWriteDone(this, fmt::format(kMsgCantOpenFile, FileName));
    return false;
  }
  ::close(fd);
  FLayout = TImageLayout{};
  FLayout.TrackSectors = SectorsFor(st.st_size);
  FLayout.VolumeSpaceSize = FLayout.TrackSectors;

  TCacheInput input = CacheInput();
  input.ImageFileName = FileName;
  input.ImageFileBytes = st.st_size;
  return StartCache(input) && StartWriteThread(false);
}

void TQzRecorder::BuildISOFileThreaded(const std::string& FileName) {
  ISOFileName = FileName;
  PrepareImage(true, FHeaderImportTarget);
  BuildHeader(true, FHeaderImportTarget);
  FChunkSize = kChunkSizeDvd;
  if (StartCache(CompilationCacheInput())) StartWriteThread(true);
}

}  // namespace fornax
