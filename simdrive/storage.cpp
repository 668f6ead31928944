#include "simdrive/storage.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace fornax::sim {
namespace {

constexpr off_t kBlockBytes = 2048;
constexpr size_t kCopyChunk = 1 << 20;

std::string Describe(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

const char* NonEmptyEnv(const char* name) {
  const char* v = std::getenv(name);
  return v != nullptr && *v != '\0' ? v : nullptr;
}

bool ReadAll(int fd, std::string* text) {
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    text->append(buffer, static_cast<size_t>(n));
  }
}

bool WriteAll(int fd, const void* data, size_t size, off_t offset) {
  const auto* p = static_cast<const uint8_t*>(data);
  while (size > 0) {
    const ssize_t n = pwrite(fd, p, size, offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
    offset += n;
  }
  return true;
}

// Reads what the file holds; bytes past its end are zeros.
bool ReadZeroFilled(int fd, uint8_t* out, size_t size, off_t offset) {
  while (size > 0) {
    const ssize_t n = pread(fd, out, size, offset);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) {
      std::memset(out, 0, size);
      return true;
    }
    out += n;
    size -= static_cast<size_t>(n);
    offset += n;
  }
  return true;
}

bool AllZero(const uint8_t* p, size_t n) {
  return std::all_of(p, p + n, [](uint8_t b) { return b == 0; });
}

// Copies [from, to) block by block, skipping zero blocks so they stay holes.
bool CopyRange(int in, int out, off_t from, off_t to) {
  std::vector<uint8_t> buffer(kCopyChunk);
  for (off_t at = from; at < to;) {
    const size_t n = static_cast<size_t>(std::min<off_t>(to - at, kCopyChunk));
    if (!ReadZeroFilled(in, buffer.data(), n, at)) return false;
    for (size_t b = 0; b < n; b += kBlockBytes) {
      const size_t len = std::min<size_t>(kBlockBytes, n - b);
      if (!AllZero(&buffer[b], len) && !WriteAll(out, &buffer[b], len, at + static_cast<off_t>(b))) return false;
    }
    at += static_cast<off_t>(n);
  }
  return true;
}

// Copies the data extents of the input below `limit`; a file system without
// SEEK_DATA is copied whole.
bool CopyExtents(int in, int out, off_t limit) {
  off_t at = 0;
  while (at < limit) {
    const off_t data = lseek(in, at, SEEK_DATA);
    if (data < 0) return errno == ENXIO ? true : (errno == EINVAL && CopyRange(in, out, at, limit));
    if (data >= limit) return true;
    off_t hole = lseek(in, data, SEEK_HOLE);
    if (hole < 0) hole = limit;
    if (!CopyRange(in, out, data, std::min(hole, limit))) return false;
    at = hole;
  }
  return true;
}

}  // namespace

std::string DefaultStateDirectory() {
  if (const char* dir = NonEmptyEnv("FORNAX_SIMDRIVE_DIR")) return dir;
  if (const char* xdg = NonEmptyEnv("XDG_STATE_HOME"); xdg != nullptr && xdg[0] == '/')
    return std::string(xdg) + "/fornax/simdrive";
  const char* home = NonEmptyEnv("HOME");
  if (home == nullptr) {
    const passwd* pw = getpwuid(getuid());
    if (pw != nullptr && pw->pw_dir != nullptr) home = pw->pw_dir;
  }
  if (home != nullptr) return std::string(home) + "/.local/state/fornax/simdrive";
  return "/tmp/fornax-simdrive-" + std::to_string(getuid());
}

bool MakeDirectories(const std::string& path, std::string* error) {
  if (path.empty()) return *error = "empty state directory", false;
  struct stat existing {};
  if (stat(path.c_str(), &existing) == 0 && S_ISDIR(existing.st_mode)) return true;
  for (size_t at = 1; at <= path.size(); ++at) {
    if (at != path.size() && path[at] != '/') continue;
    const std::string prefix = path.substr(0, at);
    if (mkdir(prefix.c_str(), 0700) == 0 || errno == EEXIST) continue;
    *error = Describe("cannot create", prefix);
    return false;
  }
  struct stat st {};
  if (stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    *error = "not a directory: " + path;
    return false;
  }
  return true;
}

std::string LockPath(const std::string& dir) { return dir + "/lock"; }
std::string StatePath(const std::string& dir) { return dir + "/state"; }
std::string DataPath(const std::string& dir) { return dir + "/disc.data"; }

