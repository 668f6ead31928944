#include "engine/image/extent_copy.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <future>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "engine/base/sector.h"
#include "engine/image/stream_ex.h"

namespace fornax {
namespace {

constexpr size_t kCopyBuffer = 131072;
constexpr int64_t kPageRun = 65536;
// A kernel copy sets up a pipe for every call: for a small file one read and
// one write cost less (200,000 files of 0-2 KiB: 0.2-0.3 s less system time).
constexpr int64_t kSmallCopy = 65536;

[[noreturn]] void Fail(const char* what) {
  throw EStreamError(std::string(what) + ": " + std::strerror(errno));
}

[[noreturn]] void FailRead() {
  throw ESourceReadError(std::string("Read error on a source file: ") + std::strerror(errno));
}

void WriteAll(int image, const uint8_t* data, size_t length, int64_t at) {
  while (length > 0) {
    const ssize_t n = ::pwrite(image, data, length, static_cast<off_t>(at));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      Fail("Write error on the image file");
    }
    data += n;
    at += n;
    length -= static_cast<size_t>(n);
  }
}

// With a second thread to spare, large runs are written into the image from
// a read-only mapping of the source, which that thread maps and reads in a
// window ahead: one copy in the kernel, as with copy_file_range, with the
// reading of the source off the writing thread, in writes aligned to large
// pages of the image's page cache. Files of 512 MiB on ext4: about a tenth
// less time than copy_file_range.
constexpr int64_t kWorthMapping = int64_t{4} << 20;
constexpr int64_t kMapWindow = int64_t{16} << 20;
constexpr int64_t kMappedWrite = int64_t{1} << 20;

// One window of the source, mapped and read in; unmapped when it goes, also
// when a failed write throws past it.
class TWindow {
 public:
  TWindow() = default;
  TWindow(int source, int64_t from, int64_t to) {
    static const int64_t page = ::sysconf(_SC_PAGESIZE);
    From = from - from % page;
    Length = std::min(to - From, kMapWindow);
    Base = ::mmap(nullptr, static_cast<size_t>(Length), PROT_READ, MAP_SHARED | MAP_POPULATE, source,
                  static_cast<off_t>(From));
  }
  TWindow(TWindow&& other) noexcept { *this = std::move(other); }
  TWindow& operator=(TWindow&& other) noexcept {
    if (this != &other) {
      Unmap();
      Base = std::exchange(other.Base, MAP_FAILED);
      From = other.From;
      Length = other.Length;
    }
    return *this;
  }
  ~TWindow() { Unmap(); }

  bool Mapped() const { return Base != MAP_FAILED; }
  int64_t End() const { return From + Length; }
  const uint8_t* At(int64_t offset) const { return static_cast<const uint8_t*>(Base) + (offset - From); }

 private:
  void Unmap() {
    if (Base != MAP_FAILED) ::munmap(Base, static_cast<size_t>(Length));
    Base = MAP_FAILED;
  }
  void* Base = MAP_FAILED;
  int64_t From = 0;  // page-aligned offset of the source
  int64_t Length = 0;
};

// Writes [from, to) of the source from mappings; returns where it stopped:
// `to`, the point where the source ended (it shrank since it was opened), or
// an earlier one where a source cannot be mapped at all, which the caller
// then copies the other ways. With `mapAhead` another thread maps (and reads
// in, for a cold cache) the next window while this one is written.
int64_t CopyMapped(int source, int image, int64_t from, int64_t to, int64_t shift, std::atomic<int64_t>* progress,
                   const std::atomic<bool>* cancel, bool mapAhead) {
  const auto map = [source, to](int64_t at) { return TWindow(source, at, to); };
  TWindow window = map(from);
  int64_t done = from;
  while (window.Mapped()) {
    std::future<TWindow> next;
    if (mapAhead && window.End() < to) {
      try {
        next = std::async(std::launch::async, map, window.End());
      } catch (const std::system_error&) {
        mapAhead = false;  // no thread to be had: map in turn
      }
    }
    while (done < window.End()) {
      if (cancel && cancel->load(std::memory_order_relaxed)) return done;
      const int64_t misaligned = (done + shift) % kMappedWrite;
      const size_t want = static_cast<size_t>(std::min(window.End() - done, kMappedWrite - misaligned));
      const ssize_t n = ::pwrite(image, window.At(done), want, static_cast<off_t>(done + shift));
      if (n > 0) {
        done += n;
        if (progress) progress->fetch_add(n, std::memory_order_relaxed);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      // A mapping that cannot be read: either the source was cut short
      // under it, or its pages could not be read.
      if (n < 0 && errno == EFAULT) {
        struct stat st {};
        if (::fstat(source, &st) == 0 && st.st_size <= done) return done;
        errno = EIO;
        FailRead();
      }
      if (n == 0) errno = ENOSPC;
      Fail("Write error on the image file");
    }
    if (window.End() >= to) break;
    window = next.valid() ? next.get() : map(window.End());
  }
  return done;
}

// Copies [from, to) of the source to the same offsets shifted by `shift`;
// returns the bytes copied, fewer when the source ends early.
int64_t CopyRange(int source, int image, int64_t from, int64_t to, int64_t shift,
                  std::atomic<int64_t>* progress, const std::atomic<bool>* cancel, bool mapAhead) {
  static thread_local bool kernelCopy = true;
  int64_t done = from;
  if (mapAhead && to - from >= kWorthMapping) {
    done = CopyMapped(source, image, from, to, shift, progress, cancel, mapAhead);
    if (done >= to || (cancel && cancel->load(std::memory_order_relaxed))) return done - from;
    // Where the source ended, the loop below reads nothing either.
  }
  while (done < to) {
    if (cancel && cancel->load(std::memory_order_relaxed)) break;
    // The kernel moves data through 64 KiB pipe buffers; writes that start on
    // a 64 KiB boundary of the image fill whole large pages of the page
    // cache, so the first piece only reaches the next such boundary.
    const int64_t misaligned = (done + shift) % kPageRun;
    const int64_t piece = misaligned != 0 ? kPageRun - misaligned : int64_t{1} << 24;
    const size_t want = static_cast<size_t>(std::min<int64_t>(to - done, piece));
    ssize_t n = -1;
    if (kernelCopy && to - from > kSmallCopy) {
      loff_t in = done, out = done + shift;
      n = ::copy_file_range(source, &in, image, &out, want, 0);
      if (n < 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP ||
                    errno == EBADF)) {
        kernelCopy = false;
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno == ENOSPC) Fail("Write error on the image file");
      if (n < 0) FailRead();
    } else {
      static thread_local std::vector<uint8_t> buffer(kCopyBuffer);
      n = ::pread(source, buffer.data(), std::min(want, kCopyBuffer), static_cast<off_t>(done));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) FailRead();
      WriteAll(image, buffer.data(), static_cast<size_t>(n), done + shift);
    }
    if (n == 0) break;
    done += n;
    if (progress) progress->fetch_add(n, std::memory_order_relaxed);
  }
  return done - from;
}

}  // namespace

