#include "engine/pipeline/session_check.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fmt/format.h>

#include "engine/drive/scsi_device.h"

namespace fornax {
namespace {

constexpr uint32_t kSector = 2048;
constexpr uint32_t kPieceSectors = 32;

}  // namespace

bool DiscHolds(TSCSIDevice& device, uint32_t lba, const uint8_t* expected, uint32_t sectors, std::string& why) {
  std::vector<uint8_t> read(kPieceSectors * kSector);
  for (uint32_t done = 0; done < sectors;) {
    const uint32_t piece = std::min(kPieceSectors, sectors - done);
    if (!device.ReadSectors(lba + done, static_cast<uint16_t>(piece), read.data(), piece * kSector)) {
      why = fmt::format("SECTOR {}: {}", lba + done, device.LastError());
      return false;
    }
    for (uint32_t i = 0; i < piece; ++i) {
      const size_t at = static_cast<size_t>(done + i) * kSector;
      if (std::memcmp(read.data() + static_cast<size_t>(i) * kSector, expected + at, kSector) != 0) {
        why = fmt::format("SECTOR {} DOES NOT HOLD WHAT WAS WRITTEN", lba + done + i);
        return false;
      }
    }
    done += piece;
  }
  return true;
}

bool ReadImageHead(const std::string& path, uint32_t sectors, std::vector<uint8_t>& head, std::string& why) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    why = fmt::format("CAN'T OPEN \"{}\": {}", path, std::strerror(errno));
    return false;
  }
  head.assign(static_cast<size_t>(sectors) * kSector, 0);
  size_t got = 0;
  while (got < head.size()) {
    const ssize_t n = ::pread(fd, head.data() + got, head.size() - got, static_cast<off_t>(got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  ::close(fd);
  head.resize(got / kSector * kSector);
  return true;
}

}  // namespace fornax
