// The parts of the compilation that read the local file system: single files,
// folder scans, folder sizes and the archive state of source files.

#include <sys/stat.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <fmt/format.h>

#include "engine/base/messages.h"
#include "engine/base/device_base.h"
#include "engine/base/text.h"
#include "engine/image/compilation.h"
#include "engine/image/iso_names.h"

namespace fornax {
namespace {

using TFolderChain = std::vector<std::pair<uint64_t, uint64_t>>;

std::string WithoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (!folder.empty() && folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

// Absolute, without "." and ".." steps, so that no step of it becomes a
// directory called ".." on the disc.
std::string NormalPath(const std::string& path) {
  std::error_code error;
  std::filesystem::path absolute = std::filesystem::absolute(path, error);
  if (error) absolute = path;
  return WithoutTrailingSlash(absolute.lexically_normal().string());
}

bool MatchesEverything(const std::string& mask) { return mask == "*.*" || mask == "*"; }

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

}  // namespace

// The folders below Base that recreate a local folder, one per step of its
// path without the root "/" (as a drive letter is left out), each made as a
// folder of that source so that a renamed step is told once.
TDEntry* TCompilation::ForceSourcePath(TDEntry* Base, const std::string& Folder) {
  TDEntry* dir = Base;
  for (const TSourceStep& step : SourceSteps(Folder, FHost.KeepsLastFolderOnly())) {
    bool full = false;
    dir = InsertDirectory(dir, StepListing(step.Name), step.Folder, full);
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
  if (!FindFile(SourceFile, faAnyFile, item) || (item.Attr & faDirectory)) return false;
  return AddEntry(dest, item, SourceFile, 0, false);
}

bool TCompilation::AddDirectoryTree(TDEntry* Dest, const std::string& Folder,
                                    const std::string& Mask, int AttrMask, bool Recursive,
                                    bool KeepPath, bool ArchiveOnly) {
  if (!Dest) return false;
  TDEntry* destination = Dest;
  if (KeepPath) {
    destination = ForceSourcePath(Dest, Folder);
    if (!destination) {
      FHost.Report(kMsgInvalidDestination, ltImageError);
      return false;
    }
  }
  struct stat st {};
  TFolderChain chain;
  if (::stat(Folder.c_str(), &st) == 0) chain.emplace_back(st.st_dev, st.st_ino);
  return ScanFolder(destination, WithoutTrailingSlash(Folder), Mask.empty() ? "*.*" : Mask,
                    AttrMask, Recursive, ArchiveOnly, chain);
}

bool TCompilation::ScanFolder(TDEntry* Dest, const std::string& Folder, const std::string& Mask,
                              int AttrMask, bool Recursive, bool ArchiveOnly,
                              TFolderChain& chain) {
  // What could not be read is reported and left out; the rest goes on.
  const TSearchResult everything = FindFiles(Folder, "*.*", faAnyFile);
  if (!everything.Ok)
    FHost.Report(">>> " + fmt::format(kMsgCantReadFolder, Folder, everything.Error), ltImageError);
  if (Recursive) {
    for (const TSearchRec& item : everything.Items) {
      if (!(item.Attr & faDirectory)) continue;
      std::string longName = item.LongName;
      std::string shortName = item.ShortName.empty() ? UpperCase(item.LongName) : item.ShortName;
      bool skip = false;
      FHost.AddingDirectory(longName, shortName, skip);
      if (skip) continue;
      const std::string subFolder = JoinPath(Folder, item.Name);
      const std::pair<uint64_t, uint64_t> identity(item.Device, item.Inode);
      if (std::find(chain.begin(), chain.end(), identity) != chain.end()) {
        FHost.Report(">>> " + fmt::format(kMsgFolderLoop, subFolder), ltImageError);
        continue;
      }
      // A name that cannot be recorded, or one a file already holds, leaves
      // that folder out; running out of room ends the whole scan.
      bool full = false;
      TDEntry* sub = InsertDirectory(Dest, item, subFolder, full);
      if (!sub && full) return false;
      if (!sub) continue;
      chain.push_back(identity);
      const bool ok = ScanFolder(sub, subFolder, Mask, AttrMask, Recursive, ArchiveOnly, chain);
      chain.pop_back();
      if (!ok) return false;
      if (!sub->FirstEntry) DeleteDirectory(sub);
    }
  }
  TSearchResult filtered;
  const bool reuse = MatchesEverything(Mask) && (AttrMask & faAnyFile) == faAnyFile;
  if (!reuse) filtered = FindFiles(Folder, Mask, AttrMask);
  for (const TSearchRec& item : reuse ? everything.Items : filtered.Items) {
    if (item.Attr & faDirectory) continue;
    if (ArchiveOnly && !(item.Attr & faArchive)) continue;
    AddEntry(Dest, item, JoinPath(Folder, item.Name), 0, ArchiveOnly);
  }
  return true;
}

void TCompilation::ClearArchiveBits() {
  FFiles.ForEach([](TFEntry* entry) {
    if (entry->IsDirectory() || (entry->Attributes & faDirectory)) return;
    if (!(entry->Attributes & faArchive) || !entry->ArchiveMode || entry->SourcePath.empty()) return;
    SetArchiveAttribute(entry->SourcePath, false);
  });
}

namespace {

int64_t SumFolder(const std::string& folder, TFolderChain& chain) {
  int64_t total = 0;
  for (const TSearchRec& item : FindFiles(folder, "*.*", faAnyFile).Items) {
    if (!(item.Attr & faDirectory)) {
      total += item.Size;
      continue;
    }
    const std::pair<uint64_t, uint64_t> identity(item.Device, item.Inode);
    if (std::find(chain.begin(), chain.end(), identity) != chain.end()) continue;
    chain.push_back(identity);
    total += SumFolder(JoinPath(folder, item.Name), chain);
    chain.pop_back();
  }
  return total;
}

}  // namespace

int64_t TCompilation::FolderSize(const std::string& Path) {
  if (!Path.empty() && Path.back() == '/') {
    struct stat st {};
    TFolderChain chain;
    if (::stat(Path.c_str(), &st) == 0) chain.emplace_back(st.st_dev, st.st_ino);
    return SumFolder(Path, chain);
  }
  TSearchRec item;
  return FindFile(Path, faAnyFile, item) ? item.Size : 0;
}

}  // namespace fornax
