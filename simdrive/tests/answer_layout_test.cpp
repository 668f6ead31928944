// Answer layouts byte for byte, from the pure builders: sense, INQUIRY, disc
// and track information, capacities, ATIP, mode pages, the CD time code and
// the metadata codec.

#include <gtest/gtest.h>

#include "simdrive/answers_info.h"
#include "simdrive/answers_toc.h"
#include "simdrive/bytes.h"
#include "simdrive/disc_model.h"
#include "simdrive/features.h"
#include "simdrive/mode_pages.h"
#include "simdrive/state_codec.h"

namespace fornax::sim {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Head(const Bytes& b, size_t n) { return Bytes(b.begin(), b.begin() + static_cast<long>(n)); }

TEST(SenseLayout, FixedFormatWithProgressFieldPointerAndAddress) {
  const auto progress = EncodeSense(sense::WithProgress(sense::kOperationInProgress, 0x8000));
  EXPECT_EQ(Bytes(progress.begin(), progress.end()),
            (Bytes{0x70, 0, 0x02, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0x04, 0x07, 0, 0x80, 0x80, 0x00}));
  const auto field = EncodeSense(sense::InvalidFieldInCdb(2, 5));
  EXPECT_EQ(field[15], 0xCD) << "SKSV, C/D, BPV, bit 5";
  EXPECT_EQ(field[17], 2);
  const auto range = EncodeSense(sense::LbaOutOfRange(0x12345678));
  EXPECT_EQ(Bytes(range.begin(), range.begin() + 8), (Bytes{0xF0, 0, 0x05, 0x12, 0x34, 0x56, 0x78, 0x0A}));
}

TEST(CdTimeCode, LeadInAndLeadOutOfAnEightyMinuteDisc) {
  const struct {
    int32_t lba;
    uint8_t m, s, f;
  } rows[] = {{0, 0, 2, 0}, {-150, 0, 0, 0}, {-11634, 97, 26, 66}, {359849, 79, 59, 74}, {26402, 5, 54, 2}};
  for (const auto& r : rows) {
    const Msf msf = LbaToMsf(r.lba);
    EXPECT_EQ((Bytes{msf.m, msf.s, msf.f}), (Bytes{r.m, r.s, r.f})) << r.lba;
    EXPECT_EQ(MsfToLba(msf), r.lba);
  }
}

TEST(InformationLayout, InquiryIsNeutralAndSaysItIsSimulated) {
  const Bytes b = InquiryAnswer(Identity{});
  EXPECT_EQ(Head(b, 8), (Bytes{0x05, 0x80, 0x05, 0x02, 0x5B, 0, 0, 0}));
  EXPECT_EQ(std::string(b.begin() + 8, b.begin() + 36), "FORNAX  VIRTUAL RECORDERSIM1");
  EXPECT_EQ(std::string(b.begin() + 36, b.begin() + 56), "SOFTWARE SIMULATION ");
}

TEST(InformationLayout, BlankCdDiscInformationCarriesTheAtipAddresses) {
  const Bytes b = DiscInformationAnswer(Summarize(BlankDisc(MediumKind::kCdR, false)));
  const Bytes expected{0x00, 0x20, 0x00, 0x01, 0x01, 0x01, 0x01, 0x20, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0x00,
                       0x61, 0x1A, 0x42, 0x00, 0x4F, 0x3B, 0x4A, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(b, expected);
}

TEST(InformationLayout, ClosedCdTrackMatchesARealDrive) {
  Disc disc = BlankDisc(MediumKind::kCdRw, false);
  disc.tracks.push_back(Track{0, 0x8581, 0x857F, 1, false, true, 4});
  disc.closed_sessions = 1;
  disc.complete = true;
  const Bytes b = TrackInformationAnswer(TrackInfos(disc).at(0));
  EXPECT_EQ(Head(b, 8), (Bytes{0x00, 0x22, 0x01, 0x01, 0x00, 0x04, 0x01, 0x00}));
  EXPECT_EQ(GetBe32(&b[24]), 0x8581u);
  EXPECT_EQ(b.size(), 36u);
}

TEST(InformationLayout, BlankDvdPlusRInvisibleTrack) {
  const Bytes b = TrackInformationAnswer(TrackInfos(BlankDisc(MediumKind::kDvdPlusR, false)).at(0));
  EXPECT_EQ(Head(b, 8), (Bytes{0x00, 0x22, 0x01, 0x01, 0x00, 0x04, 0x4F, 0x01}));
  EXPECT_EQ(GetBe32(&b[12]), 0u);
  EXPECT_EQ(GetBe32(&b[16]), 2295104u);
  EXPECT_EQ(GetBe32(&b[24]), 2295104u);
}

TEST(InformationLayout, FormatCapacitiesOfABlankDvdPlusRw) {
  const Disc disc = BlankDisc(MediumKind::kDvdPlusRw, false);
  EXPECT_EQ(FormatCapacitiesAnswer(CurrentCapacity(disc), OfferedFormats(disc)),
            (Bytes{0, 0, 0, 0x10, 0x00, 0x23, 0x05, 0x40, 0x01, 0x00, 0x08, 0x00, 0x00, 0x23, 0x05, 0x40, 0x98,
                   0x00, 0x00, 0x00}));
}

TEST(InformationLayout, AtipOfCdRAndCdRw) {
  const Bytes r = AtipAnswer(MediumKind::kCdR);
  EXPECT_EQ(r.size(), 28u);
  EXPECT_EQ(GetBe16(&r[0]), 26);
  EXPECT_EQ(r[6], 0x80);
  EXPECT_EQ(AtipAnswer(MediumKind::kCdRw)[6], 0xC0);
  EXPECT_EQ(Bytes(r.begin() + 8, r.begin() + 15), (Bytes{97, 26, 66, 0, 79, 59, 74}));
}

// Feature codes in an answer, in order.
std::vector<uint16_t> FeatureCodes(const Bytes& answer) {
  std::vector<uint16_t> codes;
  for (size_t at = 8; at + 4 <= answer.size(); at += 4 + answer[at + 3]) codes.push_back(GetBe16(&answer[at]));
  return codes;
}

TEST(ConfigurationLayout, RequestTypesSelectFeatures) {
  const Disc cd = BlankDisc(MediumKind::kCdR, false);
  Sense refusal;
  const Bytes current = ConfigurationAnswer(cd, 1, 0, &refusal);
  EXPECT_EQ(GetBe32(&current[0]) + 4u, current.size());
  EXPECT_EQ(GetBe16(&current[6]), 0x0009);
  EXPECT_EQ(FeatureCodes(current), (std::vector<uint16_t>{0x0000, 0x0001, 0x0003, 0x0010, 0x001E, 0x0021,
                                                           0x002D, 0x0107}));
  const Bytes from_2a = ConfigurationAnswer(cd, 0, 0x2A, &refusal);
  EXPECT_EQ(FeatureCodes(from_2a), (std::vector<uint16_t>{0x002A, 0x002B, 0x002D, 0x002F, 0x003B, 0x0107}));
  EXPECT_EQ(from_2a[8 + 2] & 0x01, 0) << "002Ah is not current with a CD-R";
  const Bytes absent = ConfigurationAnswer(cd, 2, 0x0040, &refusal);
  EXPECT_EQ(absent, (Bytes{0, 0, 0, 4, 0, 0, 0, 0x09})) << "a feature the drive lacks: the header alone";
  const Bytes dvd_minus = ConfigurationAnswer(BlankDisc(MediumKind::kDvdR, false), 2, 0x2F, &refusal);
  EXPECT_EQ(Bytes(dvd_minus.begin() + 8, dvd_minus.end()), (Bytes{0x00, 0x2F, 0x01, 0x04, 0x46, 0, 0, 0}));
  const Bytes profiles = ConfigurationAnswer(BlankDisc(MediumKind::kDvdRw, true), 2, 0, &refusal);
  EXPECT_EQ(Bytes(profiles.begin() + 8, profiles.begin() + 20),
            (Bytes{0x00, 0x00, 0x03, 0x2C, 0x00, 0x2B, 0x00, 0x00, 0x00, 0x1B, 0x00, 0x00}));
  EXPECT_EQ(Bytes(profiles.begin() + 24, profiles.begin() + 32), (Bytes{0x00, 0x14, 0x00, 0x00, 0x00, 0x13, 0x01, 0x00}))
      << "restricted overwrite is the current profile";
}

TEST(ModePageLayout, CapabilitiesReportBufferAndSpeeds) {
  DriveState state = FreshDriveState();
  const Bytes p = CapabilitiesPage(state, PageControl::kCurrent);
  EXPECT_EQ(p[0], 0x2A);
  EXPECT_EQ(p[1] + 2u, p.size());
  EXPECT_EQ(p[3] & 0x37, 0x37) << "writes CD-R, CD-RW, DVD-R, DVD-RAM, test write";
  EXPECT_EQ(p[4] & 0x80, 0x80) << "BUF";
  EXPECT_EQ(GetBe16(&p[8]), 22160);
  EXPECT_EQ(GetBe16(&p[12]), 2048);
  EXPECT_EQ(GetBe16(&p[18]), 11080);
  EXPECT_EQ(GetBe16(&p[20]), 11080);
  EXPECT_EQ(GetBe16(&p[30]) * 4u + 32, p.size());
  state.write_speed_request = 6000;
  EXPECT_EQ(GetBe16(&CapabilitiesPage(state, PageControl::kCurrent)[20]), 5540) << "nearest lower speed";
  state.write_speed_request = 1000;
  EXPECT_EQ(GetBe16(&CapabilitiesPage(state, PageControl::kCurrent)[20]), 2770) << "slowest when below all";
  const Bytes changeable = CapabilitiesPage(state, PageControl::kChangeable);
  EXPECT_TRUE(std::all_of(changeable.begin() + 2, changeable.end(), [](uint8_t b) { return b == 0; }));
}

TEST(ModePageLayout, ModeSenseHeaderAndUnknownPage) {
  const DriveState state = FreshDriveState();
  Sense refusal;
  const Bytes all = ModeSenseAnswer(state, 0x3F, PageControl::kCurrent, &refusal);
  EXPECT_TRUE(refusal.Good());
  EXPECT_EQ(GetBe16(&all[0]) + 2u, all.size());
  EXPECT_EQ(GetBe16(&all[6]), 0) << "no block descriptor";
  // All pages in ascending order: 01h, 05h, 0Eh, 2Ah.
  EXPECT_EQ(Bytes(all.begin() + 8, all.begin() + 16), (Bytes{0x01, 0x06, 0x00, 0x05, 0, 0, 0, 0}));
  EXPECT_EQ(all[16], 0x05);
  EXPECT_EQ(all[17], 0x32);
  EXPECT_EQ(Bytes(all.begin() + 68, all.begin() + 84),
            (Bytes{0x0E, 0x0E, 0x04, 0, 0, 0, 0, 0, 0x01, 0xFF, 0x02, 0xFF, 0, 0, 0, 0}));
  EXPECT_EQ(all[84], 0x2A);
  EXPECT_TRUE(ModeSenseAnswer(state, 0x30, PageControl::kCurrent, &refusal).empty());
  EXPECT_EQ(refusal.asc, 0x24);
}

TEST(TocLayout, CdTocInTimeForm) {
  Disc disc = BlankDisc(MediumKind::kCdR, false);
  disc.tracks.push_back(Track{0, 15002, 15000, 1, false, true, 4});
  disc.closed_sessions = 1;
  disc.open_start = 26402;
  Sense refusal;
  const Bytes b = TocAnswer(BuildToc(disc), 0, true, &refusal);
  EXPECT_EQ(b, (Bytes{0x00, 0x12, 0x01, 0x01, 0, 0x14, 0x01, 0, 0x00, 0x00, 0x02, 0x00, 0, 0x14, 0xAA, 0, 0x00,
                      0x03, 22, 0x02}));  // lead-out 03:22:02
}

TEST(StateCodec, RoundTripAndRefusals) {
  DriveState s = FreshDriveState();
  s.identity = Identity{"TDK", "CD-RW  CRX800E", "1.0"};
  s.tray_open = true;
  s.faults.busy_commands = 3;
  s.faults.busy_as_status = false;
  s.faults.write_errors = {{40, 3, 0x0C, 0}, {99, 4, 0x44, 1}};
  s.faults.read_errors = {{1200, 3, 0}, {77, 1, 2}};
  s.operation = Operation{OperationKind::kFormat, 1700000000123, 400};
  s.disc = BlankDisc(MediumKind::kDvdPlusRw, false);
  s.disc.formatted = true;
  s.disc.formatted_blocks = 2295104;
  s.disc.background = BackgroundFormat::kRunning;
  s.page05[2] = 0x52;
  DriveState back;
  std::string error;
  ASSERT_TRUE(DecodeState(EncodeState(s), &back, &error)) << error;
  EXPECT_TRUE(back == s);
  // Tracks are on sequential media: a reserved one being filled, in track mode 5.
  s.disc = BlankDisc(MediumKind::kCdR, false);
  s.disc.tracks.push_back(Track{0, 64, 32, 1, true, false, 5});
  s.disc.open_start = 64 + 150;
  ASSERT_TRUE(DecodeState(EncodeState(s), &back, &error)) << error;
  EXPECT_TRUE(back == s);
  EXPECT_FALSE(DecodeState("fornax-simdrive-state 1\ntrack 1 2 x\n", &back, &error));
  EXPECT_NE(error.find("line 2"), std::string::npos) << error;
  EXPECT_FALSE(DecodeState("fornax-simdrive-state 9\n", &back, &error));
  EXPECT_TRUE(DecodeState("fornax-simdrive-state 1\nsome-later-key 7\n", &back, &error)) << "unknown keys pass";
}

}  // namespace
}  // namespace fornax::sim
