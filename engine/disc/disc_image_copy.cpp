#include "engine/disc/disc_image_copy.h"

#include <fmt/format.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "engine/disc/volume_descriptors.h"
#include "engine/drive/disc_sessions.h"
#include "engine/drive/scsi_device.h"

namespace fornax {
namespace {

constexpr uint32_t kSector = 2048;
constexpr uint8_t kUnitAttention = 0x06;
constexpr uint8_t kIllegalRequest = 0x05;

uint8_t SenseKey(const TSCSIDevice& device) { return device.LastSense()[2] & 0x0F; }

// A command asked once more after a unit attention (a disc just inserted).
template <typename F>
bool Asked(TSCSIDevice& device, F command) {
  return command() || (SenseKey(device) == kUnitAttention && command());
}

// The session's tracks by READ TRACK INFORMATION: `refused` when the drive
// does not give track information at all.
bool ExtentFromTracks(TSCSIDevice& device, int session, TSectorSpan& extent, bool& refused) {
  refused = false;
  if (!Asked(device, [&] { return device.ReadDiscInformation(); })) {
    refused = SenseKey(device) == kIllegalRequest;
    return false;
  }
  const uint8_t first = device.DiscInformation().FirstTrack();
  const uint8_t last = device.DiscInformation().LastTrackInLastSession();
  uint64_t start = UINT64_MAX, end = 0;
  for (unsigned track = std::max<unsigned>(first, 1); track <= last; ++track) {
    if (!Asked(device, [&] { return device.ReadTrackInfo(static_cast<uint8_t>(track)); })) {
      refused = SenseKey(device) == kIllegalRequest && track == std::max<unsigned>(first, 1);
      return false;
    }
    const TTrackInfo& info = device.TrackInfo();
    const int trackSession = info.Raw[2] | (info.Raw[33] << 8);
    const bool blank = (info.Raw[6] & 0x40) != 0;
    if (trackSession != session || blank) continue;
    const bool nwaValid = (info.Raw[7] & 0x01) != 0;
    const uint64_t trackEnd = nwaValid ? info.NextWritableAddress : uint64_t{info.TrackStart} + info.TrackSize;
    if (trackEnd <= info.TrackStart) continue;  // nothing recorded in it yet
    start = std::min<uint64_t>(start, info.TrackStart);
    end = std::max(end, trackEnd);
  }
  if (end <= start || end > UINT32_MAX) return false;
  extent = TSectorSpan{static_cast<uint32_t>(start), static_cast<uint32_t>(end - start)};
  return true;
}

}  // namespace

bool RecordedSessionExtent(TSCSIDevice& device, int session, TSectorSpan& extent) {
  if (session < 1) return false;
  bool refused = false;
  if (ExtentFromTracks(device, session, extent, refused)) return true;
  if (!refused) return false;
  // A drive that only reads: the table of contents.
  TSessionExtent toc;
  if (!TDiscSessions(device).Extent(session, toc)) return false;
  if (toc.SizeKnown && toc.Size > 0) {
    extent = TSectorSpan{toc.Start, toc.Size};
    return true;
  }
  const TDescriptorSet set = ScanDescriptorSet(
      [&](uint32_t lba, uint8_t* sector) { return device.ReadSectors(lba, 1, sector, kSector); }, toc.Start);
  if (!set.Found || set.VolumeEnd <= toc.Start) return false;
  extent = TSectorSpan{toc.Start, set.VolumeEnd - toc.Start};
  return true;
}

uint64_t TImagePlan::SectorsToRead() const {
  uint64_t total = 0;
  for (const TImagePiece& p : Pieces) total += p.Count;
  return total;
}

TImagePlan WholeDiscPlan(const std::vector<TSectorSpan>& sessions) {
  TImagePlan plan;
  std::vector<TSectorSpan> sorted = sessions;
  std::sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) { return a.First < b.First; });
  for (const TSectorSpan& s : sorted) {
    if (s.Count == 0) continue;
    plan.Pieces.push_back(TImagePiece{s.First, s.Count, s.First});
    plan.ImageSectors = std::max(plan.ImageSectors, s.End());
  }
  return plan;
}

