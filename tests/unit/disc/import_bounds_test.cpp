// An import takes only entries whose sectors the disc has recorded and the
// new session will not take: the reader against a source that tells its
// recorded area, and the area as a drive's tracks tell it.

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <vector>

#include "crafted_disc.h"
#include "engine/disc/drive_session_source.h"
#include "engine/disc/session_import.h"
#include "support/pipeline_fixture.h"
#include "support/recorder_fixture.h"

namespace fornax {
namespace {

using test::TCraftedDisc;

constexpr uint64_t kGiB = uint64_t{1} << 30;
constexpr uint32_t kLongestExtent = 0xFFFFF800;  // whole sectors below 4 GiB

// Sectors in memory whose medium tells a recorded area of its own.
class TAreaSource : public TMemorySource {
 public:
  TAreaSource(std::vector<uint8_t> bytes, uint32_t sessionStart, TRecordedArea area)
      : TMemorySource(std::move(bytes), {sessionStart}), Area(std::move(area)) {}
  TRecordedArea RecordedArea() override { return Area; }
  TRecordedArea Area;
};

// A session from sector 100 whose root directory lies at 120.
TCraftedDisc SessionAt100(uint32_t sectors) {
  TCraftedDisc disc(sectors);
  disc.Descriptor(116, 1, 120);
  disc.Descriptor(117, 255);
  disc.Dots(120, 120);
  return disc;
}

// A file's records: one per extent of at most kLongestExtent bytes, each
// extent following the one before.
void FileRecords(TCraftedDisc& disc, uint32_t sector, const std::string& identifier, uint32_t extent,
                 uint64_t size) {
  while (size > 0xFFFFFFFFu) {
    disc.Record(sector, identifier, extent, kLongestExtent, 0x80);
    extent += kLongestExtent / 2048;
    size -= kLongestExtent;
  }
  disc.Record(sector, identifier, extent, static_cast<uint32_t>(size), 0);
}

class ImportBounds : public test::RecorderTest {
 protected:
  bool Import(TSessionSource& source) {
    return ImportSession(source, Rec.Compilation(), 255, nullptr,
                         [this](const std::string& m, uint8_t t) { Lines.push_back({m, t}); });
  }
  // The log line that names `name`, or "".
  std::string Told(const std::string& name) const {
    for (const auto& line : Lines)
      if (line.Text.find("\"" + name + "\"") != std::string::npos) return line.Text;
    return "";
  }
  // path -> first sector of every imported file, "path/" for folders.
  std::map<std::string, int64_t> Tree() const {
    std::map<std::string, int64_t> out;
    Walk(Rec.RootDirectory(), "", out);
    return out;
  }
  static void Walk(const TDEntry* dir, const std::string& prefix, std::map<std::string, int64_t>& out) {
    for (const TFEntry* e = dir->FirstEntry; e; e = e->Next) {
      if (!e->IsDirectory()) {
        out[prefix + e->LongName] = e->ISOLocation;
        continue;
      }
      out[prefix + e->LongName + "/"] = 0;
      Walk(e->Directory, prefix + e->LongName + "/", out);
    }
  }
};

constexpr const char* kOutside = "LIES BEYOND THE END OF THE DISC OR BETWEEN ITS SESSIONS, NOT IMPORTED";
constexpr const char* kInNewSession = "REACHES PAST SECTOR 480, WHERE THE NEW SESSION IS WRITTEN, NOT IMPORTED";

// Two tracks, sectors 100-199 and 300-479; the new session starts at 480.
TEST_F(ImportBounds, EveryExtentLiesWhollyOnTheRecordedTracksAndBeforeTheNewSession) {
  struct TRow {
    const char* Name;
    uint32_t Extent;
    uint64_t Size;
    const char* Told;  // nullptr: imported
  };
  const TRow rows[] = {
      {"BEFORE.BIN", 50, 2048, kOutside},
      {"INSIDE.BIN", 150, 4096, nullptr},
      {"EDGE.BIN", 198, 4096, nullptr},  // the first track's last two sectors
      {"STRADDLE.BIN", 199, 4096, kOutside},
      {"GAP.BIN", 250, 100, kOutside},
      {"SECOND.BIN", 300, 100, nullptr},
      {"ACROSS.BIN", 150, 200 * 2048, kOutside},  // over the gap into the second track
      {"LAST.BIN", 470, 10 * 2048, nullptr},
      {"OVERLAP.BIN", 470, 10 * 2048 + 1, kInNewSession},
      {"NEXT.BIN", 480, 10, kInNewSession},
      {"FAR.BIN", 400000, 10, kInNewSession},
      {"FOUR.BIN", 150, 0xFFFFFFFFu, kInNewSession},
      {"TWELVE.BIN", 150, 12 * kGiB, kInNewSession},  // three extents and a bit
  };
  TCraftedDisc disc = SessionAt100(600);
  for (const TRow& row : rows) FileRecords(disc, 120, std::string(row.Name) + ";1", row.Extent, row.Size);
  // Folders: inside, in the gap, in the new session, and one whose length
  // reaches past its track, read as far as it is recorded.
  disc.Record(120, "INDIR", 160, 2048, 2);
  disc.Dots(160, 120);
  disc.Record(160, "A.TXT;1", 161, 10, 0);
  disc.Record(120, "GAPDIR", 250, 2048, 2);
  disc.Record(120, "NEWDIR", 490, 2048, 2);
  disc.Record(120, "CUTDIR", 199, 3 * 2048, 2);
  disc.Dots(199, 120);
  disc.Record(199, "B.TXT;1", 162, 10, 0);
  TRecordedArea area;
  area.Add(100, 200);
  area.Add(300, 480);
  area.SetNewSessionStart(480);
  TAreaSource source(disc.Bytes(), 100, area);
  ASSERT_TRUE(Import(source));

  const auto tree = Tree();
  for (const TRow& row : rows) {
    const std::string name = std::string(row.Name);
    SCOPED_TRACE(name);
    if (!row.Told) {
      ASSERT_EQ(tree.count(name), 1u);
      EXPECT_EQ(tree.at(name), row.Extent);
      EXPECT_EQ(Told(name), "");
    } else {
      EXPECT_EQ(tree.count(name), 0u);
      EXPECT_NE(Told("/" + name).find(row.Told), std::string::npos) << Told("/" + name);
    }
  }
  EXPECT_EQ(tree.count("INDIR/A.TXT"), 1u);
  EXPECT_EQ(tree.count("CUTDIR/B.TXT"), 1u);
  EXPECT_EQ(tree.count("GAPDIR/"), 0u);
  EXPECT_EQ(tree.count("NEWDIR/"), 0u);
  EXPECT_NE(Told("/GAPDIR").find(kOutside), std::string::npos);
  EXPECT_NE(Told("/NEWDIR").find(kInNewSession), std::string::npos);
  EXPECT_NE(Told("/CUTDIR").find("BUT ONLY 1 SECTORS THERE ARE RECORDED"), std::string::npos);
  for (const auto& line : Lines) EXPECT_TRUE(line.Type == 1 || line.Type == 4) << line.Text;
}

// Whatever a disc's records claim and wherever its tracks lie, an imported
// file's sectors lie on one recorded track and before the new session, and
// every file that does lie so is imported.
TEST_F(ImportBounds, ImportedFilesLieOnTheRecordedAreaWhateverTheRecordsClaim) {
  std::mt19937 random(20261209);
  const auto pick = [&random](uint64_t low, uint64_t high) {
    return std::uniform_int_distribution<uint64_t>(low, high)(random);
  };
  for (int round = 0; round < 60; ++round) {
    SCOPED_TRACE(round);
    const uint64_t firstEnd = pick(130, 400), secondStart = firstEnd + pick(0, 200);
    const uint64_t secondEnd = secondStart + pick(0, 400);
    const bool newSession = pick(0, 3) != 0;
    // Mostly where the tracks end or after; a burn may also tell a start
    // inside the second track.
    const uint64_t newStart = pick(0, 2) ? secondEnd + pick(0, 300) : pick(secondStart, secondEnd);
    TRecordedArea area;
    area.Add(100, firstEnd);
    area.Add(secondStart, secondEnd);
    if (newSession) area.SetNewSessionStart(newStart);
    const auto lies = [&](uint64_t first, uint64_t sectors) {
      const uint64_t end = first + sectors;
      if (newSession && end > newStart) return false;
      return (first >= 100 && end <= firstEnd) || (first >= secondStart && end <= secondEnd);
    };

    TCraftedDisc disc = SessionAt100(200);
    std::map<std::string, bool> expected;
    // At most 42 records of 42 bytes: one directory sector holds them.
    for (int i = 0; i < 30; ++i) {
      const uint32_t extent = static_cast<uint32_t>(pick(0, 5) == 0 ? pick(1, 0xFFFFFFF0u) : pick(1, 1200));
      uint64_t size = pick(1, 40 * 2048);
      if (i % 9 == 0) size = pick(1, 0xFFFFFFFFu);
      if (i % 12 == 0) size = pick(4 * kGiB, 16 * kGiB);
      const std::string name = "F" + std::to_string(i) + ".BIN";
      FileRecords(disc, 120, name + ";1", extent, size);
      expected[name] = lies(extent, (size + 2047) / 2048);
    }
    TAreaSource source(disc.Bytes(), 100, area);
    Rec.ClearCompilation(65535, 8191);
    ASSERT_TRUE(Import(source));
    for (const auto& [name, inside] : expected) {
      const TFEntry* entry = Rec.FindEntry(Rec.RootDirectory(), name);
      EXPECT_EQ(entry != nullptr, inside) << name;
      if (!entry) continue;
      const uint64_t sectors = (static_cast<uint64_t>(entry->ISOSize) + 2047) / 2048;
      EXPECT_TRUE(lies(static_cast<uint32_t>(entry->ISOLocation), sectors)) << name;
    }
  }
}

// READ TRACK INFORMATION of each track: the parts with data, merged where
// tracks touch, and the next writable address of the last track.
TEST(RecordedArea, TracksTellTheirRecordedPartsAndWhereTheNextSessionStarts) {
  struct TTrack {
    uint32_t Start, Size, Nwa;
    bool NwaValid, Blank;
  };
  struct TCase {
    const char* What;
    std::vector<TTrack> Tracks;
    std::vector<std::pair<uint64_t, uint64_t>> Ranges;
    int64_t NewSession;  // -1: none
  };
  const std::vector<TCase> cases = {
      {"blank disc", {{0, 359849, 0, true, true}}, {}, 0},
      {"one closed session", {{0, 1002, 0, false, false}, {12402, 347447, 12402, true, true}}, {{0, 1002}}, 12402},
      {"a session left open", {{0, 359849, 500, true, false}}, {{0, 500}}, 500},
      {"closed disc", {{0, 1002, 0, false, false}, {12402, 598, 0, false, false}}, {{0, 1002}, {12402, 13000}}, -1},
      {"touching tracks", {{0, 16, 0, false, false}, {16, 16, 0, false, false}}, {{0, 32}}, -1},
      {"reserved track part written",
       {{0, 1000, 300, true, false}, {1016, 2000000, 1016, true, true}}, {{0, 300}}, 1016},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    std::vector<TTrackInfo> tracks;
    for (const TTrack& t : c.Tracks) {
      TTrackInfo info;
      info.TrackStart = t.Start;
      info.TrackSize = t.Size;
      info.NextWritableAddress = t.Nwa;
      info.Raw[7] = t.NwaValid ? 0x01 : 0;
      info.Raw[6] = t.Blank ? 0x40 : 0;
      tracks.push_back(info);
    }
    const TRecordedArea area = AreaOfTracks(tracks);
    EXPECT_EQ(area.Ranges(), c.Ranges);
    EXPECT_EQ(area.HasNewSession(), c.NewSession >= 0);
    if (c.NewSession >= 0) EXPECT_EQ(area.NewSessionStart(), static_cast<uint64_t>(c.NewSession));
  }
}

// Through the simulated recorder: each session's track is recorded, and the
// area ends where the next burn lays its session out (or, on an
// overwritable disc, at the file system's end, which that start never lies
// before).
class DriveArea : public test::PipelineTest, public ::testing::WithParamInterface<const char*> {
 protected:
  void Burn(const std::string& name) {
    Fill(Folder(name, 2, 40));
    WriteDone = 0;
    ASSERT_TRUE(Rec.BurnCompilation());
    ASSERT_TRUE(WaitForEnd());
    ASSERT_EQ(Result, "");
  }
};

TEST_P(DriveArea, TheTracksOfEverySessionEndWhereTheNextBurnStarts) {
  Open(GetParam());
  Burn("one");
  const int64_t firstStart = Rec.SessionStart();
  Burn("two");
  const int64_t secondStart = Rec.SessionStart();
  TDriveSessionSource source(Rec, [this] { return Rec.SessionCount(); });
  const TRecordedArea area = source.RecordedArea();
  const int64_t next = Rec.PlanBurn().Start;
  ASSERT_TRUE(area.HasNewSession());
  ASSERT_FALSE(area.Ranges().empty());
  EXPECT_EQ(area.Ranges().front().first, static_cast<uint64_t>(firstStart));
  EXPECT_EQ(area.Place(static_cast<uint64_t>(secondStart), 1), TRecordedArea::TPlace::Inside);
  EXPECT_LE(area.Ranges().back().second, area.NewSessionStart());
  if (IsOverwritableMedium(Rec.MediumType())) {
    EXPECT_LE(area.NewSessionStart(), static_cast<uint64_t>(next));
  } else {
    EXPECT_EQ(area.Ranges().size(), 2u) << "the gap between the sessions is no data";
    EXPECT_EQ(area.NewSessionStart(), static_cast<uint64_t>(next));
  }
  Rec.ClearCompilation(65535, 8191);
  Log.clear();
  ASSERT_TRUE(Rec.ImportDiscSession(255, nullptr));
  EXPECT_EQ(Log.size(), 1u) << "every file of the session lies on it: " << Log.back();
}

INSTANTIATE_TEST_SUITE_P(SimulatedRecorder, DriveArea, ::testing::Values("cd-r", "dvd+r", "dvd-r", "dvd+rw"),
                         [](const auto& info) {
                           std::string name = info.param;
                           for (char& c : name) c = c == '+' ? 'P' : c == '-' ? '_' : c;
                           return name;
                         });

}  // namespace
}  // namespace fornax
