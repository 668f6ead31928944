#include "engine/disc/extraction.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fmt/format.h>
#include <random>
#include <set>
#include <vector>

#include "engine/base/date_time.h"
#include "engine/base/messages.h"
#include "engine/disc/local_names.h"
#include "engine/image/entries.h"

namespace fornax {
namespace {

constexpr uint32_t kExtractChunkSectors = 31;
constexpr int kTemporaryNameTries = 16;

// A file of its own for the bytes while they are written; a leftover of a
// process killed meanwhile shows by its name what it is.
int CreateTemporary(const TExtractionFolder& folder, std::string& name) {
  static thread_local std::mt19937_64 random{std::random_device{}()};
  for (int attempt = 0; attempt < kTemporaryNameTries; ++attempt) {
    name = fmt::format(".fornax-extract-{:016x}", random());
    const int fd = folder.OpenBeneath(name, O_WRONLY | O_CREAT | O_EXCL, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

bool WriteAll(int fd, const uint8_t* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// Copies the entry's sectors to `fd`; false with `error` set.
bool CopySectors(TSectorSource& source, const TFEntry& entry, int fd, const std::string& shown, std::string& error) {
  std::vector<uint8_t> buffer(kExtractChunkSectors * 2048, 0);
  uint64_t sector = static_cast<uint32_t>(entry.ISOLocation);
  uint64_t remaining = static_cast<uint64_t>(entry.ISOSize);
  while (remaining > 0) {
    const uint32_t chunk = static_cast<uint32_t>(std::min<uint64_t>(remaining, kExtractChunkSectors * 2048));
    const uint32_t count = (chunk + 2047) / 2048;
    if (sector + count > UINT32_MAX || !source.ReadSectors(static_cast<uint32_t>(sector), count, buffer.data())) {
      error = source.LastError();
      return false;
    }
    if (!WriteAll(fd, buffer.data(), chunk)) {
      error = fmt::format("cannot write \"{}\": {}", shown, std::strerror(errno));
      return false;
    }
    sector += count;
    remaining -= chunk;
  }
  return true;
}

}  // namespace

bool ExtractFileTo(TSectorSource& source, const TFEntry& entry, const TExtractionFolder& folder,
                   const std::string& name, const TLogLine& log, std::string& error) {
  const std::string shown = folder.PathOf(name);
  if (log) log(">>> " + fmt::format(kMsgExtractingFile, entry.LongName, shown), 1);
  if (!IsSafeLocalComponent(name)) {
    error = fmt::format("cannot create \"{}\": not a name a file can have there", shown);
    return false;
  }
  std::string temporary;
  const int fd = CreateTemporary(folder, temporary);
  if (fd < 0) {
    error = fmt::format("cannot create \"{}\": {}", shown, std::strerror(errno));
    return false;
  }
  bool ok = CopySectors(source, entry, fd, shown, error);
  if (ok) {
    const int64_t when = UnixFromLocalDateTime(entry.DateTime);
    const struct timespec times[2] = {{static_cast<time_t>(when), 0}, {static_cast<time_t>(when), 0}};
    ::futimens(fd, times);
  }
  if (::close(fd) != 0 && ok) {
    error = fmt::format("cannot write \"{}\": {}", shown, std::strerror(errno));
    ok = false;
  }
  // renameat takes the name itself: a link of that name is replaced, never
  // followed, and a folder of that name stays.
  if (ok && ::renameat(folder.Descriptor(), temporary.c_str(), folder.Descriptor(), name.c_str()) != 0) {
    error = fmt::format("cannot create \"{}\": {}", shown, std::strerror(errno));
    ok = false;
  }
  // A file cut short must not pass for the whole one.
  if (!ok) ::unlinkat(folder.Descriptor(), temporary.c_str(), 0);
  return ok;
}

bool ExtractFileTo(TSectorSource& source, const TFEntry& entry, const std::string& destination,
                   const TLogLine& log, std::string& error) {
  const std::filesystem::path path(destination);
  const std::string name = path.filename().string();
  if (!IsSafeLocalComponent(name)) {
    error = fmt::format("cannot create \"{}\": not a file name", destination);
    return false;
  }
  const std::string parent = path.has_parent_path() ? path.parent_path().string() : ".";
  TExtractionFolder folder = TExtractionFolder::OpenExisting(parent, error);
  if (!folder.Opened()) return false;
  return ExtractFileTo(source, entry, folder, name, log, error);
}

void ExtractTree(TSectorSource& source, const TDEntry& directory, const TExtractionFolder& folder,
                 const TLogLine& log, TTreeExtraction& result) {
  const auto fail = [&result](std::string line) {
    if (result.OnFailure) result.OnFailure(line);
    result.Failures.push_back(std::move(line));
  };
  // Names the disc keeps apart may be one local name ("A." and "A"): the
  // second would take the place of the first.
  std::set<std::string> taken;
  for (const TFEntry* e = directory.FirstEntry; e && !result.Stopped; e = e->Next) {
    const std::string name = LocalFileName(e->LongName);
    if (name.empty()) {
      fail(fmt::format("cannot extract '{}' into '{}': the name is not safe as a local file name", e->LongName,
                       folder.Path()));
      continue;
    }
    if (!taken.insert(name).second) {
      fail(fmt::format("cannot extract '{}': another entry of the disc already took that name",
                       folder.PathOf(name)));
      continue;
    }
    if (result.BeforeEntry && !result.BeforeEntry(*e)) {
      result.Stopped = true;
      return;
    }
    if (e->IsDirectory()) {
      std::string error;
      const TExtractionFolder sub = folder.Subfolder(name, error);
      if (!sub.Opened()) {
        fail(fmt::format("cannot extract the folder: {}", error));
        continue;
      }
      ExtractTree(source, *e->Directory, sub, log, result);
      continue;
    }
    std::string error;
    if (ExtractFileTo(source, *e, folder, name, log, error))
      ++result.Files;
    else
      fail(fmt::format("cannot extract '{}': {}", folder.PathOf(name), error));
  }
}

}  // namespace fornax
