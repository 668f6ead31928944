#include "simdrive/storage.h"

#include <fcntl.h>
#include <pthread.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <atomic>
#include <random>
#include <vector>

namespace fornax::sim {
namespace {

constexpr off_t kBlockBytes = 2048;
constexpr size_t kCopyChunk = 1 << 20;
// A write that continues the one before (a burn's stream of WRITE commands)
// has the file system's blocks reserved up to the next step ahead of it, as
// unwritten extents that read as zeros. ext4 then skips its delayed
// allocation at every block written: about a quarter of the time of a
// stream of 64 KiB writes. A stream takes at most one step more space than
// it wrote; scattered writes reserve nothing.
constexpr off_t kReserveStep = 2 << 20;

constexpr char kLockName[] = "lock";
constexpr char kStateName[] = "state";
constexpr char kDataName[] = "disc.data";
constexpr char kSetAsideName[] = "state.corrupt";
constexpr char kSectorsSetAsideName[] = "disc.data.corrupt";

std::string Describe(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

std::string InFolder(const std::string& dir, const std::string& name) { return dir + "/" + name; }

// The state directory itself, never through a link in its last component.
// (A trailing slash would make open follow one: it goes.) A link higher up
// the path is where the folder's owner chose to keep it.
int OpenFolder(const std::string& dir, std::string* error) {
  std::string path = dir;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd >= 0) return fd;
  const int why = errno;
  struct stat st {};
  if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    *error = path + " is a symbolic link: refused";
  } else if (why == ENOTDIR) {
    *error = "not a directory: " + path;
  } else {
    errno = why;
    *error = Describe("cannot open", path);
  }
  return -1;
}

// A file of the state directory, opened relative to the folder's descriptor:
// never through a symbolic link, never a FIFO or device whose open would wait
// or act, and only a regular file of one name (a hard link to a file
// elsewhere would be written through as surely as a symbolic one). A file
// that is not there sets *missing, when given, instead of an error.
int OpenInFolder(int folder, const std::string& dir, const std::string& name, int flags, std::string* error,
                 bool* missing = nullptr) {
  const std::string path = InFolder(dir, name);
  const int fd = openat(folder, name.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600);
  if (fd < 0) {
    if (errno == ENOENT && missing != nullptr) return *missing = true, -1;
    *error = errno == ELOOP ? path + " is a symbolic link: refused"
                            : Describe((flags & O_EXCL) != 0 ? "cannot create" : "cannot open", path);
    return -1;
  }
  struct stat st {};
  std::string refusal;
  if (fstat(fd, &st) != 0) {
    refusal = Describe("cannot examine", path);
  } else if (!S_ISREG(st.st_mode)) {
    refusal = path + " is not a regular file: refused";
  } else if (st.st_nlink > 1) {
    refusal = path + " has another name (a hard link): refused";
  } else if (const int mode = fcntl(fd, F_GETFL); mode < 0 || fcntl(fd, F_SETFL, mode & ~O_NONBLOCK) != 0) {
    refusal = Describe("cannot open", path);
  }
  if (refusal.empty()) return fd;
  close(fd);
  *error = refusal;
  return -1;
}

const char* NonEmptyEnv(const char* name) {
  const char* v = std::getenv(name);
  return v != nullptr && *v != '\0' ? v : nullptr;
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

std::string LockPath(const std::string& dir) { return InFolder(dir, kLockName); }
std::string StatePath(const std::string& dir) { return InFolder(dir, kStateName); }
std::string DataPath(const std::string& dir) { return InFolder(dir, kDataName); }

SectorFile::~SectorFile() { Close(); }

void SectorFile::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  folder_ = -1;
  wipe_requested_ = false;
  written_end_ = reserved_end_ = 0;
}

bool SectorFile::Open(int folder, const std::string& dir, std::string* error) {
  Close();
  fd_ = OpenInFolder(folder, dir, kDataName, O_RDWR | O_CREAT, error);
  folder_ = folder;
  dir_ = dir;
  return fd_ >= 0;
}

bool SectorFile::KeepCopy(std::string* error) {
  // Whatever has the name goes first; the copy is a new file of its own.
  unlinkat(folder_, kSectorsSetAsideName, 0);
  const int out = OpenInFolder(folder_, dir_, kSectorsSetAsideName, O_WRONLY | O_CREAT | O_EXCL, error);
  if (out < 0) return false;
  struct stat st {};
  const bool ok = fstat(fd_, &st) == 0 && ftruncate(out, st.st_size) == 0 && CopyExtents(fd_, out, st.st_size);
  if (!ok) *error = Describe("cannot write", InFolder(dir_, kSectorsSetAsideName));
  if (close(out) != 0 && ok) return *error = Describe("cannot write", InFolder(dir_, kSectorsSetAsideName)), false;
  if (!ok) unlinkat(folder_, kSectorsSetAsideName, 0);
  return ok;
}

bool SectorFile::Read(uint32_t lba, uint32_t count, uint8_t* out) {
  return ReadZeroFilled(fd_, out, static_cast<size_t>(count) * kBlockBytes, lba * kBlockBytes);
}

// Zeros cost no space: a write of nothing but zeros becomes a hole, which
// reads back as zeros (an erase that overwrites a whole DVD+RW stays cheap).
bool SectorFile::Write(uint32_t lba, uint32_t count, const uint8_t* data) {
  // Never happens today (nothing writes after a wipe in one command), but a
  // write must not land in a file about to be emptied.
  if (wipe_requested_ && !Truncate()) return false;
  const size_t bytes = static_cast<size_t>(count) * kBlockBytes;
  const off_t at = static_cast<off_t>(lba) * kBlockBytes;
  const bool zeros = bytes > 0 && data[0] == 0 && std::memcmp(data, data + 1, bytes - 1) == 0;
  if (zeros && fallocate(fd_, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, at, static_cast<off_t>(bytes)) == 0) {
    written_end_ = at + static_cast<off_t>(bytes);
    // The file must still reach the end of what was written.
    struct stat st {};
    if (fstat(fd_, &st) == 0 && st.st_size < at + static_cast<off_t>(bytes))
      return ftruncate(fd_, at + static_cast<off_t>(bytes)) == 0;
    return true;
  }
  ReserveAhead(at, at + static_cast<off_t>(bytes));
  return WriteAll(fd_, data, bytes, at);
}

void SectorFile::ReserveAhead(off_t at, off_t end) {
  const bool continues = at == written_end_ && at > 0;
  written_end_ = end;
  if (!continues || end <= reserved_end_) return;
  const off_t from = std::max(at, reserved_end_);
  const off_t to = (end / kReserveStep + 1) * kReserveStep;
  // The size stays where the data ends; a failure (no room, no support)
  // only leaves the write to allocate its blocks itself.
  if (fallocate(fd_, FALLOC_FL_KEEP_SIZE, from, to - from) == 0) reserved_end_ = to;
}

bool SectorFile::Wipe() {
  wipe_requested_ = true;
  return true;
}

bool SectorFile::TakeWipeRequest() {
  const bool requested = wipe_requested_;
  wipe_requested_ = false;
  return requested;
}

bool SectorFile::Truncate() {
  wipe_requested_ = false;
  written_end_ = reserved_end_ = 0;
  return ftruncate(fd_, 0) == 0;
}

namespace {

constexpr char kSlotMagic[8] = {'F', 'X', 'S', 'I', 'M', 'S', 'T', '2'};
constexpr char kTextMagic[] = "fornax-simdrive-state 1\n";  // the format before the slots
constexpr size_t kHeaderBytes = 4096;
constexpr size_t kSlotBytes = 1 << 20;  // sparse: only the text is ever written
constexpr size_t kFileBytes = kHeaderBytes + 2 * kSlotBytes;

struct Header {
  char magic[8];
  uint64_t instance;
  uint64_t generation;  // 0: nothing stored; bit 0 names the slot in force
};
static_assert(sizeof(Header) == 24);

size_t SlotOffset(uint64_t generation) { return kHeaderBytes + static_cast<size_t>(generation & 1) * kSlotBytes; }

bool ReadExactly(int fd, void* out, size_t size, off_t offset) {
  auto* p = static_cast<uint8_t*>(out);
  while (size > 0) {
    const ssize_t n = pread(fd, p, size, offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
    offset += n;
  }
  return true;
}

uint64_t NewInstance() {
  std::random_device random;
  return (static_cast<uint64_t>(random()) << 32) ^ random() ^ static_cast<uint64_t>(getpid());
}

// The generation is read and written as one aligned 8-byte word.
std::atomic_ref<uint64_t> Generation(uint8_t* map) {
  return std::atomic_ref<uint64_t>(reinterpret_cast<Header*>(map)->generation);
}

}  // namespace

StateFile::~StateFile() { Close(); }

void StateFile::Unmap() {
  if (map_ != nullptr) munmap(map_, kFileBytes);
  map_ = nullptr;
}

void StateFile::CloseFile() {
  Unmap();
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  valid_ = false;
  instance_ = generation_ = 0;
}

void StateFile::Close() {
  CloseFile();
  folder_ = -1;
}

bool StateFile::Open(int folder, const std::string& dir, std::string* error) {
  Close();
  folder_ = folder;
  dir_ = dir;
  return Reopen(error);
}

// Opens the file under its name now (another process may have replaced it)
// and maps it when it has the size of a file of slots.
bool StateFile::Reopen(std::string* error) {
  CloseFile();
  if (folder_ < 0) return *error = "the state directory is not open", false;
  bool missing = false;
  fd_ = OpenInFolder(folder_, dir_, kStateName, O_RDWR, error, &missing);
  if (fd_ < 0) return missing;
  struct stat st {};
  if (fstat(fd_, &st) == 0 && st.st_size == static_cast<off_t>(kFileBytes)) {
    void* map = mmap(nullptr, kFileBytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
    if (map != MAP_FAILED) map_ = static_cast<uint8_t*>(map);
  }
  return true;
}

StateFile::Loaded StateFile::Load(std::string* text, std::string* error) {
  // The open file still in its place and whole? Another process replaces the
  // file only when it found none or an unreadable one, and that unlinks ours;
  // so does removing the folder. fstat of the descriptor tells, without a
  // path walk; the size check keeps the mapping from being read past the end
  // of a file something else cut short.
  struct stat st {};
  if (fd_ < 0 || fstat(fd_, &st) != 0 || st.st_nlink == 0 ||
      (map_ != nullptr && st.st_size != static_cast<off_t>(kFileBytes))) {
    if (!Reopen(error)) return Loaded::kUnreadable;
  }
  if (fd_ < 0) return Loaded::kMissing;
  if (map_ == nullptr) {
    valid_ = false;
    // A state written by the library before the slots: plain text.
    char start[sizeof kTextMagic - 1] = {};
    if (ReadExactly(fd_, start, sizeof start, 0) && std::memcmp(start, kTextMagic, sizeof start) == 0) {
      const off_t size = lseek(fd_, 0, SEEK_END);
      text->resize(static_cast<size_t>(std::max<off_t>(size, 0)));
      if (size > 0 && ReadExactly(fd_, text->data(), text->size(), 0)) return Loaded::kText;
    }
    return Loaded::kUnreadable;
  }
  const auto* h = reinterpret_cast<const Header*>(map_);
  const uint64_t generation = Generation(map_).load(std::memory_order_acquire);
  if (std::memcmp(h->magic, kSlotMagic, sizeof h->magic) != 0) {
    valid_ = false;
    return Loaded::kUnreadable;
  }
  if (valid_ && h->instance == instance_ && generation == generation_) return Loaded::kUnchanged;
  uint32_t length = 0;
  std::memcpy(&length, map_ + SlotOffset(generation), sizeof length);
  if (generation == 0 || length > kSlotBytes - sizeof length) {
    valid_ = false;
    return Loaded::kUnreadable;
  }
  valid_ = true;
  instance_ = h->instance;
  generation_ = generation;
  text->assign(reinterpret_cast<const char*>(map_ + SlotOffset(generation) + sizeof length), length);
  return Loaded::kText;
}

bool StateFile::Store(const std::string& text, std::string* error) {
  if (text.size() > kSlotBytes - sizeof(uint32_t)) return *error = "the drive state is too large to store", false;
  if (!valid_ || map_ == nullptr) return Create(text, error);
  const uint64_t next = generation_ + 1;
  // The slot out of use first, then the generation that puts it in force:
  // one aligned 8-byte store, never seen half done. Both land in the page
  // cache through the shared mapping, without a system call.
  const auto length = static_cast<uint32_t>(text.size());
  uint8_t* slot = map_ + SlotOffset(next);
  std::memcpy(slot, &length, sizeof length);
  std::memcpy(slot + sizeof length, text.data(), text.size());
  Generation(map_).store(next, std::memory_order_release);
  generation_ = next;
  return true;
}

// A new file (first use, an unreadable or older one): made beside the old
// one and renamed over it, so that it is whole or absent.
bool StateFile::Create(const std::string& text, std::string* error) {
  const std::string temp = std::string(kStateName) + ".tmp." + std::to_string(getpid());
  const std::string temp_path = InFolder(dir_, temp);
  // Whatever has the name already (a leftover of a process of the same
  // number, or a link put there) goes first: the file is made, never opened.
  if (unlinkat(folder_, temp.c_str(), 0) != 0 && errno != ENOENT)
    return *error = Describe("cannot remove", temp_path), false;
  const int fd = OpenInFolder(folder_, dir_, temp, O_RDWR | O_CREAT | O_EXCL, error);
  if (fd < 0) return false;
  Header h{};
  std::memcpy(h.magic, kSlotMagic, sizeof h.magic);
  h.instance = NewInstance();
  h.generation = 1;
  const auto length = static_cast<uint32_t>(text.size());
  bool ok = ftruncate(fd, static_cast<off_t>(kFileBytes)) == 0 && WriteAll(fd, &h, sizeof h, 0) &&
            WriteAll(fd, &length, sizeof length, static_cast<off_t>(SlotOffset(1))) &&
            WriteAll(fd, text.data(), text.size(), static_cast<off_t>(SlotOffset(1) + sizeof length));
  if (!ok) *error = Describe("cannot write", temp_path);
  close(fd);
  if (ok && renameat(folder_, temp.c_str(), folder_, kStateName) != 0) {
    *error = Describe("cannot replace", StatePath(dir_));
    ok = false;
  }
  if (!ok) {
    unlinkat(folder_, temp.c_str(), 0);
    return false;
  }
  if (!Reopen(error)) return false;
  if (map_ == nullptr) return *error = Describe("cannot map", StatePath(dir_)), false;
  valid_ = true;
  instance_ = h.instance;
  generation_ = h.generation;
  return true;
}

// A rename moves the name itself: a link under either name is moved or
// replaced, never followed.
void StateFile::SetAside() {
  renameat(folder_, kStateName, folder_, kSetAsideName);
  std::string ignored;
  Reopen(&ignored);
}


namespace {

// Bumped in the child of every fork: a child must not use the parent's
// descriptors (an flock on an inherited descriptor is the parent's lock).
std::atomic<uint64_t> fork_generation{0};

void CountFork() { fork_generation.fetch_add(1, std::memory_order_relaxed); }

uint64_t ForkGeneration() {
  static const bool registered = pthread_atfork(nullptr, nullptr, CountFork) == 0;
  (void)registered;
  return fork_generation.load(std::memory_order_relaxed);
}

}  // namespace

bool StateDirectory::Ensure(const std::string& dir, std::string* error) {
  const uint64_t forks = ForkGeneration();
  if (lock_fd_ >= 0 && forks == forks_ && dir == dir_ && !FolderRemoved()) return true;
  Close();
  if (!MakeDirectories(dir, error)) return false;
  folder_fd_ = OpenFolder(dir, error);
  if (folder_fd_ < 0) return false;
  lock_fd_ = OpenInFolder(folder_fd_, dir, kLockName, O_RDWR | O_CREAT, error);
  if (lock_fd_ < 0 || !state_.Open(folder_fd_, dir, error) || !sectors_.Open(folder_fd_, dir, error)) {
    Close();
    return false;
  }
  dir_ = dir;
  forks_ = forks;
  return true;
}

// A folder removed under the process is made again at its path, as it was
// when the files were opened by path. One moved or swapped away still has
// its name elsewhere and is kept.
bool StateDirectory::FolderRemoved() const {
  struct stat st {};
  return fstat(folder_fd_, &st) == 0 && st.st_nlink == 0;
}

void StateDirectory::Close() {
  if (lock_fd_ >= 0) close(lock_fd_);
  lock_fd_ = -1;
  state_.Close();
  sectors_.Close();
  if (folder_fd_ >= 0) close(folder_fd_);
  folder_fd_ = -1;
  dir_.clear();
  forks_ = 0;
}

bool StateDirectory::Lock(std::string* error) {
  while (flock(lock_fd_, LOCK_EX) != 0)
    if (errno != EINTR) return *error = Describe("cannot lock", LockPath(dir_)), false;
  return true;
}

void StateDirectory::Unlock() { flock(lock_fd_, LOCK_UN); }

bool ExportImage(const std::string& dir, uint32_t blocks, const std::string& path, std::string* error) {
  const off_t size = static_cast<off_t>(blocks) * kBlockBytes;
  const int folder = OpenFolder(dir, error);
  if (folder < 0) return false;
  bool missing = false;
  const int in = OpenInFolder(folder, dir, kDataName, O_RDONLY, error, &missing);
  close(folder);
  if (in < 0 && !missing) return false;
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
