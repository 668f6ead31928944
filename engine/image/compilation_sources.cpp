// The parts of the compilation that read the local file system: single files,
// folder scans, folder sizes and the archive state of source files.

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <optional>
#include <fmt/format.h>

#include "engine/base/messages.h"
#include "engine/base/device_base.h"
#include "engine/base/text.h"
#include "engine/image/compilation.h"
#include "engine/image/iso_names.h"
#include "engine/platform/listing_read_ahead.h"
#include "engine/platform/read_access.h"

namespace fornax {
namespace {

std::string WithoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// Absolute, without "." and ".." steps, so that no step of it becomes a
// directory called ".." on the disc.
std::string NormalPath(const std::string& path) {
  std::error_code error;
  std::filesystem::path absolute = std::filesystem::absolute(path, error);
  if (error) absolute = path;
  return WithoutTrailingSlash(absolute.lexically_normal().string());
}

struct TSourceStep {
  std::string Folder;  // the local path up to this step
  std::string Name;    // the step's own name
};

// The steps of a local folder's absolute path, or only its last one.
std::vector<TSourceStep> SourceSteps(const std::string& folder, bool lastOnly) {
  std::vector<TSourceStep> steps;
  const std::string path = NormalPath(folder);
  size_t start = 0;
  while (start <= path.size()) {
    const size_t end = std::min(path.find('/', start), path.size());
    if (end > start) steps.push_back({path.substr(0, end), path.substr(start, end - start)});
    start = end + 1;
  }
  if (lastOnly && steps.size() > 1) steps.erase(steps.begin(), steps.end() - 1);
  return steps;
}

// A folder of a kept source path is named as one made by name (up to 13
// characters in the ISO 9660 tree) and dated when it is made.
TSearchRec StepListing(const std::string& name) {
  TSearchRec listing;
  listing.Name = name;
  listing.LongName = MakeLongName(name);
  listing.ShortName = ShortNameFromDirectoryName(listing.LongName);
  listing.Attr = faDirectory;
  listing.WriteTime = static_cast<int64_t>(std::time(nullptr));
  return listing;
}

// The same, with what a Rock Ridge tree records of the local folder.
TSearchRec StepListing(const TSourceStep& step) {
  TSearchRec listing = StepListing(step.Name);
  struct stat info {};
  if (::stat(step.Folder.c_str(), &info) != 0) return listing;
  listing.Mode = static_cast<uint32_t>(info.st_mode);
  listing.Uid = static_cast<uint32_t>(info.st_uid);
  listing.Gid = static_cast<uint32_t>(info.st_gid);
  listing.AccessTime = static_cast<int64_t>(info.st_atim.tv_sec);
  listing.ChangeTime = static_cast<int64_t>(info.st_ctim.tv_sec);
  return listing;
}

std::string SpecialKindText(TEntryKind kind) {
  switch (kind) {
    case TEntryKind::Fifo: return "FIFO";
    case TEntryKind::Socket: return "SOCKET";
    default: return "DEVICE";
  }
}

// What a named source that is no file or folder is ("FIFO"...); empty for
// anything else. Asked only when the source could not be taken as a file.
std::string SpecialKindAt(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return "";
  if (S_ISFIFO(info.st_mode)) return SpecialKindText(TEntryKind::Fifo);
  if (S_ISSOCK(info.st_mode)) return SpecialKindText(TEntryKind::Socket);
  if (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode)) return SpecialKindText(TEntryKind::Device);
  return "";
}

std::string LeftOutLine(const char* message, const std::string& path) {
  return ">>> " + fmt::format(fmt::runtime(message), PrintableText(path));
}

}  // namespace

// The folders below Base that recreate a local folder, one per step of its
// path without the root "/" (as a drive letter is left out), each made as a
// folder of that source so that a renamed step is told once.
TDEntry* TCompilation::ForceSourcePath(TDEntry* Base, const std::string& Folder) {
  TDEntry* dir = Base;
  for (const TSourceStep& step : SourceSteps(Folder, FHost.KeepsLastFolderOnly())) {
    bool full = false;
    dir = InsertDirectory(dir, StepListing(step), step.Folder, full);
    if (!dir) return nullptr;
  }
  return dir;
}