bool CopiesThroughPageCache(int image) {
  constexpr decltype(statfs::f_type) kExt = 0xEF53, kTmpfs = 0x01021994;
  struct statfs info {};
  return ::fstatfs(image, &info) == 0 && (info.f_type == kExt || info.f_type == kTmpfs);
}

// Below this size looking for holes costs more than copying the zeros.
constexpr int64_t kSparseWorthLooking = 1 << 20;

TExtentCopy CopyExtent(int source, int64_t sourceSize, int image, int64_t at, int64_t plannedBytes,
                       bool holesReadAsZero, std::atomic<int64_t>* progress,
                       const std::atomic<bool>* cancel, bool mapAhead) {
  TExtentCopy outcome;
  int64_t offset = 0;
  const bool skipHoles = holesReadAsZero && sourceSize >= kSparseWorthLooking;
  while (offset < plannedBytes) {
    // Skip the holes of a sparse source: they are zeros already in the image.
    off_t data = static_cast<off_t>(offset);
    if (skipHoles) {
      data = ::lseek(source, static_cast<off_t>(offset), SEEK_DATA);
      if (data < 0 && errno == ENXIO) break;  // only a hole up to the end of the file
      if (data < 0) data = static_cast<off_t>(offset);  // no hole support: copy it all
    }
    if (data >= plannedBytes) break;
    if (progress) progress->fetch_add(data - offset, std::memory_order_relaxed);
    off_t hole = skipHoles ? ::lseek(source, data, SEEK_HOLE) : -1;
    if (hole < 0 || hole > plannedBytes) hole = static_cast<off_t>(plannedBytes);
    const int64_t copied = CopyRange(source, image, data, hole, at, progress, cancel, mapAhead);
    offset = data + copied;
    if (cancel && cancel->load(std::memory_order_relaxed)) {
      outcome.Cancelled = true;
      return outcome;
    }
    if (copied < hole - data) break;  // the file ended early
  }
  // A read that ends early means the file shrank while it was copied.
  const bool endedEarly = offset < std::min(sourceSize, plannedBytes) && !skipHoles;
  outcome.Shrunk = sourceSize < plannedBytes || endedEarly;
  outcome.Grown = sourceSize > plannedBytes;
  if (progress) progress->fetch_add(RoundUpToSector(plannedBytes) - std::min(offset, plannedBytes), std::memory_order_relaxed);

  // Zeros from the source's end to the end of its last sector. A new image
  // reads zeros wherever nothing was written (its length is set at the end);
  // elsewhere every byte is written.
  if (holesReadAsZero) return outcome;
  const int64_t end = RoundUpToSector(plannedBytes);
  int64_t from = std::min(offset, plannedBytes);
  static const std::vector<uint8_t> zeros(kCopyBuffer, 0);
  while (from < end) {
    const int64_t piece = std::min<int64_t>(end - from, static_cast<int64_t>(kCopyBuffer));
    WriteAll(image, zeros.data(), static_cast<size_t>(piece), at + from);
    from += piece;
  }
  return outcome;
}

}  // namespace fornax
