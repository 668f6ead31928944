// Session at once on CD: SEND CUE SHEET, one run of WRITEs
// from the pre-gap at LBA -150, the session closed by the drive with the
// last block, tracks exactly as announced.

#include <algorithm>

#include "drive_fixture.h"
#include "simdrive/simdrive.h"

namespace fornax::sim::test {
namespace {

using Bytes = std::vector<uint8_t>;

// The 8-byte cue entry of a time point at an LBA.
Bytes Entry(uint8_t control_adr, uint8_t track, uint8_t index, uint8_t form, int32_t lba) {
  const int32_t frames = lba + 150;
  return {control_adr, track, index, form, 0, static_cast<uint8_t>(frames / 4500),
          static_cast<uint8_t>((frames / 75) % 60), static_cast<uint8_t>(frames % 75)};
}

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

// A one-track data session from `start` (pre-gap 150 blocks before it).
Bytes DataCue(uint8_t track, int32_t start, int32_t blocks) {
  return Join({{0x41, 0x00, 0x00, 0x14, 0, 0, 0, 0}, Entry(0x41, track, 0, 0x10, start - 150),
               Entry(0x41, track, 1, 0x10, start), Entry(0x41, 0xAA, 1, 0x14, start + blocks)});
}

std::vector<uint8_t> CueCdb(size_t size) {
  return {0x5D, 0, 0, 0, 0, 0, 0, static_cast<uint8_t>(size >> 8), static_cast<uint8_t>(size), 0};
}

class SessionAtOnce : public DriveTest {
 protected:
  Outcome SendCue(const Bytes& sheet) { return SendOut(CueCdb(sheet.size()), sheet); }
  // Writes [from, to) in runs of 32, the blocks below 0 as zeros.
  void WriteRun(int32_t from, int32_t to, uint8_t fill = 0x3C) {
    for (int32_t at = from; at < to;) {
      // A run never crosses LBA 0: the pre-gap's blocks are zeros, the track's name themselves.
      const auto n = static_cast<uint16_t>(std::min({32, to - at, at < 0 ? -at : 32}));
      const auto lba = static_cast<uint32_t>(at);
      const Outcome w = at < 0 ? SendOut(cdb::Write10(lba, n), Bytes(size_t{n} * 2048, 0)) : Write(lba, n, fill);
      ASSERT_GOOD(w) << "at " << at;
      at += n;
    }
  }
};

TEST_F(SessionAtOnce, OneTrackFromThePreGapClosesItselfWithTheLastBlock) {
  Insert("cd-r");
  ASSERT_GOOD(SetWriteParameters(0x42, 0xC0, 0x08, 0x00));  // SAO, next session allowed
  const Bytes cue = DataCue(1, 0, 400);
  EXPECT_EQ(Bytes(cue.end() - 8, cue.end()), (Bytes{0x41, 0xAA, 0x01, 0x14, 0x00, 0x00, 0x07, 0x19}));
  ASSERT_GOOD(SendCue(cue));
  EXPECT_SENSE(Write(0, 32), 5, 0x21, 0x02) << "the run starts at the pre-gap";
  WriteRun(-150, 399);
  EXPECT_SENSE(Write(400, 1), 5, 0x21, 0x02) << "strictly in sequence";
  EXPECT_EQ(DiscInfo().data[2] & 0x03, 0) << "nothing fixed before the last block";
  WriteRun(399, 400);
  const Outcome rdi = DiscInfo();
  EXPECT_EQ(rdi.data[2] & 0x0F, 0x01) << "appendable, page 05 multi-session 11b";
  EXPECT_EQ(rdi.data[4], 2);
  EXPECT_GOOD(Send(cdb::SyncCache(false)));
  const Outcome toc = Send(cdb::ReadToc(0, false), 255);
  EXPECT_EQ(Bytes(toc.data.begin(), toc.data.begin() + 20),
            (Bytes{0x00, 0x12, 0x01, 0x01, 0, 0x14, 0x01, 0, 0, 0, 0, 0, 0, 0x14, 0xAA, 0, 0, 0, 0x01, 0x90}))
      << "lead-out at 400: no run-out blocks";
  EXPECT_EQ(ReadTrack(1).Be32(24), 400u) << "the track exactly as announced";
  EXPECT_EQ(NextWritable(2), 400u + 11400);
  EXPECT_EQ(Send(cdb::ReadCapacity(), 8).Be32(0), 399u);
  EXPECT_EQ(Send(cdb::Read10(0, 400), 400 * 2048).data, Pattern(0, 400, 0x3C));
  const Outcome full = Send(cdb::ReadToc(2, false), 255);
  EXPECT_EQ(full.data[4 + 11 * 4 + 3], 0xB0) << "full TOC: B0 after A0, A1, A2, track 1";
}

TEST_F(SessionAtOnce, TwoTracksWithAPreGapAndAFinalSession) {
  Insert("cd-rw");
  ASSERT_GOOD(SetWriteParameters(0x42, 0x00, 0x08, 0x00));  // no next session
  const Bytes cue = Join({{0x41, 0x00, 0x00, 0x14, 0, 0, 0, 0}, Entry(0x41, 1, 0, 0x10, -150),
                          Entry(0x61, 1, 1, 0x10, 0), Entry(0x41, 2, 0, 0x10, 400), Entry(0x41, 2, 1, 0x10, 550),
                          Entry(0x41, 2, 2, 0x10, 700), Entry(0x41, 0xAA, 1, 0x14, 1000)});
  ASSERT_GOOD(SendCue(cue));
  WriteRun(-150, 1000);
  const Outcome toc = Send(cdb::ReadToc(0, false), 255);
  ASSERT_GOOD(toc);
  EXPECT_EQ(toc.data[3], 2);
  EXPECT_EQ(toc.data[5], 0x16) << "CTL from the cue: data, copy permitted";
  EXPECT_EQ(toc.Be32(16), 550u) << "track 2 at its INDEX 1";
  EXPECT_EQ(toc.Be32(24), 1000u);
  EXPECT_EQ(ReadTrack(1).Be32(24), 400u) << "track 1 up to track 2's pre-gap";
  EXPECT_EQ(ReadTrack(2).Be32(24), 450u);
  EXPECT_EQ(DiscInfo().data[2] & 0x03, 0x02) << "complete";
}

TEST_F(SessionAtOnce, FewerBlocksThenSyncFixesNothing) {
  Insert("cd-r");
  ASSERT_GOOD(SetWriteParameters(0x42, 0xC0, 0x08, 0x00));
  ASSERT_GOOD(SendCue(DataCue(1, 0, 400)));
  WriteRun(-150, 200);
  EXPECT_SENSE(Send(cdb::SyncCache(false)), 5, 0x2C, 0x00);
  EXPECT_SENSE(Send(cdb::Close(false, 2, 0)), 5, 0x2C, 0x00);
  EXPECT_EQ(DiscInfo().data[2] & 0x0F, 0x00) << "still blank";
  EXPECT_SENSE(Send(cdb::ReadToc(0, false), 255), 5, 0x24, 0x00);
}

TEST_F(SessionAtOnce, CueSheetChecks) {
  Insert("cd-r");
  const Bytes good = DataCue(1, 0, 400);
  EXPECT_SENSE(SendCue(good), 5, 0x2C, 0x00) << "page 05 is still track at once";
  ASSERT_GOOD(SetWriteParameters(0x42, 0xC0, 0x08, 0x00));
  EXPECT_SENSE(SendOut(CueCdb(30), good), 5, 0x26, 0x00) << "not a multiple of 8";
  EXPECT_SENSE(SendCue(DataCue(1, 0, 299)), 5, 0x26, 0x00) << "a track under 300 blocks";
  EXPECT_SENSE(SendCue(DataCue(2, 0, 400)), 5, 0x26, 0x00) << "the first track of a blank disc is 1";
  EXPECT_SENSE(SendCue(DataCue(1, 150, 400)), 5, 0x26, 0x00) << "track 1 at the session's start";
  EXPECT_SENSE(SendCue(DataCue(1, 0, 400000)), 5, 0x26, 0x00) << "longer than the disc";
  Bytes audio = good;
  audio[8 + 3] = audio[16 + 3] = 0x00;  // CD-DA blocks
  EXPECT_SENSE(SendCue(audio), 5, 0x26, 0x00);
  Bytes no_index1 = Join({{0x41, 0x00, 0x00, 0x14, 0, 0, 0, 0}, Entry(0x41, 1, 0, 0x10, -150),
                          Entry(0x41, 0xAA, 1, 0x14, 400)});
  EXPECT_SENSE(SendCue(no_index1), 5, 0x26, 0x00);
  Bytes backwards = good;
  backwards[8 + 6] = 0x03;  // INDEX 0 at 00:03:00, after INDEX 1 at 00:02:00
  EXPECT_SENSE(SendCue(backwards), 5, 0x26, 0x00) << "times must not decrease";
  Insert("dvd-r");
  ASSERT_GOOD(SetWriteParameters(0x42, 0xC0, 0x08, 0x00));
  EXPECT_SENSE(SendCue(good), 5, 0x2C, 0x00) << "cue sheets are for CD";
}

TEST_F(SessionAtOnce, OnlyOnABlankDiscUnlessAllowed) {
  Insert("cd-r");
  ASSERT_GOOD(SetWriteParameters(0x41, 0xC4, 0x08, 0x00));
  ASSERT_GOOD(Write(0, 300));
  ASSERT_GOOD(Send(cdb::SyncCache(false)));
  ASSERT_GOOD(Send(cdb::Close(false, 2, 0)));
  const uint32_t start = NextWritable(2);
  EXPECT_EQ(start, 302u + 11400);
  ASSERT_GOOD(SetWriteParameters(0x42, 0xC0, 0x08, 0x00));
  const Bytes cue = DataCue(2, static_cast<int32_t>(start), 500);
  EXPECT_SENSE(SendCue(cue), 5, 0x2C, 0x00);
  ASSERT_EQ(fornax_sim_allow_sao_on_appendable(1), 0);
  ASSERT_GOOD(SendCue(cue));
  WriteRun(static_cast<int32_t>(start) - 150, static_cast<int32_t>(start) + 500, 0x77);
  const Outcome info = Send(cdb::ReadToc(1, false), 12);
  EXPECT_EQ(info.data[3], 2);
  EXPECT_EQ(info.Be32(8), start);
  EXPECT_EQ(Send(cdb::Read10(start, 500), 500 * 2048).data, Pattern(start, 500, 0x77));
}

}  // namespace
}  // namespace fornax::sim::test
