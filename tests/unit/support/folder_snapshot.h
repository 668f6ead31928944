#pragma once
// What a folder holds, entry by entry, as lstat and the bytes tell (links
// are described, never followed): taken before and after an operation, two
// snapshots show whether it changed anything there. Shared by the unit tests
// and the fuzzer of the disc readers.

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <map>
#include <string>
#include <string_view>

namespace fornax::test {

using TFolderSnapshot = std::map<std::string, std::string>;

// A folder is told by its mode and owner: what changes in it shows in its
// entries, and its times change whenever a sibling folder is made in it.
inline std::string DescribeEntry(const std::string& path, const struct stat& st) {
  if (S_ISDIR(st.st_mode)) return std::to_string(st.st_mode) + " " + std::to_string(st.st_uid);
  std::string text = std::to_string(st.st_mode) + " " + std::to_string(st.st_uid) + " " +
                     std::to_string(st.st_size) + " " + std::to_string(st.st_mtim.tv_sec) + "." +
                     std::to_string(st.st_mtim.tv_nsec);
  if (S_ISLNK(st.st_mode)) {
    char target[4096];
    const ssize_t n = ::readlink(path.c_str(), target, sizeof target);
    if (n > 0) text += " -> " + std::string(target, static_cast<size_t>(n));
  } else if (S_ISREG(st.st_mode)) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    std::string bytes;
    char buffer[65536];
    for (ssize_t n; fd >= 0 && (n = ::read(fd, buffer, sizeof buffer)) > 0;) bytes.append(buffer, static_cast<size_t>(n));
    if (fd >= 0) ::close(fd);
    text += " #" + std::to_string(std::hash<std::string>()(bytes));
  }
  return text;
}

// Every entry below `root` by its path relative to it; the subtree at
// `skip` (a relative path) is left out, its own entry included.
inline void SnapshotInto(const std::string& root, const std::string& relative, std::string_view skip,
                         TFolderSnapshot& out) {
  DIR* dir = ::opendir((root + "/" + relative).c_str());
  if (!dir) return;
  while (const dirent* e = ::readdir(dir)) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    const std::string rel = relative.empty() ? name : relative + "/" + name;
    if (rel == skip) continue;
    const std::string path = root + "/" + rel;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) continue;
    out[rel] = DescribeEntry(path, st);
    if (S_ISDIR(st.st_mode)) SnapshotInto(root, rel, skip, out);
  }
  ::closedir(dir);
}

inline TFolderSnapshot SnapshotFolder(const std::string& root, std::string_view skip = {}) {
  TFolderSnapshot out;
  SnapshotInto(root, "", skip, out);
  return out;
}

}  // namespace fornax::test
