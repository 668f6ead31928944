#pragma once
// TQzRecorder: the disc-writing engine as one component. It owns the
// compilation, the layout and the header, and reports through its events and
// the log it inherits.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/base/date_time.h"
#include "engine/disc/disc_verify.h"
#include "engine/disc/extraction.h"
#include "engine/drive/capabilities.h"
#include "engine/drive/medium_queries.h"
#include "engine/drive/scsi_device.h"
#include "engine/image/compilation.h"
#include "engine/image/header_builder.h"
#include "engine/image/layout.h"
#include "engine/pipeline/burn_record.h"
#include "engine/pipeline/event_dispatcher.h"
#include "engine/pipeline/session_closing.h"
#include "engine/pipeline/worker_thread.h"
#include "engine/pipeline/write_state.h"

namespace fornax {

class TFileStreamEx;
class TCacheThread;
struct TCacheInput;
class TThWrite;
class TEraseThread;

using TAddFileEvent = std::function<void(TObject* Sender, const std::string& FullPath,
                                         std::string& LongFileName, std::string& ShortFileName,
                                         TDateTime& DateTime, int Attr, int64_t FileSize,
                                         bool& Skip)>;
using TAddDirEvent =
    std::function<void(TObject* Sender, std::string& LongName, std::string& ShortName, bool& Skip)>;
using TWriteDoneEvent = std::function<void(TObject* Sender, const std::string& Error)>;
using TNotifyEvent = std::function<void(TObject* Sender)>;
using TEraseDoneEvent = std::function<void(TObject* Sender, bool WithError)>;

// Where a session would go on the disc in the drive and whether it fits.
struct TDiscSpace {
  int64_t Start = 0;     // its first sector
  int64_t Needed = 0;    // sectors it takes there (whole 32-sector units on DVD)
  int64_t Free = 0;      // sectors free from its start
  int64_t Capacity = 0;  // the disc's capacity
  bool Fits() const { return Needed <= Free; }
};

class TQzRecorder : public TSCSIDevice, private TCompilationHost {
 public:
  explicit TQzRecorder(TComponent* owner = nullptr);
  ~TQzRecorder() override;

  // Published properties (ASPIInitialized, DeviceBufferSize,
  // DeviceFreeBufferSize and OnDeviceChange come with the device component).
  uint16_t DeviceMaxWriteSpeed() const { return FCapabilities.DeviceMaxWriteSpeed(); }
  uint16_t DeviceMaxReadSpeed() const { return FCapabilities.DeviceMaxReadSpeed(); }
  bool UnderrunProtection = true;
  TEraseDoneEvent OnEraseDone;
  uint16_t ReadSpeed = 0;
  uint16_t WriteSpeed() const { return FWriteSpeed; }
  // Sends the speed to the drive (with the current read speed), then keeps it.
  void SetWriteSpeed(uint16_t value);
  bool FinalizeDisc = false;
  bool TestWrite = false;
  // Whether a burn keeps what it sends for VerifyLastBurn: a hash of every
  // byte, worth its cost only when a verify is going to be asked.
  bool RecordForVerify = true;
  bool ReplaceFile = false;
  bool FinalizeTrack = true;
  bool PerformOPC = false;
  std::string IdVolume, IdSystem, IdVolumeSet, IdPublisher, IdPreparer, IdApplication;
  std::string FileCopyright, FileAbstract, FileBibliographic;
  TDateTime DateCreation = 0, DateModification = 0, DateEffective = 0, DateExpiration = 0;
  int64_t CacheSize() const { return FCacheSize; }
  // Below 2 MiB the cache gets 2 MiB; otherwise whole sectors.
  void SetCacheSize(int64_t value);
  std::string ISOFileName;
  bool JolietFileSystem = true;
  // Rock Ridge in the ISO 9660 tree: modes, owners, times, whole names and
  // symbolic links. Set before the compilation is filled: entries added
  // without it carry none of it.
  bool RockRidge = false;
  // Whether entries imported from a session keep their setuid and setgid
  // bits; without it they are cleared, and the log names them.
  bool KeepSetuid = false;
  TAddFileEvent OnAddFile;
  TAddDirEvent OnAddDir;
  TWriteDoneEvent OnWriteDone;
  TNotifyEvent OnFinalizingTrack;
  const std::string& Version() const { return FVersion; }
  void SetVersion(const std::string&) {}  // the version is the component's own
  bool WritePostGap = true;

