// The engine's drivers of a write: they lay the image out for the disc,
// start the read-ahead cache, wait until it is primed and hand over to the
// write thread. The end of a write comes back through OnWriteDone.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <fmt/format.h>
#include <thread>

#include "engine/base/bytes.h"
#include "engine/base/messages.h"
#include "engine/base/sector.h"
#include "engine/disc/volume_descriptors.h"
#include "engine/drive/medium_queries.h"
#include "engine/pipeline/cache_thread.h"
#include "engine/pipeline/erase.h"
#include "engine/base/pacing.h"
#include "engine/pipeline/write_thread.h"
#include "engine/recorder.h"

namespace fornax {
namespace {

// Bounds the DVD-RW preparation's wait for the drive's format.
constexpr int kFormatWaitSeconds = 1800;

}  // namespace

void TQzRecorder::Dispatch(std::function<void()> event) {
  if (!Dispatcher.Post(event)) event();
}

// The joins happen outside the guard: a done handler that runs on its
// worker may ask for the erase progress, or start the next write.
void TQzRecorder::WaitForWorkers() {
  std::shared_ptr<TThWrite> writer;
  std::shared_ptr<TEraseThread> eraser;
  TRetiredWorkers older;
  {
    std::lock_guard<std::mutex> lock(FWorkerGuard);
    writer = FWriter;
    eraser = FEraser;
    older = FRetiredWorkers.TakeOthers();
  }
  if (writer) writer->Thread().Join();
  if (eraser) eraser->Thread().Join();
}

// The last write (or erase) has ended; when this is its own done handler,
// its thread is still on its way out and is joined later, by another thread.
void TQzRecorder::RetireWorker(bool writer) {
  TRetiredWorkers ended;
  {
    std::lock_guard<std::mutex> lock(FWorkerGuard);
    if (writer) FRetiredWorkers.Retire(std::move(FWriter));
    else FRetiredWorkers.Retire(std::move(FEraser));
    ended = FRetiredWorkers.TakeOthers();
  }
}

int TQzRecorder::CacheFillPercent() const {
  std::lock_guard<std::mutex> lock(FCacheGuard);
  if (!FWrite.WriteInProgress || !FCache) return 0;
  const int64_t cached = FCache->CachedBytes();
  return static_cast<int>(std::lround(static_cast<double>(cached) * 100.0 / static_cast<double>(FCacheSize)));
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
  FStartRefusal.clear();
  WaitReady(10000, 500);
  const uint8_t code = CurrentMediumCode();
  const bool finalize = FinalizeDisc;
  FinalizeDisc = true;
  SetWriteParameters(TestWrite, UnderrunProtection, code, true);
  FinalizeDisc = finalize;
  WaitReady(10000, 500);

  if (IsOverwritableMedium(code)) {
    OverwritableSessionStart(code);
    return true;
  }
  if (!ReadDiscInformation()) return false;
  // The last track of the last session is the open (invisible) one on a disc
  // that takes another session; a closed disc has none and says so.
  if (!ReadTrackInfo(DiscInformation().LastTrackInLastSession())) return false;
  if (!(TrackInfo().Raw[7] & 0x01)) return false;
  FNextSessionStart = TrackInfo().NextWritableAddress;
  return true;
}

// A new session on an overwritable disc goes after the file system the start
// of the disc describes (the newest session), on a 32-sector boundary, never
// over it. A disc whose start holds data but no descriptors is not written.
void TQzRecorder::OverwritableSessionStart(uint8_t code) {
  const TDescriptorSet set = ScanDescriptorSet(
      [this](uint32_t lba, uint8_t* sector) { return ReadSectors(lba, 1, sector, 2048); }, 0);
  if (!set.Found) {
    if (!StartOfDiscBlank()) FStartRefusal = kMsgForeignData;
    return;
  }
  FNextSessionStart = (set.VolumeEnd + 31) / 32 * 32;
  // A DVD-RW that grows from its next writable address takes nothing beyond
  // it; the boundary may lie past what was recorded.
  if (code == mtDVDRWRestricted && ReadTrackInfo(1) && (TrackInfo().Raw[7] & 0x01)) {
    const uint32_t nwa = TrackInfo().NextWritableAddress;
    if (nwa < FNextSessionStart && nwa >= set.VolumeEnd) FNextSessionStart = nwa;
  }
}

// Blank: its first 32 sectors read as zeros, or cannot be read at all (an
// unformatted or unrecorded start).
bool TQzRecorder::StartOfDiscBlank() {
  std::vector<uint8_t> start(65536, 0);
  if (!ReadSectors(0, 32, start.data(), static_cast<uint32_t>(start.size()))) return true;
  return std::all_of(start.begin(), start.end(), [](uint8_t b) { return b == 0; });
}

bool TQzRecorder::DiscHoldsData() {
  const uint8_t code = MediumType();
  if (IsOverwritableMedium(code)) return FileSystemSectors() > 0 || !StartOfDiscBlank();
  return DiscStatus() != 0;
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
// format would erase them. A restricted-overwrite disc is only ever grown;
// the quick format is no fallback for it, since it resets the disc.
void TQzRecorder::PrepareRewritableDvd() {
  const uint8_t code = CurrentMediumCode();
  if (code != mtDVDRWRestricted && code != mtDVDRWSequential) return;
  if (code == mtDVDRWSequential && DiscStatus() != 0) return;
  static const uint8_t kSequential[12] = {0x00, 0xA2, 0x00, 0x08, 0x00, 0x00, 0x03, 0xE8, 0x54, 0x00, 0x00, 0x10};
  static const uint8_t kRestricted[12] = {0x00, 0x82, 0x00, 0x08, 0x00, 0x00, 0x00, 0x00, 0x4C, 0x00, 0x00, 0x10};
  static const uint8_t kFallback[12] = {0x00, 0x82, 0x00, 0x08, 0x00, 0x00, 0x00, 0x00, 0x54, 0x00, 0x00, 0x10};
  const bool sequential = code == mtDVDRWSequential;
  if (!FormatUnit(0x11, sequential ? kSequential : kRestricted, 12)) {
    if (!sequential) return;
    FormatUnit(0x11, kFallback, 12);
  }
  // A format once started runs to its end whatever is asked meanwhile.
  TPollPause pause(kFormatWaitSeconds * 1000, 5000);
  for (;;) {
    ReadDiscInformation();
    if (LastSense()[12] != 0x04) break;
    const int ms = pause.Next();
    if (ms == 0) break;
    WaitResponsive(ms);
  }
}

bool TQzRecorder::GiveUp(const std::string& text) {
  if (OnWriteDone) OnWriteDone(this, text);
  return false;
}

bool TQzRecorder::AbortRequested() {
  if (OnWaiting) OnWaiting();
  return FWrite.AbortWriteRequested;
}

std::string TQzRecorder::WriteRefusal(uint8_t medium, bool imageFile) {
  if (TestWrite && !MediumHasTestWrite(medium))
    return fmt::format(kMsgNoTestWrite, MediumNames[medium & 15], "MEDIUM");
  if (TestWrite && !FCapabilities.Has(capTestWrite))
    return fmt::format(kMsgNoTestWrite, MediumNames[medium & 15], "DRIVE");
  if (!IsSequentialMedium(medium)) {
    if (FinalizeDisc && !TestWrite) Log(">>> " + fmt::format(kMsgStaysWritable, MediumNames[medium & 15]), ltStatus);
    return "";
  }
  const int status = DiscStatus();
  if (status == 2) return kMsgDiscClosed;
  if (imageFile && status != 0) return kMsgDiscNotBlank;
  if (TestWrite && HasOpenSession()) return kMsgTestWriteOpenSession;
  return "";
}

TDiscSpace TQzRecorder::SpaceFor(int64_t sectors, int64_t start) {
  const uint8_t code = CurrentMediumCode();
  TDiscSpace space;
  space.Start = start;
  space.Needed = IsDvdMedium(code) ? (sectors + 31) / 32 * 32 : sectors;
  space.Capacity = CapacitySectors();
  if (IsOverwritableMedium(code))
    space.Free = space.Capacity > start ? space.Capacity - start : 0;
  else
    space.Free = FreeSectors();
  return space;
}

std::string TQzRecorder::SpaceShortage(int64_t sectors, int64_t start) {
  const TDiscSpace space = SpaceFor(sectors, start);
  if (space.Fits()) return "";
  return fmt::format(kMsgNoSpace, space.Needed, space.Start, space.Free);
}

TDiscSpace TQzRecorder::PlanBurn() {
  const uint8_t medium = MediumType();
  SetCurrentMediumCode(medium);
  LayingOutForBurn = true;
  PrepareImage(false, FHeaderImportTarget);
  LayingOutForBurn = false;
  return SpaceFor(ImageSectors(), SessionStart());
}

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
  input.Header = [this](const THeaderSink& sink) { WriteHeader(sink); };
  input.HeaderBytes = FLayout.HeaderSectors() * kSectorSize;
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

// Waits until the cache is primed. A cache that fails first ends the write
// here: OnWriteDone with its text, and no write thread.
bool TQzRecorder::WaitForCache() {
  for (;;) {
    TCacheThread* cache = nullptr;
    {
      std::lock_guard<std::mutex> lock(FCacheGuard);
      cache = FCache.get();
    }
    if (cache->Primed()) return true;
    std::string error = cache->ErrorText();
    // An abort while the cache fills ends the write before anything reaches
    // the drive.
    if (error.empty() && FWrite.AbortWriteRequested) error = kMsgAbortedByUser;
    if (!error.empty()) {
      cache->RequestAbort();
      FWrite.SetCurrentWriteFile(cache->CurrentFile());
      if (OnWriteDone) OnWriteDone(this, error);
      ReleaseCache();
      return false;
    }
    // Wakes as soon as the cache is primed; the window keeps answering.
    if (OnWaiting) OnWaiting();
    cache->WaitPrimed(50);
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

bool TQzRecorder::StartWriteThread(bool ToImageFile, int ImageFile) {
  RetireWorker(true);
  TCacheThread* cache = nullptr;
  {
    std::lock_guard<std::mutex> lock(FCacheGuard);
    cache = FCache.get();
  }
  std::lock_guard<std::mutex> lock(FWorkerGuard);
  FWriter = std::make_shared<TThWrite>(*this, *cache, ToImageFile, ImageFile);
  FWriter->Start();
  return true;
}

// From here until the drive is idle again an abort counts: the flag is
// cleared when the burn is asked for, and every wait looks at it.
bool TQzRecorder::BurnCompilation() {
  FWrite.AbortWriteRequested = false;
  FBurnRecord.Clear();
  const uint8_t medium = MediumType();
  FChunkSize = (medium == mtCDR || medium == mtCDRW) ? kChunkSizeCd : kChunkSizeDvd;
  SetCurrentMediumCode(medium);
  if (const std::string refusal = WriteRefusal(medium, false); !refusal.empty()) return GiveUp(refusal);
  // A session an interrupted write left open would take this one in as a
  // second track, or refuse its close: it is closed first.
  if (!TestWrite && HasOpenSession() && CloseOpenSession(false) != TCloseOutcome::Closed)
    return GiveUp(fmt::format(kMsgCloseFailed, LastError()));
  // A test write changes nothing on the disc, a format included; a disc to
  // be closed for good stays sequential, since an overwritable one cannot be.
  if (!TestWrite && !FinalizeDisc) PrepareRewritableDvd();
  if (AbortRequested()) return GiveUp(kMsgAbortedByUser);
  // Always laid out for the disc: an image file's layout would start the
  // session at sector 0 whatever the disc holds.
  LayingOutForBurn = true;
  PrepareImage(false, FHeaderImportTarget);
  BuildHeader(false, FHeaderImportTarget);
  LayingOutForBurn = false;
  if (!FStartRefusal.empty()) return GiveUp(FStartRefusal);
  if (const std::string lack = SpaceShortage(ImageSectors(), SessionStart()); !lack.empty()) return GiveUp(lack);
  if (AbortRequested()) return GiveUp(kMsgAbortedByUser);
  TCacheInput input = CompilationCacheInput();
  if (RecordForVerify) {
    FBurnRecord.Plan(FCompilation, FLayout.FirstFileLocation);
    input.Record = &FBurnRecord;
  }
  return StartCache(input) && StartWriteThread(false);
}

bool TQzRecorder::BurnISOFile(const std::string& FileName) {
  FWrite.AbortWriteRequested = false;
  FBurnRecord.Clear();
  const uint8_t medium = MediumType();
  SetCurrentMediumCode(medium);
  FChunkSize = (medium == mtCDR || medium == mtCDRW) ? kChunkSizeCd : kChunkSizeDvd;
  struct stat st {};
  const int fd = ::open(FileName.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    if (fd >= 0) ::close(fd);
    return GiveUp(fmt::format(kMsgCantOpenFile, FileName));
  }
  ::close(fd);
  if (const std::string refusal = WriteRefusal(medium, true); !refusal.empty()) return GiveUp(refusal);
  FLayout = TImageLayout{};
  FLayout.TrackSectors = SectorsFor(st.st_size);
  FLayout.VolumeSpaceSize = FLayout.TrackSectors;
  if (const std::string lack = SpaceShortage(FLayout.TrackSectors, 0); !lack.empty()) return GiveUp(lack);
  if (AbortRequested()) return GiveUp(kMsgAbortedByUser);

  TCacheInput input = CacheInput();
  input.ImageFileName = FileName;
  input.ImageFileBytes = st.st_size;
  if (RecordForVerify) {
    FBurnRecord.PlanImage(FileName, static_cast<uint32_t>(FLayout.SessionStart), FChunkSize);
    input.Record = &FBurnRecord;
  }
  return StartCache(input) && StartWriteThread(false);
}

void TQzRecorder::BuildISOFileThreaded(const std::string& FileName) {
  FWrite.AbortWriteRequested = false;
  ISOFileName = FileName;
  PrepareImage(true, FHeaderImportTarget);
  BuildHeader(true, FHeaderImportTarget);
  FChunkSize = kChunkSizeDvd;
  const int image = ::open(FileName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (image < 0) {
    GiveUp(fmt::format(kMsgCantCreateFile, FileName));
    return;
  }
  struct stat st {};
  const bool regular = ::fstat(image, &st) == 0 && S_ISREG(st.st_mode);
  TCacheInput input = CompilationCacheInput();
  // A regular file takes every source straight from the kernel at its
  // planned offset; anything else (a device, a pipe) is written in order.
  if (regular) {
    input.DirectTarget = image;
    input.DirectTargetName = FileName;
  }
  if (StartCache(input)) {
    StartWriteThread(true, image);
    return;
  }
  ::close(image);
  if (regular) ::unlink(FileName.c_str());
}

}  // namespace fornax