bool SessionImagePlan(const TSectorSpan& session, uint32_t headSectors, const TSectorSet& usedBelow, TImagePlan& plan,
                      std::string& refusal) {
  plan = TImagePlan{};
  if (session.Count == 0) {
    refusal = "the session holds no sectors";
    return false;
  }
  if (session.First == 0) {  // a first session is an image as it lies
    plan.Pieces.push_back(TImagePiece{0, session.Count, 0});
    plan.ImageSectors = session.Count;
    return true;
  }
  headSectors = std::min(headSectors, session.Count);
  if (session.First < headSectors) {
    refusal = fmt::format(
        "the session starts at sector {}, before its descriptors could be put at sector 16 "
        "(up to sector {})",
        session.First, headSectors - 1);
    return false;
  }
  const std::vector<TSectorSpan> clash = usedBelow.Within(0, headSectors);
  if (!clash.empty()) {
    refusal = fmt::format(
        "the session's file system uses sectors {} of an earlier session, where its own "
        "descriptors would go",
        SectorSpansText(clash));
    return false;
  }
  plan.Pieces.push_back(TImagePiece{session.First, headSectors, 0});
  for (const TSectorSpan& r : usedBelow.Within(0, session.First))
    plan.Pieces.push_back(TImagePiece{r.First, r.Count, r.First});
  plan.Pieces.push_back(TImagePiece{session.First, session.Count, session.First});
  plan.ImageSectors = session.End();
  return true;
}

TDiscImageCopy::TDiscImageCopy(TSectorSource& source, int fd, TCopySettings settings)
    : FSource(source), FFd(fd), FSettings(settings) {
  if (FSettings.ChunkSectors == 0) FSettings.ChunkSectors = 1;
  // READ (10) counts its blocks in 16 bits.
  FSettings.ChunkSectors = std::min<uint32_t>(FSettings.ChunkSectors, 65535);
  FSettings.ChunkTries = std::max(FSettings.ChunkTries, 1);
  FSettings.SectorTries = std::max(FSettings.SectorTries, 1);
  FBuffer.assign(static_cast<size_t>(FSettings.ChunkSectors) * kSector, 0);
}

bool TDiscImageCopy::Stopped() {
  if (!Cancelled || !Cancelled()) return false;
  if (FError.empty()) FError = "interrupted";
  return true;
}

bool TDiscImageCopy::Run(const TImagePlan& plan) {
  for (const TImagePiece& piece : plan.Pieces)
    if (!CopyPiece(piece)) return false;
  if (::ftruncate(FFd, static_cast<off_t>(plan.ImageSectors * kSector)) != 0) {
    FError = fmt::format("cannot give the image its size: {}", std::strerror(errno));
    return false;
  }
  return true;
}

bool TDiscImageCopy::CopyPiece(const TImagePiece& piece) {
  for (uint32_t done = 0; done < piece.Count;) {
    if (Stopped()) return false;
    const uint32_t count = std::min(FSettings.ChunkSectors, piece.Count - done);
    if (!ReadChunk(piece.DiscFirst + done, count)) return false;
    if (!WriteAt(piece.ImageFirst + done, FBuffer.data(), count)) return false;
    done += count;
    FDone += count;
  }
  return true;
}

bool TDiscImageCopy::TryRead(uint32_t lba, uint32_t count, int tries, uint8_t* out, bool& fatal) {
  fatal = false;
  for (int attempt = 0; attempt < tries; ++attempt) {
    if (attempt > 0 && Stopped()) return fatal = true, false;
    if (FSource.ReadSectors(lba, count, out)) {
      if (attempt > 0) ++FRecovered;
      return true;
    }
    if (ReadEndsCopy && ReadEndsCopy()) {
      FError = fmt::format("the disc cannot be read any more (at sector {}): {}", lba, FSource.LastError());
      return fatal = true, false;
    }
  }
  return false;
}

bool TDiscImageCopy::ReadChunk(uint32_t lba, uint32_t count) {
  bool fatal = false;
  if (TryRead(lba, count, FSettings.ChunkTries, FBuffer.data(), fatal)) return true;
  if (fatal) return false;
  if (count > 1 && OnNote)
    OnNote(fmt::format("sectors {} fail after {} tries ({}); reading them one by one", SectorSpanText({lba, count}),
                       FSettings.ChunkTries, FSource.LastError()));
  for (uint32_t i = 0; i < count; ++i) {
    uint8_t* out = FBuffer.data() + static_cast<size_t>(i) * kSector;
    // A chunk of one sector has had its tries.
    if (count > 1 && TryRead(lba + i, 1, FSettings.SectorTries, out, fatal)) continue;
    if (fatal) return false;
    std::memset(out, 0, kSector);
    if (!FUnreadable.Contains(lba + i)) {
      FUnreadable.Add(lba + i);
      ++FUnreadableCount;
    }
  }
  return true;
}

bool TDiscImageCopy::WriteAt(uint64_t imageSector, const uint8_t* data, uint32_t sectors) {
  const size_t total = static_cast<size_t>(sectors) * kSector;
  const auto offset = static_cast<off_t>(imageSector * kSector);
  for (size_t done = 0; done < total;) {
    const ssize_t n = ::pwrite(FFd, data + done, total - done, offset + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      FError = fmt::format("cannot write the image: {}", std::strerror(n == 0 ? ENOSPC : errno));
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace fornax
