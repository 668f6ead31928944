#include "simdrive/format_unit.h"

#include <algorithm>

#include "simdrive/bytes.h"
#include "simdrive/disc_model.h"

namespace fornax::sim {
namespace {

constexpr uint32_t kBlockLength = 0x800;
constexpr uint32_t kEccParameter = 16;

uint32_t RoundUpToEcc(uint64_t blocks) {
  return static_cast<uint32_t>((blocks + geometry::kEccBlock - 1) / geometry::kEccBlock *
                               geometry::kEccBlock);
}

bool Offered(const Disc& disc, const FormatDescriptor& wanted, bool blocks_must_match) {
  for (const FormatDescriptor& d : OfferedFormats(disc)) {
    if (d.type != wanted.type || d.parameter != wanted.parameter) continue;
    if (!blocks_must_match || d.blocks == wanted.blocks) return true;
  }
  return false;
}

FormatResult FormatDvdPlusRw(Disc& disc, const FormatDescriptor& d, int64_t now_ms,
                             int64_t background_ms) {
  const bool restart = d.parameter == 1;
  if (restart && !disc.formatted) return {sense::kInvalidFieldInParameters};
  disc.background = BackgroundFormat::kRunning;
  disc.background_end_ms = now_ms + background_ms;
  if (restart) return {};
  disc.formatted = true;
  disc.formatted_blocks = geometry::kDvdPlus;
  disc.written_end = 0;
  return {sense::kNone, true, true};
}

FormatResult FormatDvdRam(Disc& disc, const FormatDescriptor& d) {
  if (!Offered(disc, d, true)) return {sense::kInvalidFieldInParameters};
  disc.formatted_blocks = d.blocks;
  disc.written_end = 0;
  return {sense::kNone, true, true};
}

// A DVD-RW in restricted overwrite, formatted over `formatted` blocks; in the
// intermediate state it grows from `grow_nwa` on.
void MakeRestricted(Disc& disc, uint32_t formatted, bool intermediate, uint32_t grow_nwa) {
  disc = BlankDisc(MediumKind::kDvdRw, true);
  disc.formatted_blocks = formatted;
  disc.intermediate = intermediate;
  disc.grow_nwa = grow_nwa;
}

FormatResult FormatDvdRw(Disc& disc, const FormatDescriptor& d) {
  if (!Offered(disc, d, false)) return {sense::kInvalidFieldInParameters};
  switch (d.type) {
    case format_type::kFull:
      if (d.blocks > geometry::kDvdRw) return {sense::kInvalidFieldInParameters};
      MakeRestricted(disc, geometry::kDvdRw, false, 0);
      return {sense::kNone, true, true};
    case format_type::kFullSequential:
      disc = BlankDisc(MediumKind::kDvdRw, false);
      return {sense::kNone, true, true};
    case format_type::kGrow: {
      const uint32_t end = std::min<uint32_t>(geometry::kDvdRw,
                                              RoundUpToEcc(uint64_t{disc.formatted_blocks} + d.blocks));
      const uint32_t written = disc.written_end;
      MakeRestricted(disc, disc.formatted_blocks, true, end);
      disc.written_end = written;
      return {sense::kNone, false, true};
    }
    case format_type::kQuick: {
      const uint32_t size = std::min<uint32_t>(geometry::kDvdRw, RoundUpToEcc(d.blocks));
      MakeRestricted(disc, size, true, size);
      return {sense::kNone, true, true};
    }
    default: return {sense::kInvalidFieldInParameters};
  }
}

}  // namespace

CapacityDescriptor CurrentCapacity(const Disc& disc) {
  switch (disc.kind) {
    case MediumKind::kNone: return {0, 3};
    case MediumKind::kDvdPlusRw: return {geometry::kDvdPlus, static_cast<uint8_t>(disc.formatted ? 2 : 1)};
    case MediumKind::kDvdRam: return {disc.formatted_blocks, 2};
    case MediumKind::kDvdRw:
      if (!disc.restricted_overwrite) return {geometry::kDvdRw, 1};
      if (disc.intermediate) return {geometry::kDvdRw, 3};
      return {disc.formatted_blocks, 2};
    default: return {UsableEnd(disc), 3};
  }
}

std::vector<FormatDescriptor> OfferedFormats(const Disc& disc) {
  using namespace format_type;
  switch (disc.kind) {
    case MediumKind::kDvdPlusRw: return {{geometry::kDvdPlus, kDvdPlusRw, 0}};
    case MediumKind::kDvdRam:
      return {{geometry::kDvdRam, kFull, kBlockLength},
              {geometry::kDvdRamAlternative, kFull, kBlockLength},
              {geometry::kDvdRamSpare1, kSpareExpansion, kBlockLength},
              {geometry::kDvdRamSpare2, kSpareExpansion, kBlockLength}};
    case MediumKind::kDvdRw: {
      std::vector<FormatDescriptor> offered{{geometry::kDvdRw, kFull, kBlockLength},
                                            {geometry::kDvdRw, kFullSequential, kEccParameter}};
      // Growing is offered on a closed restricted-overwrite disc with room left.
      if (disc.restricted_overwrite && !disc.intermediate && disc.formatted_blocks < geometry::kDvdRw)
        offered.push_back({geometry::kDvdRw - disc.formatted_blocks, kGrow, kEccParameter});
      offered.push_back({geometry::kDvdRw, kQuick, kEccParameter});
      return offered;
    }
    default: return {};
  }
}

Sense ParseFormatList(std::span<const uint8_t> list, FormatRequest* request) {
  if (list.size() < 12) return sense::kParameterListLength;
  const uint8_t flags = list[1];
  const bool fov = flags & 0x80;
  // With FOV the drive would have to honour defect handling it does not have.
  if (fov && (flags & 0x7C) != 0) return sense::kInvalidFieldInParameters;
  if (GetBe16(&list[2]) != 8) return sense::kInvalidFieldInParameters;
  request->immediate = fov && (flags & 0x02);
  request->descriptor.blocks = GetBe32(&list[4]);
  request->descriptor.type = static_cast<uint8_t>(list[8] >> 2);
  request->descriptor.parameter = GetBe24(&list[9]);
  if ((list[8] & 0x03) != 0) return sense::kInvalidFieldInParameters;  // no sub-types here
  return sense::kNone;
}

FormatResult ApplyFormat(Disc& disc, const FormatRequest& request, int64_t now_ms,
                         int64_t background_ms) {
  const FormatDescriptor& d = request.descriptor;
  switch (disc.kind) {
    case MediumKind::kCdR:
    case MediumKind::kDvdR:
    case MediumKind::kDvdPlusR:
    case MediumKind::kDvdPlusRDl: return {sense::kCannotFormatMedium};
    case MediumKind::kDvdPlusRw:
      if (d.type != format_type::kDvdPlusRw || d.parameter > 1) return {sense::kInvalidFieldInParameters};
      return FormatDvdPlusRw(disc, d, now_ms, background_ms);
    case MediumKind::kDvdRam: return FormatDvdRam(disc, d);
    case MediumKind::kDvdRw: return FormatDvdRw(disc, d);
    default: return {sense::kInvalidFieldInParameters};  // a CD-RW offers no format
  }
}

Sense ApplyBlank(Disc& disc, uint8_t type) {
  if (!IsBlankable(disc.kind)) return sense::kIncompatibleMedium;
  if (type != blank_type::kDisc && type != blank_type::kMinimal) return sense::InvalidFieldInCdb(1, 2);
  disc = BlankDisc(disc.kind, false);
  disc.minimally_blanked = disc.kind == MediumKind::kDvdRw && type == blank_type::kMinimal;
  return sense::kNone;
}

}  // namespace fornax::sim
