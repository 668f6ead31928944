// The archive state lives in a user extended attribute holding the modification
// time and size a file had when it was archived: a file whose current values
// differ has changed since and needs archiving again. Writing the attribute
// changes only the file's ctime, so recording the state does not undo itself.

#include "engine/platform/file_attributes.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>

#include <sys/xattr.h>

#include "engine/platform/dir_listing.h"

namespace fornax {
namespace {

constexpr const char* kArchivedAttribute = "user.fornax.archived";

std::string ArchiveRecord(const struct stat& Info) {
  char text[64];
  const int length = std::snprintf(text, sizeof text, "%" PRId64 ".%09ld %" PRId64,
                                   static_cast<int64_t>(Info.st_mtim.tv_sec),
                                   static_cast<long>(Info.st_mtim.tv_nsec),
                                   static_cast<int64_t>(Info.st_size));
  return std::string(text, static_cast<size_t>(length));
}

// Anything but a readable record that matches counts as changed: a file system
// without user attributes, a foreign value, a file we may not read.
bool ChangedSinceArchived(const std::string& Path, const struct stat& Info) {
  char stored[64];
  const ssize_t length = getxattr(Path.c_str(), kArchivedAttribute, stored, sizeof stored);
  if (length < 0) return true;
  return std::string(stored, static_cast<size_t>(length)) != ArchiveRecord(Info);
}

std::string LastComponent(const std::string& Path) {
  const size_t end = Path.find_last_not_of('/');
  if (end == std::string::npos) return std::string();
  const size_t slash = Path.rfind('/', end);
  const size_t start = slash == std::string::npos ? 0 : slash + 1;
  return Path.substr(start, end + 1 - start);
}

}  // namespace

int BasicAttributes(const std::string& Name, const struct stat& Info) {
  int attr = S_ISDIR(Info.st_mode) ? faDirectory : 0;
  if (!Name.empty() && Name[0] == '.' && Name != "." && Name != "..") attr |= faHidden;
  return attr;
}

int ItemAttributes(const std::string& Path, const std::string& Name, const struct stat& Info) {
  int attr = BasicAttributes(Name, Info);
  if (S_ISREG(Info.st_mode) && ChangedSinceArchived(Path, Info)) attr |= faArchive;
  return attr;
}

int ReadAttributes(const std::string& Path) {
  struct stat info;
  if (stat(Path.c_str(), &info) != 0) return -1;
  return ItemAttributes(Path, LastComponent(Path), info);
}

bool SetArchiveAttribute(const std::string& Path, bool archive) {
  struct stat info;
  if (stat(Path.c_str(), &info) != 0) return false;
  if (!S_ISREG(info.st_mode)) return !archive;  // only files carry the state
  if (archive) {
    if (removexattr(Path.c_str(), kArchivedAttribute) == 0) return true;
    // Without the record, or without attributes at all, the file already counts
    // as changed.
    return errno == ENODATA || errno == ENOTSUP;
  }
  // A change between stat() and here leaves an outdated record, so the file
  // still counts as changed: the safe side.
  const std::string record = ArchiveRecord(info);
  return setxattr(Path.c_str(), kArchivedAttribute, record.data(), record.size(), 0) == 0;
}

}  // namespace fornax
