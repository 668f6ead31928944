#pragma once
// The compilation: the tree of directories and files the next image or disc
// will hold, with its tables, capacity limits and running size total.

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engine/base/date_time.h"
#include "engine/image/entries.h"
#include "engine/image/record_table.h"
#include "engine/platform/dir_listing.h"
#include "engine/platform/folder_walk.h"
#include "engine/platform/read_access.h"

namespace fornax {

class TListingReadAhead;

// What the compilation needs from the engine that owns it: the log, the two
// add events and the two switches that change how entries are added.
class TCompilationHost {
 public:
  virtual ~TCompilationHost() = default;
  virtual void Report(const std::string& Message, uint8_t mType) = 0;
  virtual void AddingFile(const std::string& FullPath, std::string& LongFileName,
                          std::string& ShortFileName, TDateTime& DateTime, int Attr,
                          int64_t FileSize, bool& Skip) = 0;
  virtual void AddingDirectory(std::string& LongName, std::string& ShortName, bool& Skip) = 0;
  virtual bool ReplacesFiles() const = 0;
  virtual bool KeepsLastFolderOnly() const = 0;
  // Rock Ridge: entries keep their POSIX attributes and whole names, and
  // symbolic links found in folders are recorded as links.
  virtual bool RecordsRockRidge() const { return false; }
  // Entries of an imported session keep their setuid and setgid bits.
  virtual bool KeepsSetuid() const { return false; }
};

// What FolderSize counted, and whether its cancel flag cut the count short.
struct TFolderSize {
  int64_t Bytes = 0;
  bool Cut = false;
};

// Walks of the local file system (AddDirectoryTree, FolderSize) go through no
// symbolic link to a folder below the folder they were given, enter each
// folder once, leave kernel file systems (/proc, /sys, /dev...) alone and never
// open special files; see TFolderWalk. Each one may run on a worker thread,
// and each takes a cancel flag (null: never cancelled) that another thread
// may set while it runs; the walk then stops at its next entry. Nothing else
// may be shared: while AddDirectoryTree runs, only its own thread touches the
// compilation, and the host's Report, AddingFile and AddingDirectory are
// called on that thread.
class TCompilation {
 public:
  explicit TCompilation(TCompilationHost& host);
  ~TCompilation();
  TCompilation(const TCompilation&) = delete;
  TCompilation& operator=(const TCompilation&) = delete;

  void ClearCompilation(int MaxFiles, int MaxDirs);
  int DirectoryCount() const { return static_cast<int>(FDirs.Count()) - 1; }
  int FileCount() const { return static_cast<int>(FFiles.Count()); }
  int MaxFiles() const { return FMaxFiles; }
  int MaxDirs() const { return FMaxDirs; }
  TDEntry* RootDirectory() const { return FRoot; }
  int64_t CompilationBytes() const { return FCompilationBytes; }
  bool RecordsRockRidge() const { return FHost.RecordsRockRidge(); }
  bool KeepsSetuid() const { return FHost.KeepsSetuid(); }

  TDEntry* FindDirectory(const std::string& Path) const;
  TFEntry* FindEntry(const TDEntry* Dir, const std::string& Name) const;
  TDEntry* ForceDirectoryPath(const std::string& Path);
  TDEntry* AddDirectoryByName(TDEntry* Parent, const std::string& Name, int Attr);
  TDEntry* AddDirectory(TDEntry* Parent, const TSearchRec& Listing);
  bool AddEntry(TDEntry* Dir, const TSearchRec& Listing, const std::string& SourcePath,
                int32_t ExistingLocation, bool ArchiveMode);
  bool AddFileEntry(const std::string& DestPath, const std::string& SourceFile, bool KeepPath);
  // Folder's files (matching Mask and AttrMask) and, when Recursive, its
  // subfolders into Dest. What cannot be added is reported and left out, the
  // rest goes in. False when Dest is missing, when the compilation is full,
  // and when Cancel was set ("SCAN CANCELLED"): the files added until then
  // stay, each one whole, and subfolders the cut left empty are removed (the
  // folders of a kept source path stay, as after an empty source folder;
  // RemoveEmptyDirectories takes them).
  bool AddDirectoryTree(TDEntry* Dest, const std::string& Folder, const std::string& Mask,
                        int AttrMask, bool Recursive, bool KeepPath, bool ArchiveOnly,
                        const std::atomic<bool>* Cancel = nullptr);

