// Commands that describe the disc: disc and track information, the TOC,
// capacities.

#include <algorithm>
#include <optional>

#include "simdrive/answers_info.h"
#include "simdrive/answers_toc.h"
#include "simdrive/bytes.h"
#include "simdrive/disc_model.h"
#include "simdrive/format_unit.h"
#include "simdrive/handlers.h"

namespace fornax::sim {
namespace {

constexpr uint8_t kAddressLba = 0;
constexpr uint8_t kAddressTrack = 1;
constexpr uint8_t kAddressSession = 2;
constexpr uint32_t kInvisibleTrack = 0xFF;

const TrackInfo* TrackByNumber(const std::vector<TrackInfo>& tracks, uint32_t number) {
  auto it = std::find_if(tracks.begin(), tracks.end(), [&](const TrackInfo& t) { return t.number == number; });
  return it == tracks.end() ? nullptr : &*it;
}

const TrackInfo* TrackByLba(const std::vector<TrackInfo>& tracks, uint32_t lba) {
  auto it = std::find_if(tracks.begin(), tracks.end(),
                         [&](const TrackInfo& t) { return lba >= t.start && lba - t.start < t.size; });
  return it == tracks.end() ? nullptr : &*it;
}

const TrackInfo* FirstTrackOfSession(const std::vector<TrackInfo>& tracks, uint32_t session) {
  auto it = std::find_if(tracks.begin(), tracks.end(), [&](const TrackInfo& t) { return t.session == session; });
  return it == tracks.end() ? nullptr : &*it;
}

// Track number 0 is the lead-in of a CD and FFh its invisible track; on DVD
// the invisible track is addressed by its number too.
std::optional<TrackInfo> FindTrack(const Disc& disc, uint8_t address_type, uint32_t number) {
  const auto tracks = TrackInfos(disc);
  const TrackInfo* found = nullptr;
  switch (address_type) {
    case kAddressLba: found = TrackByLba(tracks, number); break;
    case kAddressSession: found = FirstTrackOfSession(tracks, number); break;
    case kAddressTrack:
      if (number == 0 && IsCd(disc.kind)) return LeadInTrackInfo(disc);
      if (number == kInvisibleTrack && IsSequential(disc) && !disc.complete) return tracks.back();
      found = TrackByNumber(tracks, number);
      break;
    default: break;
  }
  if (found == nullptr) return std::nullopt;
  return *found;
}

}  // namespace

Reply ReadDiscInformation(CommandContext& ctx, const Command& cmd) {
  if (cmd.cdb[1] & 0x07) return Reply::Check(sense::InvalidFieldInCdb(1, 2));  // only standard data
  auto answer = DiscInformationAnswer(Summarize(ctx.state.disc));
  return Reply::Good(CutTo(std::move(answer), GetBe16(&cmd.cdb[7])));
}

Reply ReadTrackInformation(CommandContext& ctx, const Command& cmd) {
  const uint8_t address_type = cmd.cdb[1] & 0x03;
  if (cmd.cdb[1] & 0x04) return Reply::Check(sense::InvalidFieldInCdb(1, 2));  // "open" selection
  if (address_type == 3) return Reply::Check(sense::InvalidFieldInCdb(1, 1));
  const auto track = FindTrack(ctx.state.disc, address_type, GetBe32(&cmd.cdb[2]));
  if (!track) return Reply::Check(sense::InvalidFieldInCdb(2));
  return Reply::Good(CutTo(TrackInformationAnswer(*track), GetBe16(&cmd.cdb[7])));
}

Reply ReadToc(CommandContext& ctx, const Command& cmd) {
  const bool msf = cmd.cdb[1] & 0x02;
  uint8_t format = cmd.cdb[2] & 0x0F;
  // The format field before MMC, in byte 9 bits 7-6 (SFF-8020), still sent
  // by Linux: 40h asks for the session info, 80h for the full TOC.
  if (format == 0) {
    const uint8_t old_format = cmd.cdb[9] >> 6;
    if (old_format == 1) format = 1;
    if (old_format == 2) format = 2;
  }
  const Disc& disc = ctx.state.disc;
  Sense refusal;
  std::vector<uint8_t> answer;
  switch (format) {
    case 0: answer = TocAnswer(BuildToc(disc), cmd.cdb[6], msf, &refusal); break;
    case 1: answer = SessionInfoAnswer(BuildToc(disc), msf, &refusal); break;
    case 2: answer = FullTocAnswer(disc, cmd.cdb[6], &refusal); break;
    case 3: answer = PmaAnswer(disc, &refusal); break;
    case 5: answer = CdTextAnswer(disc, &refusal); break;
    case 4:
      if (IsCd(disc.kind))
        answer = AtipAnswer(disc.kind);
      else
        refusal = sense::InvalidFieldInCdb(2);
      break;
    default: refusal = sense::InvalidFieldInCdb(2);
  }
  if (!refusal.Good()) return Reply::Check(refusal);
  return Reply::Good(CutTo(std::move(answer), GetBe16(&cmd.cdb[7])));
}

Reply ReadCapacity(CommandContext& ctx, const Command& cmd) {
  const bool partial = cmd.cdb[8] & 0x01;
  if (!partial && GetBe32(&cmd.cdb[2]) != 0) return Reply::Check(sense::InvalidFieldInCdb(2));
  return Reply::Good(ReadCapacityAnswer(ReadCapacityLastLba(ctx.state.disc)));
}

Reply ReadFormatCapacities(CommandContext& ctx, const Command& cmd) {
  const Disc& disc = ctx.state.disc;
  auto answer = FormatCapacitiesAnswer(CurrentCapacity(disc), OfferedFormats(disc));
  return Reply::Good(CutTo(std::move(answer), GetBe16(&cmd.cdb[7])));
}

}  // namespace fornax::sim