  // Public settings.
  bool Bootable = false;
  std::string BootImageFile;
  bool KeepLastFolderOnly = false;
  int16_t SessionToImport = 0;
  int64_t CompilationBytes() const { return FCompilation.CompilationBytes(); }
  TDEntry* RootDirectory() const { return FCompilation.RootDirectory(); }

  // The compilation.
  TCompilation& Compilation() { return FCompilation; }
  const TCompilation& Compilation() const { return FCompilation; }
  void ClearCompilation(int MaxFiles, int MaxDirs);
  int DirectoryCount() const { return FCompilation.DirectoryCount(); }
  int FileCount() const { return FCompilation.FileCount(); }
  TDEntry* FindDirectory(const std::string& Path) const { return FCompilation.FindDirectory(Path); }
  TFEntry* FindEntry(const TDEntry* Dir, const std::string& Name) const { return FCompilation.FindEntry(Dir, Name); }
  TDEntry* ForceDirectoryPath(const std::string& Path) { return FCompilation.ForceDirectoryPath(Path); }
  TDEntry* AddDirectoryByName(TDEntry* Parent, const std::string& Name, int Attr) { return FCompilation.AddDirectoryByName(Parent, Name, Attr); }
  TDEntry* AddDirectory(TDEntry* Parent, const TSearchRec& Listing) { return FCompilation.AddDirectory(Parent, Listing); }
  bool AddEntry(TDEntry* Dir, const TSearchRec& Listing, const std::string& SourcePath, int32_t ExistingLocation, bool ArchiveMode) {
    return FCompilation.AddEntry(Dir, Listing, SourcePath, ExistingLocation, ArchiveMode);
  }
  bool AddFileEntry(const std::string& DestPath, const std::string& SourceFile, bool KeepPath) {
    return FCompilation.AddFileEntry(DestPath, SourceFile, KeepPath);
  }
  bool AddDirectoryTree(TDEntry* Dest, const std::string& Folder, const std::string& Mask, int AttrMask,
                        bool Recursive, bool KeepPath, bool ArchiveOnly, const std::atomic<bool>* Cancel = nullptr) {
    return FCompilation.AddDirectoryTree(Dest, Folder, Mask, AttrMask, Recursive, KeepPath, ArchiveOnly, Cancel);
  }
  void DeleteEntry(TDEntry* Dir, TFEntry* Entry) { FCompilation.DeleteEntry(Dir, Entry); }
  bool DeleteDirectory(TDEntry* Dir) { return FCompilation.DeleteDirectory(Dir); }
  void RemoveEntryByName(const std::string& DirPath, const std::string& Name) { FCompilation.RemoveEntryByName(DirPath, Name); }
  void RemoveEmptyDirectories() { FCompilation.RemoveEmptyDirectories(); }
  void ClearArchiveBits() { FCompilation.ClearArchiveBits(); }
  static int64_t FolderSize(const std::string& Path) { return TCompilation::FolderSize(Path); }

  // Layout and image production.
  bool PrepareImage(bool ForImageFile, TDEntry* ImportTarget);
  int64_t ImageSectors() const;
  const TImageLayout& Layout() const { return FLayout; }
  int32_t SessionStart() const { return FLayout.SessionStart; }
  // Dates the header and keeps its descriptor set; the header itself is made
  // as it is written (WriteHeader), never held whole.
  void BuildHeader(bool ForImageFile, TDEntry* ImportTarget);
  void WriteHeader(const THeaderSink& Sink) const;
  // The whole header of the last BuildHeader, made in memory.
  std::vector<uint8_t> HeaderStream() const;
  const TDescriptorCopy& DescriptorCopy() const { return FDescriptorCopy; }
  // Quick save writes the whole file before it returns and throws EStreamError
  // on a file error (the partial image is removed). A finished image fires
  // OnWriteDone: with an empty Error, or naming a source that changed size.
  void BuildISOFile(const std::string& FileName, bool QuickSave);
  void AppendFileData(TFileStreamEx& Image);

  // Writing: the burn drivers start the cache and the write thread and
  // return; the end comes through OnWriteDone on the owner's thread.
  bool BurnCompilation();
  // Lays the compilation out from where its session would start on the disc
  // in the drive and tells whether it fits; the burn checks the same again.
  TDiscSpace PlanBurn();
  bool BurnISOFile(const std::string& FileName);
  bool StartWriteThread(bool ToImageFile, int ImageFile = -1);
  void AbortWrite() { FWrite.AbortWriteRequested = true; }
  bool QueryNextWritableAddress();
  // Set by the burn driver around its layout, so that the layout asks the
  // drive where the new session starts.
  bool LayingOutForBurn = false;
  int64_t TrackSectors() const { return FLayout.TrackSectors; }
  // Bytes of the image handed to its target so far.
  int64_t BytesWritten() const { return FWrite.BytesWritten.load(); }
  std::string CurrentWriteFile() const { return FWrite.CurrentWriteFile(); }
  bool WriteInProgress() const { return FWrite.WriteInProgress; }
  int CacheFillPercent() const;
  TWriteState& WriteState() { return FWrite; }