bool TCompilation::AddFileEntry(const std::string& DestPath, const std::string& SourceFile,
                                bool KeepPath) {
  TDEntry* dest = nullptr;
  if (KeepPath) {
    const std::string source = NormalPath(SourceFile);
    dest = ForceSourcePath(FRoot, source.substr(0, source.rfind('/') + 1));
  } else {
    dest = FindDirectory(DestPath);
  }
  if (!dest) {
    FHost.Report(kMsgInvalidDestination, ltImageError);
    return false;
  }
  TSearchRec item;
  if (!FindFile(SourceFile, faAnyFile, item)) {
    if (const std::string kind = SpecialKindAt(SourceFile); !kind.empty())
      FHost.Report(">>> " + fmt::format(kMsgSpecialFile, kind, PrintableText(SourceFile)), ltImageError);
    return false;
  }
  if (item.Attr & faDirectory) return false;
  if (RefuseUnreadable(AT_FDCWD, SourceFile, item, SourceFile, ProcessCredentials())) return false;
  return AddEntry(dest, item, SourceFile, 0, false);
}

bool TCompilation::AddDirectoryTree(TDEntry* Dest, const std::string& Folder,
                                    const std::string& Mask, int AttrMask, bool Recursive,
                                    bool KeepPath, bool ArchiveOnly,
                                    const std::atomic<bool>* Cancel) {
  if (!Dest) return false;
  const std::string path = WithoutTrailingSlash(Folder);
  TFolderWalk walk(Cancel);
  TEnteredFolder root = walk.EnterRoot(path);
  if (!root.Entered()) {
    ReportRefusal(path, root);
    return true;
  }
  TDEntry* destination = Dest;
  if (KeepPath) {
    destination = ForceSourcePath(Dest, Folder);
    if (!destination) {
      FHost.Report(kMsgInvalidDestination, ltImageError);
      return false;
    }
  }
  TScanRequest request{Mask.empty() ? "*.*" : Mask, AttrMask, Recursive, ArchiveOnly, ProcessCredentials(),
                       TListOptions{FHost.RecordsRockRidge(), ArchiveOnly}};
  // A whole tree is listed ahead of the scan, while the scan makes the
  // entries of the folders listed before.
  std::optional<TListingReadAhead> readAhead;
  if (Recursive) {
    readAhead.emplace(path, request.Listing);
    request.ReadAhead = &*readAhead;
  }
  switch (ScanFolder(destination, root, path, request, walk)) {
    case TScanEnd::Done: return true;
    case TScanEnd::Full: return false;
    case TScanEnd::Cancelled: break;
  }
  FHost.Report(LeftOutLine(kMsgScanCancelled, path), ltImageError);
  return false;
}

TCompilation::TScanEnd TCompilation::ScanFolder(TDEntry* Dest, TEnteredFolder& Folder,
                                                const std::string& Path,
                                                const TScanRequest& Request, TFolderWalk& Walk) {
  std::optional<TReadFolder> ready;
  if (Request.ReadAhead) ready = Request.ReadAhead->Take(Folder.Device, Folder.Inode);
  const TSearchResult listing =
      ready ? ListingOf(*ready, Path, Request.Listing)
            : ListFolder(Folder.Folder, Path, Walk.CancelFlag(), Request.Listing);
  if (listing.Cut) return TScanEnd::Cancelled;
  // What could not be read is reported and left out; the rest goes on.
  if (!listing.Ok)
    FHost.Report(">>> " + fmt::format(kMsgCantReadFolder, PrintableText(Path), listing.Error), ltImageError);
  ReportPassedOver(Path, listing, Request);
  if (Request.Recursive) {
    for (const TSearchRec& item : listing.Items) {
      if (!(item.Attr & faDirectory)) continue;
      if (Walk.Cancelled()) return TScanEnd::Cancelled;
      const TScanEnd end = ScanSubfolder(Dest, Folder, ChildPath(Path, item.Name), item, Request, Walk);
      if (end != TScanEnd::Done) return end;
    }
  }
  return AddFolderFiles(Dest, Path, listing, Request, Walk, Folder.Folder.Descriptor());
}