DirectoryLock::~DirectoryLock() {
  if (fd_ >= 0) close(fd_);  // closing drops the flock
}

bool DirectoryLock::Acquire(const std::string& dir, std::string* error) {
  const std::string path = LockPath(dir);
  fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd_ < 0) return *error = Describe("cannot open", path), false;
  while (flock(fd_, LOCK_EX) != 0)
    if (errno != EINTR) return *error = Describe("cannot lock", path), false;
  return true;
}

SectorFile::~SectorFile() {
  if (fd_ >= 0) close(fd_);
}

bool SectorFile::Open(const std::string& dir, std::string* error) {
  const std::string path = DataPath(dir);
  fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd_ < 0) return *error = Describe("cannot open", path), false;
  return true;
}

bool SectorFile::Read(uint32_t lba, uint32_t count, uint8_t* out) {
  return ReadZeroFilled(fd_, out, static_cast<size_t>(count) * kBlockBytes, lba * kBlockBytes);
}

// Zeros cost no space: a write of nothing but zeros becomes a hole, which
// reads back as zeros (an erase that overwrites a whole DVD+RW stays cheap).
bool SectorFile::Write(uint32_t lba, uint32_t count, const uint8_t* data) {
  dirty_ = true;
  const size_t bytes = static_cast<size_t>(count) * kBlockBytes;
  const off_t at = static_cast<off_t>(lba) * kBlockBytes;
  const bool zeros = bytes > 0 && data[0] == 0 && std::memcmp(data, data + 1, bytes - 1) == 0;
  if (zeros && fallocate(fd_, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, at, static_cast<off_t>(bytes)) == 0) {
    // The file must still reach the end of what was written.
    struct stat st {};
    if (fstat(fd_, &st) == 0 && st.st_size < at + static_cast<off_t>(bytes))
      return ftruncate(fd_, at + static_cast<off_t>(bytes)) == 0;
    return true;
  }
  return WriteAll(fd_, data, bytes, lba * kBlockBytes);
}

bool SectorFile::Wipe() {
  dirty_ = true;
  return ftruncate(fd_, 0) == 0;
}

bool SectorFile::Sync() {
  if (!dirty_) return true;
  dirty_ = false;
  return fdatasync(fd_) == 0;
}

bool ReadStateFile(const std::string& dir, std::string* text, bool* exists, std::string* error) {
  const std::string path = StatePath(dir);
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  *exists = fd >= 0;
  if (fd < 0) return errno == ENOENT ? true : (*error = Describe("cannot open", path), false);
  text->clear();
  const bool ok = ReadAll(fd, text);
  if (!ok) *error = Describe("cannot read", path);
  close(fd);
  return ok;
}

bool WriteStateFile(const std::string& dir, const std::string& text, std::string* error) {
  const std::string temp = StatePath(dir) + ".tmp." + std::to_string(getpid());
  const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return *error = Describe("cannot create", temp), false;
  bool ok = WriteAll(fd, text.data(), text.size(), 0) && fsync(fd) == 0;
  if (!ok) *error = Describe("cannot write", temp);
  close(fd);
  if (ok && rename(temp.c_str(), StatePath(dir).c_str()) != 0) {
    *error = Describe("cannot replace", StatePath(dir));
    ok = false;
  }
  if (!ok) unlink(temp.c_str());
  return ok;
}

void SetAsideStateFile(const std::string& dir) {
  rename(StatePath(dir).c_str(), (StatePath(dir) + ".corrupt").c_str());
}

bool ExportImage(const std::string& dir, uint32_t blocks, const std::string& path, std::string* error) {
  const off_t size = static_cast<off_t>(blocks) * kBlockBytes;
  const int in = open(DataPath(dir).c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0 && errno != ENOENT) return *error = Describe("cannot open", DataPath(dir)), false;
  const int out = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  bool ok = out >= 0;
  if (!ok) *error = Describe("cannot create", path);
  if (ok && (ftruncate(out, size) != 0 || (in >= 0 && !CopyExtents(in, out, size)))) {
    *error = Describe("cannot write", path);
    ok = false;
  }
  if (out >= 0 && close(out) != 0 && ok) ok = (*error = Describe("cannot write", path), false);
  if (in >= 0) close(in);
  if (!ok && out >= 0) unlink(path.c_str());
  return ok;
}

}  // namespace fornax::sim
