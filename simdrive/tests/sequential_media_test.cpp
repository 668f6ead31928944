// Write-once and sequential media: where writes go, how tracks and sessions
// close, and the gaps between sessions on each medium.

#include "drive_fixture.h"
#include "simdrive/simdrive.h"

namespace fornax::sim::test {
namespace {

class SequentialMedia : public DriveTest {
 protected:
  // Writes `blocks` at the NWA in chunks of 32 and returns where it began.
  uint32_t WriteTrack(uint32_t track, uint32_t blocks) {
    const uint32_t start = NextWritable(track);
    for (uint32_t done = 0; done < blocks;) {
      const auto n = static_cast<uint16_t>(std::min<uint32_t>(32, blocks - done));
      const Outcome w = Write(start + done, n);
      EXPECT_GOOD(w) << "at " << start + done;
      if (!w.Ok()) break;
      done += n;
    }
    return start;
  }
  void CdTaoMultisession() { ASSERT_GOOD(SetWriteParameters(0x41, 0xC4, 0x08, 0x00)); }
};

TEST_F(SequentialMedia, CdSessionsFollowTheWorkedExample) {
  Insert("cd-r");
  CdTaoMultisession();
  EXPECT_EQ(WriteTrack(1, 15000), 0u);
  EXPECT_GOOD(Send(cdb::SyncCache(false)));  // ends the TAO track: two run-out blocks
  EXPECT_GOOD(Send(cdb::Close(false, 2, 0)));
  const Outcome toc = Send(cdb::ReadToc(0, false), 255);
  ASSERT_GOOD(toc);
  EXPECT_EQ(toc.Be32(16), 15002u) << "lead-out of session 1";
  EXPECT_EQ(toc.data[5], 0x14) << "data track, uninterrupted";
  EXPECT_EQ(NextWritable(2), 26402u);
  const Outcome rdi = DiscInfo();
  EXPECT_EQ(rdi.data[2] & 0x0F, 0x01) << "appendable, last session empty";
  EXPECT_EQ(rdi.data[4], 2);
  EXPECT_EQ(rdi.Be32(16), 0x00043402u) << "next lead-in at 15002 + 6750 = 04:52:02 (00 M S F)";
  EXPECT_EQ(Send(cdb::ReadCapacity(), 8).Be32(0), 15001u);
  EXPECT_EQ(Send(cdb::TrackInformation(15001, 0), 40).data[2], 1) << "by LBA";
  EXPECT_EQ(Send(cdb::TrackInformation(2, 2), 40).Be32(8), 26402u) << "by session";
  EXPECT_SENSE(Send(cdb::TrackInformation(20000, 0), 40), 5, 0x24, 0x00) << "an LBA between sessions";

  EXPECT_EQ(WriteTrack(2, 5000), 26402u);
  EXPECT_GOOD(Send(cdb::SyncCache(false)));
  EXPECT_GOOD(Send(cdb::Close(false, 2, 0)));
  EXPECT_EQ(NextWritable(3), 38304u);
  const Outcome info = Send(cdb::ReadToc(1, false), 12);
  EXPECT_EQ(info.data[3], 2) << "last complete session";
  EXPECT_EQ(info.data[6], 2) << "its first track";
  EXPECT_EQ(info.Be32(8), 26402u);
}

TEST_F(SequentialMedia, CdShortTrackIsPaddedAndItsFreeSpaceEndsAtTheAtipLeadOut) {
  Insert("cd-rw");
  const Outcome blank = ReadTrack(1);
  EXPECT_EQ(blank.Be32(16), 359849u) << "free blocks of the blank invisible track";
  EXPECT_EQ(blank.data[6] & 0x40, 0x40) << "blank";
  WriteTrack(1, 10);
  EXPECT_GOOD(Send(cdb::Close(false, 1, 1)));
  EXPECT_EQ(ReadTrack(1).Be32(24), 302u) << "four seconds plus run-out";
  EXPECT_EQ(NextWritable(2), 452u) << "pre-gap of the next track";
  EXPECT_EQ(ReadTrack(0xFF).data[2], 2) << "FFh names the invisible track";
  EXPECT_EQ(ReadTrack(0).Be32(8), static_cast<uint32_t>(-11634)) << "track 0 is the lead-in";
}

TEST_F(SequentialMedia, CdSessionCloseWithoutMultisessionCompletesTheDisc) {
  Insert("cd-r");
  ASSERT_GOOD(SetWriteParameters(0x41, 0x04, 0x08, 0x00));
  WriteTrack(1, 300);
  EXPECT_GOOD(Send(cdb::SyncCache(false)));
  EXPECT_GOOD(Send(cdb::Close(false, 2, 0)));
  const Outcome rdi = DiscInfo();
  EXPECT_EQ(rdi.data[2] & 0x0F, 0x0E) << "complete disc, complete session";
  EXPECT_EQ(rdi.Be32(16), 0xFFFFFFFFu);
  EXPECT_SENSE(Write(302, 32), 5, 0x30, 0x05);
  EXPECT_SENSE(ReadTrack(0xFF), 5, 0x24, 0x00) << "no invisible track on a complete disc";
  EXPECT_SENSE(Send(cdb::ReserveTrack(100)), 5, 0x30, 0x05);
}

TEST_F(SequentialMedia, WritesOnlyAtTheNextWritableAddressAndWithinTheDisc) {
  Insert("dvd+r");
  EXPECT_SENSE(Write(16, 16), 5, 0x21, 0x02);
  EXPECT_GOOD(Write(0, 32));
  EXPECT_SENSE(Write(0, 32), 5, 0x21, 0x02) << "no overwriting on write-once media";
  EXPECT_SENSE(Write(64, 32), 5, 0x21, 0x02) << "no skipping ahead";
  EXPECT_GOOD(Write(32, 32));
  EXPECT_EQ(ReadTrack(1).Be32(12), 64u);
  const Outcome read = Send(cdb::Read10(60, 8), 8 * 2048);
  EXPECT_SENSE(read, 5, 0x21, 0x00);
  EXPECT_EQ(read.sense[0], 0xF0) << "VALID with the first unreadable block";
  EXPECT_EQ((read.sense[3] << 24) | (read.sense[4] << 16) | (read.sense[5] << 8) | read.sense[6], 64);
}

TEST_F(SequentialMedia, WritePastTheEndOfTheDiscIsOutOfRange) {
  Insert("dvd+r");
  EXPECT_GOOD(Send(cdb::ReserveTrack(2295104 - 64)));
  EXPECT_EQ(NextWritable(2), 2295040u);
  EXPECT_SENSE(Send(cdb::ReserveTrack(128)), 5, 0x24, 0x00) << "no room for the reservation";
  EXPECT_GOOD(Write(2295040, 32));
  const Outcome past = Write(2295072, 64);
  EXPECT_SENSE(past, 5, 0x21, 0x00);
  EXPECT_EQ((past.sense[3] << 24) | (past.sense[4] << 16) | (past.sense[5] << 8) | past.sense[6], 2295104);
}

TEST_F(SequentialMedia, DvdPlusRSessionsLeaveTwoThousandBlocksBetween) {
  Insert("dvd+r");
  WriteTrack(1, 1000);
  EXPECT_SENSE(Send(cdb::Close(false, 2, 255)), 5, 0x72, 0x03) << "its fragment is still open";
  EXPECT_GOOD(Send(cdb::Close(false, 1, 1)));
  EXPECT_EQ(ReadTrack(1).Be32(24), 1008u) << "closed fragments end on an ECC block";
  EXPECT_GOOD(Send(cdb::Close(false, 2, 255)));
  EXPECT_EQ(NextWritable(2), 1008u + 2048);
  EXPECT_EQ(ReadTrack(2).Be32(16), 2295104u - 3056) << "free blocks of the new fragment";
  EXPECT_EQ(DiscInfo().data[2] & 0x03, 1) << "a closed DVD+R session leaves the disc appendable";
  EXPECT_EQ(Send(cdb::ReadCapacity(), 8).Be32(0), 1007u);
  const Outcome toc = Send(cdb::ReadToc(0, false), 255);
  EXPECT_EQ(toc.data[5], 0x14);
  EXPECT_EQ(toc.Be32(16), 1008u) << "lead-out after the one closed session";
}

TEST_F(SequentialMedia, DvdPlusRFinalizesWithEitherCloseFunction) {
  for (uint8_t function : {5, 6}) {
    Insert("dvd+r");
    WriteTrack(1, 64);
    EXPECT_GOOD(Send(cdb::Close(false, 1, 1)));
    EXPECT_GOOD(Send(cdb::Close(false, function, 0)));
    EXPECT_EQ(DiscInfo().data[2] & 0x03, 2) << "function " << int{function};
    EXPECT_SENSE(Write(64, 32), 5, 0x30, 0x05);
  }
}

TEST_F(SequentialMedia, DvdPlusRDlSessionCloseOrFinalize) {
  Insert("dvd+r-dl");
  EXPECT_EQ(ReadTrack(1).Be32(16), 4173824u);
  WriteTrack(1, 64);
  EXPECT_GOOD(Send(cdb::Close(false, 1, 1)));
  EXPECT_GOOD(Send(cdb::Close(false, 2, 0)));
  EXPECT_EQ(NextWritable(2), 64u + 2048);
  WriteTrack(2, 64);
  EXPECT_GOOD(Send(cdb::Close(false, 1, 2)));
  EXPECT_GOOD(Send(cdb::Close(false, 6, 0)));
  EXPECT_EQ(DiscInfo().data[2] & 0x0F, 0x0E);
  EXPECT_EQ(DiscInfo().data[4], 2);
}

TEST_F(SequentialMedia, DvdMinusRBorderWithReservedTrack) {
  Insert("dvd-r");
  EXPECT_EQ(ReadTrack(1).Be32(16), 2298496u) << "a blank DVD-R is one RZone";
  ASSERT_GOOD(SetWriteParameters(0x60, 0xE5, 0x08, 0x10, 16));
  EXPECT_GOOD(Send(cdb::ReserveTrack(12270)));
  const Outcome reserved = ReadTrack(1);
  EXPECT_EQ(reserved.data[6] & 0xE0, 0xE0) << "RT, blank, packet";
  EXPECT_EQ(reserved.Be32(24), 12272u) << "reservations end on an ECC block";
  EXPECT_EQ(NextWritable(2), 12288u) << "the next RZone starts 16 blocks later";
}

TEST_F(SequentialMedia, DvdMinusRTheEngineSequenceClosesTheBorder) {
  Insert("dvd-r");
  ASSERT_GOOD(SetWriteParameters(0x60, 0xE5, 0x08, 0x10, 16));
  EXPECT_GOOD(Send(cdb::ReserveTrack(320)));
  WriteTrack(1, 320);
  EXPECT_GOOD(Send(cdb::SyncCache(true)));
  EXPECT_GOOD(Send(cdb::Close(true, 1, 1)));
  EXPECT_GOOD(Send(cdb::Close(true, 1, 2))) << "the blank invisible RZone: nothing to do";
  EXPECT_GOOD(Send(cdb::Close(true, 2, 3)));
  EXPECT_EQ(NextWritable(2), 320u + 28688);
  EXPECT_EQ(ReadTrack(2).Be32(16), 2297888u - (320 + 28688)) << "a bordered DVD-R ends at 2,297,888";
  EXPECT_EQ(DiscInfo().data[4], 2);
}

TEST_F(SequentialMedia, DvdMinusRBorderRefusalsAndConfigurableGap) {
  ASSERT_EQ(fornax_sim_set_border_gap(1024), 0);
  Insert("dvd-rw-seq");
  EXPECT_GOOD(Send(cdb::ReserveTrack(64)));
  WriteTrack(1, 32);
  EXPECT_SENSE(Send(cdb::Close(false, 2, 0)), 5, 0x72, 0x04) << "reserved track not full";
  EXPECT_GOOD(Send(cdb::Close(false, 1, 1)));
  WriteTrack(2, 32);
  EXPECT_SENSE(Send(cdb::ReserveTrack(64)), 5, 0x2C, 0x00) << "the invisible RZone holds data";
  EXPECT_SENSE(Send(cdb::Close(false, 2, 0)), 5, 0x72, 0x03);
  EXPECT_GOOD(Send(cdb::Close(false, 1, 2)));
  EXPECT_EQ(ReadTrack(2).Be32(8), 80u) << "16 link blocks after the padded reservation";
  ASSERT_GOOD(SetWriteParameters(0x60, 0xE5, 0x08, 0x10, 16));
  EXPECT_GOOD(Send(cdb::Close(false, 2, 0)));
  EXPECT_EQ(NextWritable(3), 112u + 1024);
}

TEST_F(SequentialMedia, BorderCloseWithoutMultisessionCompletesADvdMinusR) {
  Insert("dvd-r");
  ASSERT_GOOD(SetWriteParameters(0x20, 0x05, 0x08, 0x10, 16));
  WriteTrack(1, 32);
  EXPECT_GOOD(Send(cdb::Close(false, 1, 1)));
  EXPECT_GOOD(Send(cdb::Close(false, 2, 0)));
  EXPECT_EQ(DiscInfo().data[2] & 0x03, 2);
}

TEST_F(SequentialMedia, EmptySessionCloseDoesNothing) {
  Insert("cd-r");
  EXPECT_GOOD(Send(cdb::Close(false, 2, 0)));
  EXPECT_EQ(DiscInfo().data[2] & 0x0F, 0x00) << "still blank";
  EXPECT_SENSE(Send(cdb::ReadToc(0, false), 255), 5, 0x24, 0x00) << "no complete session yet";
}

TEST_F(SequentialMedia, TestWriteRecordsNothing) {
  Insert("cd-r");
  ASSERT_GOOD(SetWriteParameters(0x51, 0x04, 0x08, 0x00));  // test write, TAO
  EXPECT_GOOD(Write(0, 27));
  EXPECT_GOOD(Write(27, 27)) << "the simulated write goes on where it was";
  EXPECT_SENSE(Write(100, 27), 5, 0x21, 0x02);
  EXPECT_GOOD(Send(cdb::SyncCache(false)));
  EXPECT_GOOD(Send(cdb::Close(false, 2, 0)));
  EXPECT_EQ(DiscInfo().data[2] & 0x0F, 0x00) << "the disc stays blank";
  EXPECT_EQ(NextWritable(1), 0u);
}

TEST_F(SequentialMedia, CdRefusesSessionAtOnceWithoutCueSheet) {
  Insert("cd-r");
  ASSERT_GOOD(SetWriteParameters(0x42, 0x04, 0x08, 0x00));
  EXPECT_SENSE(Write(0, 27), 5, 0x2C, 0x00);
}

}  // namespace
}  // namespace fornax::sim::test