  // Existing discs: a session's tree into the compilation, and files out.
  bool ImportDiscSession(int Session, TDEntry* Target);
  // Whether a session's file system claims sectors its track does not hold:
  // a write cut short whose session was closed afterwards.
  bool SessionCutShort(int Session);
  bool ReadJolietDirectory(uint32_t Extent, uint32_t Length, TDEntry* Target);
  bool ReadISODirectory(uint32_t Extent, uint32_t Length, TDEntry* Target);
  // False with LastError naming why (a read that failed, a file not made).
  bool ExtractFile(const TFEntry* Entry, const std::string& Destination);
  // The same into the file `Name` of a folder opened for extraction.
  bool ExtractFile(const TFEntry* Entry, const TExtractionFolder& Folder, const std::string& Name);
  // A directory of the session and everything below it.
  void ExtractTree(const TDEntry* Directory, const TExtractionFolder& Folder, TTreeExtraction& Result);
  const std::string& ExtractError() const { return FExtractError; }

  // Verify. What the last burn sent (its files' hashes, or an image file's
  // chunks), kept until the next write starts.
  const TBurnRecord& LastBurn() const { return FBurnRecord; }
  // Reads back the session the last burn wrote, through the drive, and
  // compares it with what was sent; an image file burn sector by sector.
  TVerifyReport VerifyLastBurn();
  // A session of the disc (255: the last) against local files.
  TVerifyReport VerifySession(int Session, const std::vector<TLocalFile>& Locals);

  // Closing what a write leaves open. A step is asked again while the drive
  // is busy; an immediate one is waited for.
  bool RunCloseStep(const TCloseStep& step, bool oneMoreTry);
  // The steps of a session's close, after the write parameters that a CD's
  // or DVD-R's close obeys.
  bool RunCloseSteps(const std::vector<TCloseStep>& steps, bool finalize);
  // Whether the disc holds anything a write could destroy: sessions on a
  // write-once disc, a file system or other data on an overwritable one.
  bool DiscHoldsData();
  // A write-once disc whose last session holds data but was never closed.
  bool HasOpenSession();
  // Closes that session (its open tracks first); with `finalize` the disc.
  TCloseOutcome CloseOpenSession(bool finalize);

  // Erasing: the erase command, then a thread that waits for the drive.
  bool EraseDisc(uint8_t Quick);
  int EraseProgress() const;
  // The last erase thread's percentage, also once it has ended.
  int LastEraseProgress() const;

  // Called on the caller's thread, every 50 ms or so, while a burn driver
  // waits there (for the cache to fill, for a DVD-RW to be formatted): a
  // window lets its events run, so it stays responsive.
  std::function<void()> OnWaiting;

  // Runs a completion event on the owner's thread (a GUI's event loop, a
  // queue the command line drains). Without one, events run where they occur,
  // and a done handler run on a worker may start the next write or erase.
  // It may be set or cleared while a worker runs.
  TEventDispatcher Dispatcher;
  void Dispatch(std::function<void()> event);
  // Waits until the threads of the writes and erases that were started have
  // ended, done events handed over included; whatever a done event reaches
  // can go after it. Not from a done handler (its own thread is skipped).
  void WaitForWorkers();

  // For the worker threads.
  void ReleaseCache();
  void FinishWrite(const std::string& result);
  void FinishErase(bool withError);

