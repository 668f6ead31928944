#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/base/bytes.h"
#include "engine/drive/disc_sessions.h"
#include "engine/drive/toc_records.h"
#include "engine/recorder.h"
#include "support/fake_drive.h"

namespace fornax {
namespace {

using test::TFakeDrive;
using test::TReadOnlyDrive;

TEST(TocRecords, SessionInformationIsToldFromATableOfContents) {
  struct TRow {
    std::vector<uint8_t> Answer;
    bool Session;
    const char* What;
  };
  const TRow rows[] = {
      {{0x00, 0x0A, 1, 3, 0, 0x14, 3, 0, 0x00, 0x00, 0x4E, 0x20}, true, "three sessions, the last from track 3"},
      {{0x00, 0x0A, 1, 1, 0, 0x00, 0, 0, 0, 0, 0, 0}, true, "QEMU's answer: the track left 0"},
      {{0x00, 0x12, 1, 1, 0, 0x14, 1, 0, 0, 0, 0, 0}, false, "format 0 of one track, cut to 12 bytes"},
      {{0x00, 0x0A, 1, 1, 0, 0x14, 0xAA, 0, 0, 0, 0x01, 0x2E}, false, "format 0 holding only the lead-out"},
      {{0x00, 0x0A, 0, 0, 0, 0x14, 1, 0, 0, 0, 0, 0}, false, "no complete session"},
      {{0x00, 0x0A, 2, 1, 0, 0x14, 1, 0, 0, 0, 0, 0}, false, "the last session before the first"},
  };
  for (const TRow& row : rows) EXPECT_EQ(IsSessionInfo(row.Answer.data()), row.Session) << row.What;
  const TSessionInfo info = ParseSessionInfo(rows[0].Answer.data());
  EXPECT_EQ(info.FirstSession, 1);
  EXPECT_EQ(info.LastSession, 3);
  EXPECT_EQ(info.FirstTrackOfLast, 3);
  EXPECT_EQ(info.Start, 20000u);
}

TEST(TocRecords, TrackStartsWithinTheAnswersBounds) {
  // Track 1 at 0, track 2 at 11,702, the lead-out at 25,000.
  std::vector<uint8_t> toc = {0x00, 0x1A, 1, 2, 0, 0x14, 1, 0, 0, 0, 0, 0, 0, 0x14, 2, 0, 0, 0, 0x2D, 0xB6,
                              0, 0x14, 0xAA, 0, 0, 0, 0x61, 0xA8};
  uint32_t start = 1;
  EXPECT_TRUE(TocTrackStart(toc.data(), static_cast<uint32_t>(toc.size()), 1, start));
  EXPECT_EQ(start, 0u);
  EXPECT_TRUE(TocTrackStart(toc.data(), static_cast<uint32_t>(toc.size()), 2, start));
  EXPECT_EQ(start, 11702u);
  EXPECT_TRUE(TocTrackStart(toc.data(), static_cast<uint32_t>(toc.size()), kLeadOutTrack, start));
  EXPECT_EQ(start, 25000u);
  EXPECT_FALSE(TocTrackStart(toc.data(), static_cast<uint32_t>(toc.size()), 3, start));
  EXPECT_FALSE(TocTrackStart(toc.data(), 12, 2, start)) << "an entry beyond the bytes received";
  toc[1] = 0x0A;
  EXPECT_FALSE(TocTrackStart(toc.data(), static_cast<uint32_t>(toc.size()), 2, start))
      << "an entry beyond the answer's own length";
  EXPECT_FALSE(TocTrackStart(toc.data(), 3, 1, start));
}

TEST(TocRecords, TheTrackOfASessionBeforeTheLast) {
  TSessionInfo threeOfOneTrack;
  threeOfOneTrack.LastSession = 3;
  threeOfOneTrack.FirstTrackOfLast = 3;
  TSessionInfo trackUntold = threeOfOneTrack;
  trackUntold.FirstTrackOfLast = 0;
  TSessionInfo twoTracksFirst = threeOfOneTrack;
  twoTracksFirst.FirstTrackOfLast = 4;  // one session holds two tracks: which one?
  struct TRow {
    const TSessionInfo* Info;
    int Session;
    bool Known;
    uint8_t Track;
  };
  const TRow rows[] = {
      {&threeOfOneTrack, 1, true, 1}, {&threeOfOneTrack, 2, true, 2}, {&threeOfOneTrack, 3, false, 0},
      {&threeOfOneTrack, 0, false, 0}, {&threeOfOneTrack, 4, false, 0}, {&trackUntold, 1, true, 1},
      {&trackUntold, 2, false, 0},     {&twoTracksFirst, 1, true, 1},   {&twoTracksFirst, 2, false, 0},
  };
  for (const TRow& row : rows) {
    uint8_t track = 0;
    EXPECT_EQ(TrackOfEarlierSession(*row.Info, 1, row.Session, track), row.Known)
        << "session " << row.Session << ", last from track " << int(row.Info->FirstTrackOfLast);
    if (row.Known) {
      EXPECT_EQ(track, row.Track);
    }
  }
}

// A drive that only reads, as each of QEMU's models answers: scsi-cd takes
// the READ TOC format from byte 2; ide-cd from byte 9 alone, and it refuses
// the capabilities page's default values and answers REQUEST SENSE with
// stale sense.
class ReadOnlyDrive : public ::testing::TestWithParam<bool> {
 protected:
  ReadOnlyDrive() {
    Drive.IgnoresTocFormat = Drive.RefusesDefaultPage = Drive.StaleSense = Drive.UntoldTrack = Ide();
    Fake.Respond = [this](SRB_ExecSCSICmd& srb) { Drive.Answer(srb); };
  }
  bool Ide() const { return GetParam(); }
  void Select() {
    ASSERT_TRUE(Rec.SelectDevice("0:0:0"));
    Fake.Sent.clear();
  }
  // The READ TOC commands sent: format in byte 2, track, byte 9.
  std::vector<std::vector<uint8_t>> TocCommands() const {
    std::vector<std::vector<uint8_t>> out;
    for (const auto& c : Fake.WithOpcode(0x43)) out.push_back({c.Cdb[2], c.Cdb[6], c.Cdb[9]});
    return out;
  }

