#include "simdrive/features.h"

#include "simdrive/bytes.h"
#include "simdrive/disc_model.h"

namespace fornax::sim {
namespace {

std::vector<uint8_t> ProfileListData(Profile current) {
  std::vector<uint8_t> data;
  for (Profile p : kDriveProfiles) {
    const auto code = static_cast<uint16_t>(p);
    data.push_back(static_cast<uint8_t>(code >> 8));
    data.push_back(static_cast<uint8_t>(code));
    data.push_back(p == current ? 0x01 : 0x00);
    data.push_back(0);
  }
  return data;
}

std::vector<uint8_t> RandomReadableData(bool dvd) {
  std::vector<uint8_t> data(8, 0);
  PutBe32(&data[0], 2048);
  PutBe16(&data[4], dvd ? geometry::kEccBlock : 1);
  return data;
}

std::vector<uint8_t> RandomWritableData(const Disc& disc) {
  std::vector<uint8_t> data(12, 0);
  PutBe32(&data[0], disc.formatted_blocks > 0 ? disc.formatted_blocks - 1 : 0);
  PutBe32(&data[4], 2048);
  PutBe16(&data[8], geometry::kEccBlock);
  return data;
}

std::vector<uint8_t> IncrementalStreamingData(bool cd) {
  // Data block types (bit n = type n), BUF, one link size, padded to four.
  std::vector<uint8_t> data{static_cast<uint8_t>(cd ? 0x05 : 0x01), 0x00, 0x01, 0x01,
                            static_cast<uint8_t>(cd ? 7 : 16), 0, 0, 0};
  return data;
}

bool IncrementalCurrent(const Disc& disc) {
  if (disc.complete) return false;
  if (IsCd(disc.kind) || disc.kind == MediumKind::kDvdR) return true;
  return disc.kind == MediumKind::kDvdRw && !disc.restricted_overwrite && !disc.minimally_blanked;
}

Feature Make(uint16_t code, bool current, std::vector<uint8_t> data, uint8_t version = 0,
             bool persistent = false) {
  return Feature{code, version, persistent, current, std::move(data)};
}

}  // namespace

std::vector<Feature> DriveFeatures(const Disc& disc) {
  using namespace feature;
  const MediumKind k = disc.kind;
  const bool present = k != MediumKind::kNone;
  const bool cd = IsCd(k);
  const bool dvd_rw_seq = k == MediumKind::kDvdRw && !disc.restricted_overwrite;
  std::vector<Feature> f;
  f.push_back(Make(kProfileList, true, ProfileListData(ProfileOf(k, disc.restricted_overwrite)), 0, true));
  f.push_back(Make(kCore, true, {0, 0, 0, 1, 0x01, 0, 0, 0}, 2, true));
  f.push_back(Make(kRemovableMedium, true, {0x29, 0, 0, 0}, 0, true));
  f.push_back(Make(kRandomReadable, present, RandomReadableData(IsDvd(k))));
  f.push_back(Make(kCdRead, cd, {0, 0, 0, 0}));
  f.push_back(Make(kDvdRead, IsDvd(k), {}));
  f.push_back(Make(kRandomWritable, k == MediumKind::kDvdRam, RandomWritableData(disc)));
  f.push_back(Make(kIncrementalStreaming, IncrementalCurrent(disc), IncrementalStreamingData(cd)));
  f.push_back(Make(kFormattable, k == MediumKind::kDvdPlusRw || k == MediumKind::kDvdRw ||
                                     k == MediumKind::kDvdRam, {}));
  f.push_back(Make(kRestrictedOverwrite, k == MediumKind::kDvdRw && disc.restricted_overwrite, {}));
  f.push_back(Make(kDvdPlusRw, k == MediumKind::kDvdPlusRw, {0x01, 0, 0, 0}));  // Write
  f.push_back(Make(kDvdPlusR, k == MediumKind::kDvdPlusR, {0x01, 0, 0, 0}));    // Write
  // BUF, test write, CD-RW; data block types 8 and 10.
  f.push_back(Make(kCdTrackAtOnce, cd, {0x46, 0, 0x05, 0x00}));
  // BUF, test write, DVD-RW. The feature has no write bit.
  f.push_back(Make(kDvdMinusWrite, k == MediumKind::kDvdR || dvd_rw_seq, {0x46, 0, 0, 0}));
  f.push_back(Make(kDvdPlusRDl, k == MediumKind::kDvdPlusRDl, {0x01, 0, 0, 0}));  // Write
  f.push_back(Make(kRealTimeStreaming, present, {0x03, 0, 0, 0}));
  return f;
}

std::vector<uint8_t> ConfigurationAnswer(const Disc& disc, uint8_t request_type, uint16_t start,
                                         Sense* refusal) {
  if (request_type > 2) {
    *refusal = sense::InvalidFieldInCdb(1, 1);
    return {};
  }
  std::vector<uint8_t> b(8, 0);
  PutBe16(&b[6], static_cast<uint16_t>(ProfileOf(disc.kind, disc.restricted_overwrite)));
  for (const Feature& f : DriveFeatures(disc)) {
    const bool wanted = request_type == 2 ? f.code == start
                                          : f.code >= start && (request_type == 0 || f.current);
    if (!wanted) continue;
    b.push_back(static_cast<uint8_t>(f.code >> 8));
    b.push_back(static_cast<uint8_t>(f.code));
    b.push_back(static_cast<uint8_t>((f.version << 2) | (f.persistent ? 0x02 : 0) | (f.current ? 0x01 : 0)));
    b.push_back(static_cast<uint8_t>(f.data.size()));
    b.insert(b.end(), f.data.begin(), f.data.end());
  }
  PutBe32(&b[0], static_cast<uint32_t>(b.size() - 4));
  return b;
}

}  // namespace fornax::sim
