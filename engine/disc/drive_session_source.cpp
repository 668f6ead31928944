#include "engine/disc/drive_session_source.h"

#include <algorithm>

#include "engine/disc/volume_descriptors.h"
#include "engine/drive/disc_sessions.h"
#include "engine/drive/medium_queries.h"
#include "engine/drive/scsi_device.h"

namespace fornax {
namespace {

constexpr uint8_t kIllegalRequest = 0x05;
constexpr uint8_t kUnitAttention = 0x06;

bool NextWritableAddressValid(const TTrackInfo& track) { return (track.Raw[7] & 0x01) != 0; }
bool Blank(const TTrackInfo& track) { return (track.Raw[6] & 0x40) != 0; }

}  // namespace

TRecordedArea AreaOfTracks(const std::vector<TTrackInfo>& tracks) {
  TRecordedArea area;
  for (const TTrackInfo& track : tracks) {
    if (Blank(track)) continue;
    const uint64_t start = track.TrackStart;
    const uint64_t end = NextWritableAddressValid(track) ? track.NextWritableAddress : start + track.TrackSize;
    area.Add(start, std::max(start, end));
  }
  if (!tracks.empty() && NextWritableAddressValid(tracks.back()))
    area.SetNewSessionStart(tracks.back().NextWritableAddress);
  return area;
}

bool TDriveSessionSource::ReadSectors(uint32_t lba, uint32_t count, uint8_t* out) {
  // READ (10) counts blocks in 16 bits; longer reads go in pieces.
  while (count > 0) {
    const uint16_t piece = static_cast<uint16_t>(std::min<uint32_t>(count, 32));
    if (!FDevice.ReadSectors(lba, piece, out, piece * 2048u)) return false;
    lba += piece;
    count -= piece;
    out += piece * 2048u;
  }
  return true;
}

std::string TDriveSessionSource::LastError() const { return FDevice.LastError(); }

bool TDriveSessionSource::SessionStart(int session, uint32_t& start) {
  return TDiscSessions(FDevice).Start(session, start);
}

// A drive that only reads has no track information: the end is unknown
// there, and no session is taken for cut short on its word.
bool TDriveSessionSource::SessionRecordedEnd(int session, uint32_t& end) {
  return TDiscSessions(FDevice).RecordedEnd(session, end);
}

TRecordedArea TDriveSessionSource::RecordedArea() {
  if (!FArea) {
    FArea = QueryRecordedArea();
    if (FNewSessionStart) FArea->SetNewSessionStart(*FNewSessionStart);
  }
  return *FArea;
}

TRecordedArea TDriveSessionSource::QueryRecordedArea() {
  if (IsOverwritableMedium(TMediumQueries(FDevice, {}).MediumType())) return OverwritableArea();
  std::vector<TTrackInfo> tracks;
  if (ReadTracks(tracks)) return AreaOfTracks(tracks);
  uint32_t last = 0, blockLength = 0;
  if (FDevice.ReadCapacity(last, blockLength) && last < 0x7FFFFFFFu) return TRecordedArea::UpTo(uint64_t{last} + 1);
  // A drive that tells nothing of its disc: its reads are the only bound.
  return TSessionSource::RecordedArea();
}

bool TDriveSessionSource::ReadTracks(std::vector<TTrackInfo>& tracks) {
  const auto senseKey = [this] { return FDevice.LastSense()[2] & 0x0F; };
  if (!FDevice.ReadDiscInformation() && !(senseKey() == kUnitAttention && FDevice.ReadDiscInformation()))
    return false;
  const TDiscInformation disc = FDevice.DiscInformation();
  if (disc.DiscStatus() == 0) return true;  // blank: nothing recorded
  for (unsigned number = std::max<unsigned>(disc.FirstTrack(), 1); number <= disc.LastTrackInLastSession();
       ++number) {
    const uint8_t track = static_cast<uint8_t>(number);
    if (FDevice.ReadTrackInfo(track) || (senseKey() == kUnitAttention && FDevice.ReadTrackInfo(track))) {
      tracks.push_back(FDevice.TrackInfo());
      continue;
    }
    // A drive that refuses the command itself tells no tracks at all; a
    // track it cannot tell holds nothing an import may take.
    if (tracks.empty() && senseKey() == kIllegalRequest) return false;
  }
  return true;
}

// The descriptors at the start of the disc describe the newest session,
// whose volume space reaches over every earlier one; past it lie only
// sectors of sessions never finished, and the next one goes there.
TRecordedArea TDriveSessionSource::OverwritableArea() {
  const TDescriptorSet set = ScanDescriptorSet(
      [this](uint32_t lba, uint8_t* sector) { return FDevice.ReadSectors(lba, 1, sector, 2048); }, 0);
  TRecordedArea area;
  if (!set.Found) return area;
  uint64_t end = set.VolumeEnd;
  uint32_t last = 0, blockLength = 0;
  if (FDevice.ReadCapacity(last, blockLength) && last < 0x7FFFFFFFu) end = std::min<uint64_t>(end, uint64_t{last} + 1);
  area.Add(0, end);
  area.SetNewSessionStart(end);
  return area;
}

}  // namespace fornax