  TReadOnlyDrive Drive;
  TFakeDrive Fake;
  TQzRecorder Rec;
};

TEST_P(ReadOnlyDrive, TheSessionComesFromTheTableOfContents) {
  Select();
  TDiscSessions sessions(Rec);
  TSessionExtent extent;
  ASSERT_TRUE(sessions.Extent(1, extent));
  EXPECT_EQ(extent.Start, 0u);
  EXPECT_TRUE(extent.SizeKnown);
  EXPECT_EQ(extent.Size, 302u) << "up to the lead-out";
  uint32_t end = 0;
  EXPECT_FALSE(sessions.RecordedEnd(1, end)) << "no track information: the end is unknown, not guessed";
  EXPECT_FALSE(sessions.Extent(2, extent));
  EXPECT_EQ(sessions.TocSessionCount(), 1);
  EXPECT_EQ(Rec.SessionCount(), 1);
  bool oldForm = false;
  for (const auto& cdb : TocCommands()) oldForm = oldForm || (cdb[0] == 0 && cdb[2] == 0x40);
  EXPECT_EQ(oldForm, Ide()) << "the format in byte 9 only after an answer that was not format 1";
}

TEST_P(ReadOnlyDrive, SessionsOfAMultisessionDisc) {
  Drive.TrackStarts = {0, 11702, 20000};
  Drive.LeadOut = 25000;
  Select();
  TDiscSessions sessions(Rec);
  std::vector<int> found;
  std::vector<TSessionExtent> extents;
  for (int session = 1; session <= 4; ++session) {
    TSessionExtent extent;
    if (!sessions.Extent(session, extent)) continue;
    found.push_back(session);
    extents.push_back(extent);
  }
  // The first session starts with the first track and the session
  // information tells the last; the others are known only when the drive
  // names the last session's first track (one track per session then).
  ASSERT_EQ(found, Ide() ? std::vector<int>({1, 3}) : std::vector<int>({1, 2, 3}));
  EXPECT_EQ(extents.front().Start, 0u);
  EXPECT_FALSE(extents.front().SizeKnown) << "the lead-out and lead-in between sessions are not in the table";
  EXPECT_EQ(extents.back().Start, 20000u);
  EXPECT_EQ(extents.back().Size, 5000u);
  EXPECT_TRUE(extents.back().SizeKnown);
  if (Ide()) return;
  EXPECT_EQ(extents[1].Start, 11702u);
  EXPECT_FALSE(extents[1].SizeKnown);
}

TEST_P(ReadOnlyDrive, ADiscHoldsWhatItHolds) {
  const uint8_t kept = TSCSIDevice::CurrentMediumCode();
  for (const uint16_t profile : {uint16_t{0x0008}, uint16_t{0x0010}}) {
    Drive.Profile = profile;
    Select();
    const uint8_t code = Rec.MediumType();
    EXPECT_EQ(code, profile == 0x0008 ? mtCDROM : mtDVDROM);
    TSCSIDevice::SetCurrentMediumCode(code);
    EXPECT_EQ(Rec.CapacitySectors(), 302u) << "profile " << profile;
    EXPECT_EQ(Rec.UsedSectors(), 302u);
    EXPECT_EQ(Rec.FreeSectors(), 0u);
    TDiscInfoRecord info;
    ASSERT_TRUE(Rec.DiscInfo(info));
    EXPECT_EQ(info.Used, 302u);
    EXPECT_EQ(info.Capacity, 302u);
    EXPECT_EQ(info.LastSession, 1);
  }
  TSCSIDevice::SetCurrentMediumCode(kept);
}

TEST_P(ReadOnlyDrive, TheCapabilitiesPageShowsTheReads) {
  Select();
  Rec.RefreshCapabilities();
  EXPECT_EQ(Rec.Capabilities(), capReadCDR | capReadCDRW | capReadDVDROM | capReadDVDR | capReadDVDRW | capReadDVDRAM);
  EXPECT_EQ(Rec.DeviceMaxReadSpeed(), 704);
}

// Without a disc: the drive's own answer to TEST UNIT READY ends every wait,
// whatever REQUEST SENSE would say afterwards.
TEST_P(ReadOnlyDrive, AnEmptyDriveIsNoDiscAtOnce) {
  Drive.Empty = true;
  Select();
  EXPECT_FALSE(Rec.UnitReady());
  EXPECT_TRUE(Rec.NoMedium());
  Fake.Sent.clear();
  EXPECT_FALSE(Rec.WaitReady(3000, 1000));
  EXPECT_TRUE(Fake.Sent.empty()) << "the answer at hand says no disc: nothing to wait for";
  EXPECT_EQ(Rec.LastError(), "NOT READY (MEDIUM NOT PRESENT)");

  EXPECT_TRUE(Rec.Inquiry());
  EXPECT_FALSE(Rec.NoMedium());
  EXPECT_FALSE(Rec.WaitReady(2000, 1));
  EXPECT_TRUE(Rec.NoMedium());
  EXPECT_EQ(Rec.LastError(), "NOT READY (MEDIUM NOT PRESENT)");
  EXPECT_TRUE(Fake.WithOpcode(0x03).empty()) << "REQUEST SENSE is no witness";
  EXPECT_LE(Fake.WithOpcode(0x00).size(), 1u);

  Fake.Sent.clear();
  TDiscInfoRecord info;
  EXPECT_FALSE(Rec.DiscInfo(info));
  EXPECT_EQ(info.Ready, 0);
  EXPECT_TRUE(Fake.WithOpcode(0x03).empty());
  EXPECT_EQ(Rec.SessionCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(QemuModels, ReadOnlyDrive, ::testing::Values(false, true),
                         [](const auto& info) { return std::string(info.param ? "IdeCd" : "ScsiCd"); });

// A recorder tells where sessions lie by track information, and is not asked
// for its table of contents.
TEST(RecorderSessions, TrackInformationComesFirst) {
  TFakeDrive fake;
  fake.Respond = [](SRB_ExecSCSICmd& srb) {
    if (srb.CDBByte[0] == 0x12) return TFakeDrive::Good(srb, test::InquiryAnswer("ACME", "WRITER", "1.0"));
    if (srb.CDBByte[0] != 0x52) return TFakeDrive::Good(srb);
    if (srb.CDBByte[5] != 1) return TFakeDrive::CheckCondition(srb, 5, 0x24, 0);
    std::vector<uint8_t> track(40, 0);
    PutBe32(&track[8], 0);
    PutBe32(&track[24], 11702);  // start 0, 11,702 sectors, closed
    TFakeDrive::Good(srb, track);
  };
  TQzRecorder rec;
  ASSERT_TRUE(rec.SelectDevice("0:0:0"));
  fake.Sent.clear();
  TDiscSessions sessions(rec);
  TSessionExtent extent;
  ASSERT_TRUE(sessions.Extent(1, extent));
  EXPECT_EQ(extent.Size, 11702u);
  uint32_t end = 0;
  ASSERT_TRUE(sessions.RecordedEnd(1, end));
  EXPECT_EQ(end, 11702u);
  EXPECT_TRUE(fake.WithOpcode(0x43).empty());
  EXPECT_FALSE(sessions.Extent(2, extent)) << "a track the recorder does not have";
}

}  // namespace
}  // namespace fornax