  void DeleteEntry(TDEntry* Dir, TFEntry* Entry);
  bool DeleteDirectory(TDEntry* Dir);
  void RemoveEntryByName(const std::string& DirPath, const std::string& Name);
  void RemoveEmptyDirectories();
  void ClearArchiveBits();
  // Bytes of a file, or of every file below a folder when Path ends with "/",
  // counting what AddDirectoryTree would take. Static and without shared
  // state: any thread may run it, several at once.
  static int64_t FolderSize(const std::string& Path);
  // The same, stopping when Cancel is set: Bytes then holds what was counted.
  static TFolderSize FolderSize(const std::string& Path, const std::atomic<bool>* Cancel);

  // The directory table (creation order, the root first) and the file table.
  const TRecordTable<TDEntry>& Directories() const { return FDirs; }
  const TRecordTable<TFEntry>& Files() const { return FFiles; }
  // The directories in path-table order, as the last layout left them.
  std::vector<TDEntry*>& IsoOrder() { return FIsoOrder; }
  std::vector<TDEntry*>& JolietOrder() { return FJolietOrder; }
  const std::vector<TDEntry*>& IsoOrder() const { return FIsoOrder; }
  const std::vector<TDEntry*>& JolietOrder() const { return FJolietOrder; }

 private:
  // AddDirectory, telling a refused name from a full table (full set).
  TDEntry* InsertDirectory(TDEntry* Parent, const TSearchRec& Listing,
                           const std::string& SourceFolder, bool& full);
  TDEntry* NewDirectoryRecord();
  TFEntry* NewFileRecord();
  void Append(TDEntry* Dir, TFEntry* Entry);
  void Unlink(TDEntry* Dir, TFEntry* Entry);
  void IndexName(TDEntry* Dir, TFEntry* Entry);
  const std::string* SourceFolderOf(std::string_view Folder);
  void SetSource(TFEntry* Entry, const std::string& SourcePath);
  void UnindexName(TDEntry* Dir, TFEntry* Entry);
  void AssignUniqueShortName(TDEntry* Dir, TFEntry* Entry, std::string shortName);
  void RemoveDirectoryRecord(TDEntry* Dir);
  // Callers check NamesFitRecord first, so that the name for the message is
  // made only when there is one.
  void ReportUnfitName(const std::string& what);
  void ReportReplacedCharacters(const std::string& SourcePath, const std::string& Name,
                                const std::string& DiscName);
  // What one AddDirectoryTree asks for, handed down its folders.
  struct TScanRequest {
    std::string Mask;
    int AttrMask = 0;
    bool Recursive = false;
    bool ArchiveOnly = false;
    TCredentials Reader;  // who reads the files, asked once per scan
    TListOptions Listing;  // what a listing of each folder holds
    TListingReadAhead* ReadAhead = nullptr;  // listings read ahead of the scan, if any
  };
  enum class TScanEnd { Done, Full, Cancelled };
  TScanEnd ScanFolder(TDEntry* Dest, TEnteredFolder& Folder, const std::string& Path,
                      const TScanRequest& Request, TFolderWalk& Walk);
  TScanEnd ScanSubfolder(TDEntry* Dest, TEnteredFolder& Parent, const std::string& Path,
                         const TSearchRec& Item, const TScanRequest& Request, TFolderWalk& Walk);
  TScanEnd AddFolderFiles(TDEntry* Dest, const std::string& Path, const TSearchResult& Listing,
                          const TScanRequest& Request, const TFolderWalk& Walk, int FolderDescriptor);
  bool RefuseUnreadable(int Folder, const std::string& Name, const TSearchRec& Item,
                        const std::string& Path, const TCredentials& Reader);
  void AddLinkEntry(TDEntry* Dest, int FolderDescriptor, const std::string& Path, const std::string& Name,
                    const std::string& ShortName);
  TPosixAttributes PosixOf(const TSearchRec& Listing, const std::string& Name, const std::string& LongName) const;
  void ReportPassedOver(const std::string& Path, const TSearchResult& Listing,
                        const TScanRequest& Request);
  void ReportRefusal(const std::string& Path, const TEnteredFolder& Folder);
  TDEntry* ForceSourcePath(TDEntry* Base, const std::string& Folder);

  TCompilationHost& FHost;
  TRecordTable<TDEntry> FDirs;
  TRecordTable<TFEntry> FFiles;
  std::vector<TDEntry*> FIsoOrder, FJolietOrder;
  std::unordered_map<std::string, TDEntry*> FByPath;
  std::deque<std::string> FSourceFolders;  // the entries' SourceFolder strings
  TDEntry* FRoot = nullptr;
  int FMaxFiles = 0, FMaxDirs = 0;
  int64_t FCompilationBytes = 0;
};

}  // namespace fornax
