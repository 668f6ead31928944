#include "engine/disc/sector_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace fornax {

TRecordedArea TRecordedArea::UpTo(uint64_t end) {
  TRecordedArea area;
  area.Add(0, end);
  return area;
}

void TRecordedArea::Add(uint64_t first, uint64_t end) {
  if (first >= end) return;
  std::vector<std::pair<uint64_t, uint64_t>> merged;
  merged.reserve(FRanges.size() + 1);
  for (const auto& range : FRanges) {
    if (range.second < first || range.first > end) {
      merged.push_back(range);
      continue;
    }
    first = std::min(first, range.first);
    end = std::max(end, range.second);
  }
  merged.emplace_back(first, end);
  std::sort(merged.begin(), merged.end());
  FRanges = std::move(merged);
}

void TRecordedArea::SetNewSessionStart(uint64_t start) { FNewSession = std::min(FNewSession, start); }

TRecordedArea::TPlace TRecordedArea::Place(uint64_t first, uint64_t sectors) const {
  if (sectors == 0) return TPlace::Inside;
  // Sums stay far below 2^64: both come from 32-bit fields.
  const uint64_t end = first + sectors;
  if (end > FNewSession) return TPlace::InNewSession;
  for (const auto& range : FRanges)
    if (range.first <= first && end <= range.second) return TPlace::Inside;
  return TPlace::Outside;
}

uint64_t TRecordedArea::InsideFrom(uint64_t first) const {
  if (first >= FNewSession) return 0;
  for (const auto& range : FRanges)
    if (range.first <= first && first < range.second) return std::min(range.second, FNewSession) - first;
  return 0;
}

TImageFileSource::TImageFileSource(const std::string& path, std::vector<uint32_t> sessionStarts)
    : FStarts(std::move(sessionStarts)) {
  FHandle = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st {};
  if (FHandle < 0 || ::fstat(FHandle, &st) != 0) {
    FLastError = std::strerror(errno);
    return;
  }
  FSectors = static_cast<uint64_t>(st.st_size) / 2048;
}

TImageFileSource::~TImageFileSource() {
  if (FHandle >= 0) ::close(FHandle);
}

bool TImageFileSource::ReadSectors(uint32_t lba, uint32_t count, uint8_t* out) {
  if (static_cast<uint64_t>(lba) + count > FSectors) {
    FLastError = "LOGICAL BLOCK ADDRESS OUT OF RANGE";
    return false;
  }
  const size_t bytes = static_cast<size_t>(count) * 2048;
  size_t done = 0;
  while (done < bytes) {
    const ssize_t n = ::pread(FHandle, out + done, bytes - done, static_cast<off_t>(lba) * 2048 + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      FLastError = n < 0 ? std::strerror(errno) : "END OF IMAGE FILE";
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

bool TImageFileSource::SessionStart(int session, uint32_t& start) {
  if (session < 1 || session > static_cast<int>(FStarts.size())) return false;
  start = FStarts[static_cast<size_t>(session - 1)];
  return true;
}

bool TMemorySource::ReadSectors(uint32_t lba, uint32_t count, uint8_t* out) {
  Reads.emplace_back(lba, count);
  const uint64_t begin = static_cast<uint64_t>(lba) * 2048;
  const uint64_t end = begin + static_cast<uint64_t>(count) * 2048;
  if (end > FBytes.size()) return false;
  std::memcpy(out, FBytes.data() + begin, static_cast<size_t>(end - begin));
  return true;
}

bool TMemorySource::SessionStart(int session, uint32_t& start) {
  if (session < 1 || session > static_cast<int>(FStarts.size())) return false;
  start = FStarts[static_cast<size_t>(session - 1)];
  return true;
}

}  // namespace fornax
