#include "engine/disc/extraction.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fmt/format.h>
#include <vector>

#include "engine/base/date_time.h"
#include "engine/base/messages.h"
#include "engine/image/entries.h"

namespace fornax {
namespace {

constexpr uint32_t kExtractChunkSectors = 31;

}  // namespace

bool ExtractFileTo(TSectorSource& source, const TFEntry& entry, const std::string& destination,
                   const TLogLine& log, std::string& error) {
  if (log) log(">>> " + fmt::format(kMsgExtractingFile, entry.LongName, destination), 1);
  const int fd = ::open(destination.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    error = fmt::format("cannot create \"{}\": {}", destination, std::strerror(errno));
    return false;
  }
  std::vector<uint8_t> buffer(65536, 0);
  uint64_t sector = static_cast<uint32_t>(entry.ISOLocation);
  uint64_t remaining = static_cast<uint64_t>(entry.ISOSize);
  bool ok = true;
  while (remaining > 0 && ok) {
    const uint32_t chunk = static_cast<uint32_t>(std::min<uint64_t>(remaining, kExtractChunkSectors * 2048));
    const uint32_t count = (chunk + 2047) / 2048;
    if (sector + count > UINT32_MAX || !source.ReadSectors(static_cast<uint32_t>(sector), count, buffer.data())) {
      error = source.LastError();
      ok = false;
      break;
    }
    for (uint32_t done = 0; done < chunk;) {
      const ssize_t n = ::write(fd, buffer.data() + done, chunk - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        error = fmt::format("cannot write \"{}\": {}", destination, std::strerror(n == 0 ? ENOSPC : errno));
        ok = false;
        break;
      }
      done += static_cast<uint32_t>(n);
    }
    sector += count;
    remaining -= chunk;
  }
  if (::close(fd) != 0 && ok) {
    error = fmt::format("cannot write \"{}\": {}", destination, std::strerror(errno));
    ok = false;
  }
  if (!ok) {
    // A file cut short must not pass for the whole one.
    ::unlink(destination.c_str());
    return false;
  }
  const int64_t when = UnixFromLocalDateTime(entry.DateTime);
  const struct timespec times[2] = {{static_cast<time_t>(when), 0}, {static_cast<time_t>(when), 0}};
  ::utimensat(AT_FDCWD, destination.c_str(), times, 0);
  return true;
}

}  // namespace fornax
