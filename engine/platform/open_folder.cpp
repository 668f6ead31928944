#include "engine/platform/open_folder.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>
#include <system_error>
#include <utility>

namespace fornax {
namespace {

bool CancelSet(const std::atomic<bool>* cancel) {
  return cancel != nullptr && cancel->load(std::memory_order_relaxed);
}

// Special files are told by the directory entry's type where the file system
// keeps it, so that they are not even examined.
bool SpecialFromEntryType(unsigned char type, TEntryKind& kind) {
  switch (type) {
    case DT_FIFO: kind = TEntryKind::Fifo; return true;
    case DT_SOCK: kind = TEntryKind::Socket; return true;
    case DT_CHR:
    case DT_BLK: kind = TEntryKind::Device; return true;
    default: return false;
  }
}

TEntryKind KindOf(mode_t mode, bool throughLink) {
  if (S_ISDIR(mode)) return throughLink ? TEntryKind::LinkToFolder : TEntryKind::Folder;
  if (S_ISREG(mode)) return TEntryKind::File;
  if (S_ISFIFO(mode)) return TEntryKind::Fifo;
  if (S_ISSOCK(mode)) return TEntryKind::Socket;
  return TEntryKind::Device;
}

// A link leading nowhere or in a circle, or an entry deleted meanwhile.
bool IsNoEntry(int error) { return error == ENOENT || error == ELOOP || error == ENOTDIR; }

// Fills Entry for the directory entry; 0, or the errno of the examination.
// A link followed costs the one call that follows it; anything else one call
// that does not follow (the entry type may be unknown, or outdated by a
// rename). A link kept as a link is never followed: following it would mark
// it read, and its own access time is what a tree of links records.
int ExamineEntry(int descriptor, const TFolderName& raw, TFolderEntry& entry, bool linksAsLinks) {
  entry.Name = raw.Name;
  if (SpecialFromEntryType(raw.Type, entry.Kind)) return 0;
  bool link = raw.Type == DT_LNK;
  if (!link || linksAsLinks) {
    if (fstatat(descriptor, raw.Name.c_str(), &entry.Info, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT) != 0)
      return errno;
    link = S_ISLNK(entry.Info.st_mode);
  }
  entry.Link = link;
  if (link && linksAsLinks) {
    entry.Kind = TEntryKind::Link;
    return 0;
  }
  if (link && fstatat(descriptor, raw.Name.c_str(), &entry.Info, AT_NO_AUTOMOUNT) != 0) return errno;
  entry.Kind = KindOf(entry.Info.st_mode, link);
  return 0;
}

}  // namespace

bool IsSpecialEntryType(unsigned char Type) {
  TEntryKind kind;
  return SpecialFromEntryType(Type, kind);
}

std::string SystemErrorText(int Error) { return std::generic_category().message(Error); }

TOpenFolder::~TOpenFolder() {
  if (FDir) closedir(FDir);
}

TOpenFolder::TOpenFolder(TOpenFolder&& other) noexcept
    : FDir(std::exchange(other.FDir, nullptr)), FError(other.FError) {}

TOpenFolder& TOpenFolder::operator=(TOpenFolder&& other) noexcept {
  if (this != &other) {
    if (FDir) closedir(FDir);
    FDir = std::exchange(other.FDir, nullptr);
    FError = other.FError;
  }
  return *this;
}

TOpenFolder TOpenFolder::Open(const std::string& Path) {
  DIR* dir = opendir(Path.c_str());
  return TOpenFolder(dir, dir ? 0 : errno);
}

TOpenFolder TOpenFolder::FromDescriptor(int descriptor) {
  if (descriptor < 0) return TOpenFolder(nullptr, errno);
  DIR* dir = fdopendir(descriptor);
  if (dir) return TOpenFolder(dir, 0);
  const int error = errno;
  close(descriptor);
  return TOpenFolder(nullptr, error);
}

TOpenFolder TOpenFolder::OpenChild(const std::string& Name) const {
  if (!FDir) return TOpenFolder(nullptr, EBADF);
  return FromDescriptor(
      openat(Descriptor(), Name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

TFolderEntries TOpenFolder::ReadEntries(const std::atomic<bool>* Cancel, bool LinksAsLinks) {
  return Examine(ReadNames(Cancel), Cancel, LinksAsLinks);
}

TFolderNames TOpenFolder::ReadNames(const std::atomic<bool>* Cancel) {
  TFolderNames result;
  if (!FDir) {
    result.Ok = false;
    result.Error = SystemErrorText(FError);
    return result;
  }
  for (;;) {
    if (CancelSet(Cancel)) {
      result.Cut = true;
      break;
    }
    errno = 0;
    const dirent* raw = readdir(FDir);
    if (raw == nullptr) {
      if (errno != 0) {
        result.Ok = false;
        result.Error = SystemErrorText(errno);
      }
      break;
    }
    const std::string_view name(raw->d_name);
    if (name == "." || name == "..") continue;
    result.Names.push_back({std::string(name), raw->d_type});
  }
  return result;
}

TFolderEntries TOpenFolder::Examine(TFolderNames Names, const std::atomic<bool>* Cancel, bool LinksAsLinks) const {
  TFolderEntries result;
  result.Cut = Names.Cut;
  if (!FDir) {
    result.Ok = Names.Ok;
    result.Error = std::move(Names.Error);
    return result;
  }
  result.Entries.reserve(Names.Names.size());
  for (const TFolderName& raw : Names.Names) {
    if (CancelSet(Cancel)) {
      result.Cut = true;
      break;
    }
    TFolderEntry entry;
    const int error = ExamineEntry(Descriptor(), raw, entry, LinksAsLinks);
    if (error == 0) {
      result.Entries.push_back(std::move(entry));
    } else if (!IsNoEntry(error)) {
      result.Ok = false;
      result.Error = raw.Name + ": " + SystemErrorText(error);
    }
  }
  // The folder's own read error came last when names and entries were read
  // in turn: it still wins.
  if (!Names.Ok) {
    result.Ok = false;
    result.Error = std::move(Names.Error);
  }
  return result;
}

}  // namespace fornax
