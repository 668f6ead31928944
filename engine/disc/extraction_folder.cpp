#include "engine/disc/extraction_folder.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fmt/format.h>
#include <utility>

#include "engine/disc/local_names.h"

namespace fornax {
namespace {

// Kernels before 5.6 have no openat2; there a name that is one safe
// component, opened with O_NOFOLLOW, cannot leave the folder either.
std::atomic<bool> noOpenat2{false};

int OpenAt(int folder, const char* name, int flags, unsigned mode) {
  flags |= O_NOFOLLOW | O_CLOEXEC;
  if (!noOpenat2.load(std::memory_order_relaxed)) {
    open_how how {};
    how.flags = static_cast<uint64_t>(flags);
    how.mode = (flags & O_CREAT) != 0 ? mode : 0;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    const long fd = ::syscall(SYS_openat2, folder, name, &how, sizeof how);
    if (fd >= 0 || errno != ENOSYS) return static_cast<int>(fd);
    noOpenat2.store(true, std::memory_order_relaxed);
  }
  return ::openat(folder, name, flags, mode);
}

std::string Reason(int error) { return std::strerror(error); }

}  // namespace

TExtractionFolder::~TExtractionFolder() {
  if (FDescriptor >= 0) ::close(FDescriptor);
}

TExtractionFolder::TExtractionFolder(TExtractionFolder&& other) noexcept
    : FDescriptor(std::exchange(other.FDescriptor, -1)), FPath(std::move(other.FPath)) {}

TExtractionFolder& TExtractionFolder::operator=(TExtractionFolder&& other) noexcept {
  if (this != &other) {
    if (FDescriptor >= 0) ::close(FDescriptor);
    FDescriptor = std::exchange(other.FDescriptor, -1);
    FPath = std::move(other.FPath);
  }
  return *this;
}

TExtractionFolder TExtractionFolder::OpenExisting(const std::string& path, std::string& error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    error = fmt::format("cannot open the folder '{}': {}", path, Reason(errno));
    return {};
  }
  return TExtractionFolder(fd, path);
}

TExtractionFolder TExtractionFolder::OpenDestination(const std::string& path, std::string& error) {
  std::error_code made;
  std::filesystem::create_directories(path, made);
  if (made) {
    error = fmt::format("cannot make the folder '{}': {}", path, made.message());
    return {};
  }
  return OpenExisting(path, error);
}

int TExtractionFolder::OpenBeneath(const std::string& name, int flags, unsigned mode) const {
  if (!IsSafeLocalComponent(name)) {
    errno = EINVAL;
    return -1;
  }
  return OpenAt(FDescriptor, name.c_str(), flags, mode);
}

TExtractionFolder TExtractionFolder::Subfolder(const std::string& name, std::string& error) const {
  const std::string path = PathOf(name);
  if (!IsSafeLocalComponent(name)) {
    error = fmt::format("'{}' is not a name a folder can have here", path);
    return {};
  }
  // mkdirat never follows a link in the last component: a link there is
  // met as "exists" and refused by the open below.
  if (::mkdirat(FDescriptor, name.c_str(), 0777) != 0 && errno != EEXIST) {
    error = fmt::format("cannot make the folder '{}': {}", path, Reason(errno));
    return {};
  }
  const int fd = OpenBeneath(name, O_RDONLY | O_DIRECTORY, 0);
  if (fd < 0) {
    const int why = errno;
    struct stat st {};
    const bool link = ::fstatat(FDescriptor, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
    error = link ? fmt::format("'{}' is a symbolic link: nothing is extracted through it", path)
                 : fmt::format("cannot open the folder '{}': {}", path, Reason(why));
    return {};
  }
  return TExtractionFolder(fd, path);
}

}  // namespace fornax