TCompilation::TScanEnd TCompilation::ScanSubfolder(TDEntry* Dest, TEnteredFolder& Parent,
                                                   const std::string& Path, const TSearchRec& Item,
                                                   const TScanRequest& Request, TFolderWalk& Walk) {
  std::string longName = Item.LongName;
  std::string shortName = Item.ShortName.empty() ? UpperCase(Item.LongName) : Item.ShortName;
  bool skip = false;
  FHost.AddingDirectory(longName, shortName, skip);
  if (skip) return TScanEnd::Done;
  TEnteredFolder folder = Walk.EnterChild(Parent, Item.Name, Item.Device, Item.Inode);
  if (!folder.Entered()) {
    ReportRefusal(Path, folder);
    return TScanEnd::Done;
  }
  // A name that cannot be recorded, or one a file already holds, leaves that
  // folder out; running out of room ends the whole scan.
  bool full = false;
  TDEntry* sub = InsertDirectory(Dest, Item, Path, full);
  if (!sub) return full ? TScanEnd::Full : TScanEnd::Done;
  const TScanEnd end = ScanFolder(sub, folder, Path, Request, Walk);
  // Also after a cut: the folders on the way down may hold nothing yet.
  if (!sub->FirstEntry) DeleteDirectory(sub);
  return end;
}

TCompilation::TScanEnd TCompilation::AddFolderFiles(TDEntry* Dest, const std::string& Path,
                                                    const TSearchResult& Listing,
                                                    const TScanRequest& Request,
                                                    const TFolderWalk& Walk, int FolderDescriptor) {
  const bool links = FHost.RecordsRockRidge();
  for (const TSearchRec& item : Listing.Items) {
    if (item.Attr & faDirectory) continue;
    if (!MatchesSearch(item.Name, item.LongName, item.Attr, Request.Mask, Request.AttrMask)) continue;
    if (Request.ArchiveOnly && !(item.Attr & faArchive)) continue;
    if (Walk.Cancelled()) return TScanEnd::Cancelled;
    const std::string path = ChildPath(Path, item.Name);
    if (RefuseUnreadable(FolderDescriptor, item.Name, item, path, Request.Reader)) continue;
    AddEntry(Dest, item, path, 0, Request.ArchiveOnly);
  }
  // Links, whatever they lead to, come as links (never followed); an
  // archive-only backup has no archive state for them and leaves them out.
  if (!links || Request.ArchiveOnly) return TScanEnd::Done;
  for (const TPassedOver& entry : Listing.PassedOver) {
    if (entry.Kind != TEntryKind::Link) continue;
    if (!MatchesSearch(entry.Name, MakeLongName(entry.Name), entry.Attr, Request.Mask, Request.AttrMask)) continue;
    if (Walk.Cancelled()) return TScanEnd::Cancelled;
    AddLinkEntry(Dest, FolderDescriptor, Path, entry.Name, entry.ShortName);
  }
  return TScanEnd::Done;
}

// A file that cannot be read would fail the write long after the scan; an
// empty one has nothing to read, and is taken without being opened. The
// permission bits from the listing answer for nearly every file, so the
// system is asked only when they say no.
bool TCompilation::RefuseUnreadable(int Folder, const std::string& Name, const TSearchRec& Item,
                                    const std::string& Path, const TCredentials& Reader) {
  if (Item.Size == 0 || MayRead(Folder, Name, Item.Mode, Item.Uid, Item.Gid, Reader)) return false;
  FHost.Report(LeftOutLine(kMsgCantReadSource, Path), ltImageError);
  return true;
}

void TCompilation::AddLinkEntry(TDEntry* Dest, int FolderDescriptor, const std::string& Path,
                                const std::string& Name, const std::string& ShortName) {
  const std::string path = ChildPath(Path, Name);
  TSearchRec link;
  if (!ReadLinkItem(FolderDescriptor, Name, link)) {
    FHost.Report(LeftOutLine(kMsgCantReadLink, path), ltImageError);
    return;
  }
  // The listing's alias is unique among the folder's items.
  if (!ShortName.empty()) link.ShortName = ShortName;
  AddEntry(Dest, link, path, 0, false);
}

