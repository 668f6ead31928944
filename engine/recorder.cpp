#include "engine/recorder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>

#include "engine/base/messages.h"
#include "engine/base/sector.h"
#include "engine/drive/write_parameters.h"
#include "engine/image/image_file_writer.h"
#include "engine/image/stream_ex.h"
#include "engine/pipeline/cache_thread.h"
#include "engine/pipeline/erase.h"
#include "engine/pipeline/write_thread.h"

namespace fornax {

TQzRecorder::TQzRecorder(TComponent* owner)
    : TSCSIDevice(owner),
      FMedium(*this, [this](uint8_t code) {
        // The space queries ask with the page of a closing write in place.
        const bool finalize = FinalizeDisc;
        FinalizeDisc = true;
        const bool ok = SetWriteParameters(TestWrite, UnderrunProtection, code, true);
        FinalizeDisc = finalize;
        return ok;
      }),
      FCompilation(*this) {
  WritePostGap = true;
  ClearCompilation(65535, 8191);
  SetCacheSize(4194304);
  JolietFileSystem = true;
  FinalizeTrack = true;
  FVersion = "1.23";
  UnderrunProtection = true;
}

TQzRecorder::~TQzRecorder() {
  // A write or erase still running ends before the engine goes away.
  AbortWrite();
  WaitForWorkers();
  std::lock_guard<std::mutex> lock(FCacheGuard);
  FCache.reset();
}

void TQzRecorder::SetWriteSpeed(uint16_t value) {
  SetCdSpeed(ReadSpeed, value);
  FWriteSpeed = value;
}

bool TQzRecorder::SetWriteParameters(bool TestWriteOn, bool Underrun, uint8_t MediumCode,
                                     bool NextSessionAllowed, bool CloseDisc) {
  if (MediumCode == mtDVDRAM) return true;
  alignas(16) uint8_t answer[512] = {};
  if (!ModeSense10(0x05, false, answer, sizeof answer)) return false;
  TWriteParametersInput in;
  in.TestWrite = TestWriteOn;
  in.UnderrunProtection = Underrun;
  in.MediumCode = MediumCode;
  in.NextSessionAllowed = NextSessionAllowed;
  in.FinalizeDisc = FinalizeDisc;
  in.CloseDisc = CloseDisc;
  in.LinkSizeQuirk = Quirks().LinkSizeValid;
  in.DriveHasUnderrunProtection = FCapabilities.Has(capUnderrunProtection);
  in.DriveHasTestWrite = FCapabilities.Has(capTestWrite);
  in.PageSaysBufferUnderrunFree = (FCapabilities.PageCopy()[4] & 0x80) != 0;
  const auto page = BuildWriteParametersPage(answer + FindModePage(answer, 0x05, 8), in);
  alignas(16) uint8_t list[8 + kWriteParametersPageSize] = {};
  std::copy(page.begin(), page.end(), list + 8);
  return ModeSelect10(list, static_cast<uint32_t>(page[1]) + 10);
}

void TQzRecorder::SetCacheSize(int64_t value) {
  FCacheSize = value < 2097152 ? 2097152 : value / 2048 * 2048;
}

void TQzRecorder::ClearCompilation(int MaxFiles, int MaxDirs) {
  FCompilation.ClearCompilation(MaxFiles, MaxDirs);
}

void TQzRecorder::AddingFile(const std::string& FullPath, std::string& LongFileName,
                             std::string& ShortFileName, TDateTime& DateTime, int Attr,
                             int64_t FileSize, bool& Skip) {
  if (OnAddFile) OnAddFile(this, FullPath, LongFileName, ShortFileName, DateTime, Attr, FileSize, Skip);
}

void TQzRecorder::AddingDirectory(std::string& LongName, std::string& ShortName, bool& Skip) {
  if (OnAddDir) OnAddDir(this, LongName, ShortName, Skip);
}

// Booting needs a boot file that exists; its size is taken now, and the
// image reserves exactly that many sectors for it.
void TQzRecorder::CheckBootImage() {
  FBootImageBytes = 0;
  struct stat st {};
  if (BootImageFile.empty() || ::stat(BootImageFile.c_str(), &st) != 0) {
    Bootable = false;
    return;
  }
  if (!Bootable) return;
  try {
    TFileStreamEx boot(BootImageFile, fmOpenRead | fmShareDenyNone);
    FBootImageBytes = boot.Size();
  } catch (const EStreamError& error) {
    Log(">>> " + std::string(error.what()), ltImageError);
    Bootable = false;
    return;
  }
  // An empty boot image would leave the catalog pointing at the first file.
  if (FBootImageBytes == 0) {
    Log(">>> " + fmt::format(kMsgEmptyBootImage, BootImageFile), ltImageError);
    Bootable = false;
  }
}

bool TQzRecorder::PrepareImage(bool ForImageFile, TDEntry* ImportTarget) {
  (void)ImportTarget;
  CheckBootImage();
  FNextSessionStart = 0;
  if (!ForImageFile) PrepareDiscSession();
  TLayoutOptions options;
  options.SessionStart = static_cast<int32_t>(FNextSessionStart);
  options.Joliet = JolietFileSystem;
  options.Bootable = Bootable;
  options.BootImageBytes = FBootImageBytes;
  options.RockRidge = RockRidge;
  FLayout = PlanLayout(FCompilation, options);
  // The report follows the caller's DoDebug, so a layout asked for quietly
  // stays quiet and one asked for with the report gets it.
  if (DoDebug)
    for (const std::string& line : LayoutReport(FLayout, FileCount())) Log(line, ltInfo);
  return true;
}

int64_t TQzRecorder::ImageSectors() const {
  if (WritePostGap && FLayout.TrackSectors < 300) return 300;
  return FLayout.TrackSectors;
}

TVolumeIdentifiers TQzRecorder::VolumeIdentifiers() const {
  TVolumeIdentifiers ids;
  ids.System = IdSystem;
  ids.Volume = IdVolume;
  ids.VolumeSet = IdVolumeSet;
  ids.Publisher = IdPublisher;
  ids.Preparer = IdPreparer;
  ids.Application = IdApplication;
  ids.Copyright = FileCopyright;
  ids.Abstract = FileAbstract;
  ids.Bibliographic = FileBibliographic;
  ids.JolietCreation = DateCreation;
  ids.JolietModification = DateModification;
  return ids;
}

void TQzRecorder::BuildHeader(bool ForImageFile, TDEntry* ImportTarget) {
  FHeaderForImageFile = ForImageFile;
  FHeaderImportTarget = ImportTarget;
  FHeaderTime = Now();
  BuildDescriptorCopy(FCompilation, FLayout, VolumeIdentifiers(), FHeaderTime, FDescriptorCopy);
  FLayout.TrackSectors = FLayout.VolumeSpaceSize - FLayout.SessionStart;
}

void TQzRecorder::WriteHeader(const THeaderSink& Sink) const {
  WriteHeaderStream(FCompilation, FLayout, VolumeIdentifiers(), FHeaderTime, Sink);
}

std::vector<uint8_t> TQzRecorder::HeaderStream() const {
  std::vector<uint8_t> header;
  header.reserve(static_cast<size_t>(FLayout.HeaderSectors() * kSectorSize));
  WriteHeader([&header](const uint8_t* bytes, size_t length) { header.insert(header.end(), bytes, bytes + length); });
  return header;
}

void TQzRecorder::AppendFileData(TFileStreamEx& Image) {
  TChangedFiles changed;
  TImageSources sources{FCompilation, FLayout, {}, "", 0,
                        [this](const std::string& m, uint8_t t) { Log(m, t); }, &FWrite.BytesWritten};
  fornax::AppendFileData(Image, sources, changed);
  for (const std::string& path : changed) Log(">>> " + fmt::format(kMsgSourceChanged, path), ltImageError);
}

void TQzRecorder::BuildISOFile(const std::string& FileName, bool QuickSave) {
  if (!QuickSave) return BuildISOFileThreaded(FileName);
  PrepareImage(true, FHeaderImportTarget);
  BuildHeader(true, FHeaderImportTarget);
  FWrite.BytesWritten = 0;
  TImageSources sources{FCompilation,
                        FLayout,
                        [this](const THeaderSink& sink) { WriteHeader(sink); },
                        Bootable ? BootImageFile : std::string(),
                        FBootImageBytes,
                        [this](const std::string& m, uint8_t t) { Log(m, t); },
                        &FWrite.BytesWritten};
  const TChangedFiles changed = WriteImageFile(FileName, sources);
  for (const std::string& path : changed) Log(">>> " + fmt::format(kMsgSourceChanged, path), ltImageError);
  if (OnWriteDone) OnWriteDone(this, changed.empty() ? "" : fmt::format(kMsgSourceChanged, changed.front()));
}

}  // namespace fornax