  // The drive's capabilities and the medium it holds.
  bool RefreshCapabilities() override { return FCapabilities.RefreshCapabilities(); }
  uint32_t Capabilities() const { return FCapabilities.Capabilities(); }
  const TDriveCapabilities& DriveCapabilities() const { return FCapabilities; }
  uint16_t MaxWriteSpeed() { return FCapabilities.MaxWriteSpeed(); }
  uint16_t MaxReadSpeed() { return FCapabilities.MaxReadSpeed(); }
  uint16_t CurrentWriteSpeed() { return FCapabilities.CurrentWriteSpeed(); }
  uint8_t MediumType() { return FMedium.MediumType(); }
  bool IsErasable() { return FMedium.IsErasable(); }
  int DiscStatus() { return FMedium.DiscStatus(); }
  int SessionCount() { return FMedium.SessionCount(); }
  uint32_t UsedSectors() { return FMedium.UsedSectors(); }
  uint32_t FreeSectors() { return FMedium.FreeSectors(); }
  uint32_t CapacitySectors() { return FMedium.CapacitySectors(); }
  uint32_t FileSystemSectors() { return FMedium.FileSystemSectors(); }
  bool DiscInfo(TDiscInfoRecord& Record) { return FMedium.DiscInfo(Record); }
  // With `CloseDisc` a DVD-R or sequential DVD-RW border closes the disc.
  bool SetWriteParameters(bool TestWriteOn, bool Underrun, uint8_t MediumCode, bool NextSessionAllowed,
                          bool CloseDisc = false);
  bool SetSpeeds(uint16_t Read, uint16_t Write) { return SetCdSpeed(Read, Write); }
  // What the writer and the eraser leave the drive in: plain data mode at
  // full read speed, tray unlocked, ready.
  void ReturnDriveToIdle();

 private:
  // TCompilationHost
  void Report(const std::string& Message, uint8_t mType) override { Log(Message, mType); }
  void AddingFile(const std::string& FullPath, std::string& LongFileName, std::string& ShortFileName,
                  TDateTime& DateTime, int Attr, int64_t FileSize, bool& Skip) override;
  void AddingDirectory(std::string& LongName, std::string& ShortName, bool& Skip) override;
  bool ReplacesFiles() const override { return ReplaceFile; }
  bool KeepsLastFolderOnly() const override { return KeepLastFolderOnly; }
  bool RecordsRockRidge() const override { return RockRidge; }
  bool KeepsSetuid() const override { return KeepSetuid; }

  TVolumeIdentifiers VolumeIdentifiers() const;
  void CheckBootImage();
  bool PrepareDiscSession();
  void BuildISOFileThreaded(const std::string& FileName);
  // What every cache reads (size, track length, post-gap, chunks, lock);
  // the compilation's adds the header, the boot image and the files.
  TCacheInput CacheInput();
  TCacheInput CompilationCacheInput();
  // Starts the read-ahead cache and waits until it has filled.
  bool StartCache(const TCacheInput& input);
  bool WaitForCache();
  // Sleeps in short steps, calling OnWaiting between them; a paced wait is
  // one on the drive (see PaceSleep).
  void WaitResponsive(int milliseconds, bool paced = true);
  void PrepareRewritableDvd();
  // A burn driver that stops before the writer starts: OnWriteDone with the
  // reason, on the caller's thread.
  bool GiveUp(const std::string& text);
  // Lets the caller's events run and tells whether an abort was asked for.
  bool AbortRequested();
  // Why the write asked for cannot be made on this disc (empty: it can).
  std::string WriteRefusal(uint8_t medium, bool imageFile);
  TDiscSpace SpaceFor(int64_t sectors, int64_t start);
  // Why `sectors` from `start` do not fit the disc (empty: they fit).
  std::string SpaceShortage(int64_t sectors, int64_t start);
  // After the file system at the start of an overwritable disc.
  void OverwritableSessionStart(uint8_t code);
  bool StartOfDiscBlank();

 private:
  TDriveCapabilities FCapabilities{*this};
  TMediumQueries FMedium;
  TCompilation FCompilation;
  TImageLayout FLayout;
  TDateTime FHeaderTime = 0;  // dates the header of the last BuildHeader
  TDescriptorCopy FDescriptorCopy;
  int64_t FBootImageBytes = 0;
  bool FHeaderForImageFile = true;
  TDEntry* FHeaderImportTarget = nullptr;
  int64_t FCacheSize = 0;
  uint16_t FWriteSpeed = 0;
  std::string FVersion;
  uint32_t FNextSessionStart = 0;
  std::string FStartRefusal;  // an overwritable disc holding data that is no session
  std::string FExtractError;
  int FChunkSize = 65536;
  TWriteState FWrite;
  TBurnRecord FBurnRecord;
  mutable std::mutex FCacheGuard;
  std::unique_ptr<TCacheThread> FCache;
  // The current (or last) write and erase, and those a done handler run on
  // their own thread replaced; guarded by FWorkerGuard.
  mutable std::mutex FWorkerGuard;
  void RetireWorker(bool writer);
  std::shared_ptr<TThWrite> FWriter;
  std::shared_ptr<TEraseThread> FEraser;
  TRetiredWorkers FRetiredWorkers;
};

}  // namespace fornax