// Links to folders are left out with the folders (a recursive scan); special
// files with the files the mask chooses.
void TCompilation::ReportPassedOver(const std::string& Path, const TSearchResult& Listing,
                                    const TScanRequest& Request) {
  for (const TPassedOver& entry : Listing.PassedOver) {
    const std::string path = ChildPath(Path, entry.Name);
    if (entry.Kind == TEntryKind::Link) continue;
    if (entry.Kind == TEntryKind::LinkToFolder) {
      // Recorded as a link with Rock Ridge, which is no leaving out.
      if (Request.Recursive && !FHost.RecordsRockRidge()) FHost.Report(LeftOutLine(kMsgLinkToFolder, path), ltImageError);
    } else if (MatchesSearch(entry.Name, MakeLongName(entry.Name), entry.Attr, Request.Mask,
                             Request.AttrMask)) {
      FHost.Report(">>> " + fmt::format(kMsgSpecialFile, SpecialKindText(entry.Kind), PrintableText(path)),
                   ltImageError);
    }
  }
}

void TCompilation::ReportRefusal(const std::string& Path, const TEnteredFolder& Folder) {
  switch (Folder.Refusal) {
    case TFolderRefusal::Unreadable:
      FHost.Report(">>> " + fmt::format(kMsgCantReadFolder, PrintableText(Path), Folder.Reason), ltImageError);
      break;
    case TFolderRefusal::SystemFileSystem:
      FHost.Report(">>> " + fmt::format(kMsgSystemFileSystem, Folder.Reason, PrintableText(Path)), ltImageError);
      break;
    case TFolderRefusal::ReachedTwice:
      FHost.Report(LeftOutLine(kMsgFolderLoop, Path), ltImageError);
      break;
    case TFolderRefusal::None:
      break;
  }
}

void TCompilation::ClearArchiveBits() {
  FFiles.ForEach([](TFEntry* entry) {
    if (entry->IsDirectory() || (entry->Attributes & faDirectory)) return;
    if (!(entry->Attributes & faArchive) || !entry->ArchiveMode || !entry->HasSource()) return;
    SetArchiveAttribute(entry->SourcePath(), false);
  });
}

namespace {

// The bytes of the files below an entered folder, as a scan would add them.
void SumFolder(TEnteredFolder& folder, TFolderWalk& walk, TFolderSize& tally) {
  const TFolderEntries read = folder.Folder.ReadEntries(walk.CancelFlag());
  tally.Cut = read.Cut;
  if (tally.Cut) return;
  for (const TFolderEntry& entry : read.Entries) {
    if (entry.Kind == TEntryKind::File) {
      tally.Bytes += static_cast<int64_t>(entry.Info.st_size);
      continue;
    }
    if (entry.Kind != TEntryKind::Folder) continue;
    tally.Cut = walk.Cancelled();
    if (tally.Cut) return;
    TEnteredFolder child = walk.EnterChild(folder, entry.Name, entry.Info.st_dev, entry.Info.st_ino);
    if (child.Entered()) SumFolder(child, walk, tally);
    if (tally.Cut) return;
  }
}

}  // namespace

TFolderSize TCompilation::FolderSize(const std::string& Path, const std::atomic<bool>* Cancel) {
  TFolderSize tally;
  if (!Path.empty() && Path.back() == '/') {
    TFolderWalk walk(Cancel);
    TEnteredFolder root = walk.EnterRoot(Path);
    if (root.Entered()) SumFolder(root, walk, tally);
    return tally;
  }
  TSearchRec item;
  if (FindFile(Path, faAnyFile, item)) tally.Bytes = item.Size;
  return tally;
}

int64_t TCompilation::FolderSize(const std::string& Path) { return FolderSize(Path, nullptr).Bytes; }

}  // namespace fornax
