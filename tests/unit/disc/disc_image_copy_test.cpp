#include "engine/disc/disc_image_copy.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "crafted_disc.h"
#include "engine/base/bytes.h"
#include "engine/disc/sector_map.h"
#include "engine/recorder.h"
#include "support/fake_drive.h"
#include "support/temp_folder.h"

namespace fornax {
namespace {

using test::TCraftedDisc;

std::vector<TSectorSpan> R(std::initializer_list<std::pair<uint32_t, uint32_t>> ranges) {
  std::vector<TSectorSpan> out;
  for (const auto& [first, count] : ranges) out.push_back({first, count});
  return out;
}

TEST(SectorSet, RangesMergeAndReadAsText) {
  TSectorSet set;
  EXPECT_TRUE(set.Empty());
  set.Add(1500);
  set.Add(1200, 2);
  set.Add(1203);
  set.Add(1202);  // closes the gap: 1200-1203
  set.Add(1201, 2);
  set.Add(4000, 0);
  EXPECT_EQ(set.Ranges(), R({{1200, 4}, {1500, 1}}));
  EXPECT_EQ(set.Sectors(), 5u);
  EXPECT_TRUE(set.Contains(1203));
  EXPECT_FALSE(set.Contains(1204));
  EXPECT_EQ(SectorSpansText(set.Ranges()), "1200-1203, 1500");
  EXPECT_EQ(set.Within(1202, 400), R({{1202, 2}, {1500, 1}}));
  EXPECT_TRUE(set.Within(1204, 296).empty());
  set.Add(1100, 500);  // swallows both
  EXPECT_EQ(set.Ranges(), R({{1100, 500}}));
  EXPECT_EQ(SectorSpanText({7, 1}), "7");
  EXPECT_EQ(SectorSpanText({0, 16}), "0-15");
  TSectorSet top;
  top.Add(UINT32_MAX - 1, 10);  // nothing past the last sector number
  EXPECT_EQ(top.Ranges(), R({{UINT32_MAX - 1, 2}}));
}

TEST(ImagePlans, TheWholeDiscKeepsEverySectorAtItsNumber) {
  const TImagePlan plan = WholeDiscPlan(R({{11702, 400}, {0, 300}}));
  EXPECT_EQ(plan.Pieces, (std::vector<TImagePiece>{{0, 300, 0}, {11702, 400, 11702}}));
  EXPECT_EQ(plan.ImageSectors, 12102u);
  EXPECT_EQ(plan.SectorsToRead(), 700u);
}

TEST(ImagePlans, ASessionKeepsItsNumbersAndGetsItsDescriptorsAtSixteen) {
  TImagePlan plan;
  std::string refusal;
  ASSERT_TRUE(SessionImagePlan({0, 300}, 19, {}, plan, refusal));
  EXPECT_EQ(plan.Pieces, (std::vector<TImagePiece>{{0, 300, 0}})) << "a first session is copied as it lies";
  EXPECT_EQ(plan.ImageSectors, 300u);

  TSectorSet below;
  below.Add(40, 10);  // a file of session 1 that session 2 shows again
  below.Add(200, 1);
  ASSERT_TRUE(SessionImagePlan({1000, 500}, 19, below, plan, refusal)) << refusal;
  EXPECT_EQ(plan.Pieces, (std::vector<TImagePiece>{{1000, 19, 0}, {40, 10, 40}, {200, 1, 200}, {1000, 500, 1000}}));
  EXPECT_EQ(plan.ImageSectors, 1500u);

  below.Add(17);
  EXPECT_FALSE(SessionImagePlan({1000, 500}, 19, below, plan, refusal));
  EXPECT_NE(refusal.find("sectors 17 of an earlier session"), std::string::npos) << refusal;
  EXPECT_FALSE(SessionImagePlan({10, 500}, 19, {}, plan, refusal));
  EXPECT_NE(refusal.find("starts at sector 10"), std::string::npos) << refusal;
}

// Sectors of a pattern, some of which fail: a count of failures each, or
// always (-1).
class TFlakySource : public TMemorySource {
 public:
  explicit TFlakySource(uint32_t sectors) : TMemorySource(Pattern(sectors)) {}
  static std::vector<uint8_t> Pattern(uint32_t sectors) {
    std::vector<uint8_t> bytes(static_cast<size_t>(sectors) * 2048);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i / 2048 * 7 + i % 251);
    return bytes;
  }
  bool ReadSectors(uint32_t lba, uint32_t count, uint8_t* out) override {
    Calls.push_back({lba, count});
    for (uint32_t s = lba; s < lba + count; ++s) {
      auto f = Failures.find(s);
      if (f == Failures.end() || f->second == 0) continue;
      if (f->second > 0) --f->second;
      return false;
    }
    return TMemorySource::ReadSectors(lba, count, out);
  }
  std::map<uint32_t, int> Failures;
  std::vector<std::pair<uint32_t, uint32_t>> Calls;
};

class ImageCopy : public ::testing::Test {
 protected:
  bool Copy(TFlakySource& source, const TImagePlan& plan) {
    const int fd = ::open(Path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    EXPECT_GE(fd, 0);
    TDiscImageCopy copy(source, fd);
    copy.OnNote = [this](const std::string& note) { Notes.push_back(note); };
    const bool ok = copy.Run(plan);
    ::close(fd);
    Unreadable = copy.Unreadable();
    Recovered = copy.RecoveredReads();
    Done = copy.SectorsDone();
    return ok;
  }
  std::string Sector(const std::string& image, uint32_t n) const { return image.substr(size_t{n} * 2048, 2048); }

  test::TTempFolder Tmp;
  std::string Path = Tmp.Path("disc.iso");
  std::vector<std::string> Notes;
  TSectorSet Unreadable;
  int Recovered = 0;
  uint64_t Done = 0;
};

TEST_F(ImageCopy, ReadsInChunksAndLeavesTheGapsAsZeros) {
  TFlakySource source(200);
  ASSERT_TRUE(Copy(source, WholeDiscPlan(R({{0, 70}, {150, 50}}))));
  EXPECT_EQ(source.Calls,
            (std::vector<std::pair<uint32_t, uint32_t>>{{0, 32}, {32, 32}, {64, 6}, {150, 32}, {182, 18}}));
  const std::string image = test::TTempFolder::Read(Path);
  const std::vector<uint8_t> disc = TFlakySource::Pattern(200);
  ASSERT_EQ(image.size(), 200u * 2048);
  EXPECT_EQ(image.substr(0, 70 * 2048), std::string(disc.begin(), disc.begin() + 70 * 2048));
  EXPECT_EQ(image.substr(70 * 2048, 80 * 2048), std::string(80 * 2048, '\0'));
  EXPECT_EQ(image.substr(150 * 2048), std::string(disc.begin() + 150 * 2048, disc.end()));
  EXPECT_TRUE(Unreadable.Empty());
  EXPECT_EQ(Done, 120u);
}

TEST_F(ImageCopy, AReadThatFailsForAWhileIsTriedAgain) {
  TFlakySource source(64);
  source.Failures[40] = 2;  // the chunk's third try reads it
  ASSERT_TRUE(Copy(source, WholeDiscPlan(R({{0, 64}}))));
  EXPECT_TRUE(Unreadable.Empty());
  EXPECT_EQ(Recovered, 1);
  EXPECT_TRUE(Notes.empty());
  const std::vector<uint8_t> disc = TFlakySource::Pattern(64);
  EXPECT_EQ(test::TTempFolder::Read(Path), std::string(disc.begin(), disc.end()));

  // Longer than the chunk's tries: its sectors one by one, and the failing
  // one is read on its own second try.
  TFlakySource slower(64);
  slower.Failures[40] = 4;
  ASSERT_TRUE(Copy(slower, WholeDiscPlan(R({{0, 64}}))));
  EXPECT_TRUE(Unreadable.Empty());
  ASSERT_EQ(Notes.size(), 1u);
  EXPECT_EQ(Notes[0].rfind("sectors 32-63 fail after 3 tries", 0), 0u) << Notes[0];
  EXPECT_EQ(test::TTempFolder::Read(Path), std::string(disc.begin(), disc.end()));
}

TEST_F(ImageCopy, OnlyTheSectorsThatNeverReadAreLost) {
  TFlakySource source(100);
  source.Failures[40] = -1;
  source.Failures[41] = -1;
  source.Failures[90] = -1;
  ASSERT_TRUE(Copy(source, WholeDiscPlan(R({{0, 100}}))));
  EXPECT_EQ(Unreadable.Ranges(), R({{40, 2}, {90, 1}}));
  const std::string image = test::TTempFolder::Read(Path);
  const std::vector<uint8_t> disc = TFlakySource::Pattern(100);
  for (uint32_t n = 0; n < 100; ++n) {
    const bool bad = n == 40 || n == 41 || n == 90;
    const std::string expected =
        bad ? std::string(2048, '\0') : std::string(disc.begin() + n * 2048, disc.begin() + (n + 1) * 2048);
    EXPECT_EQ(Sector(image, n), expected) << "sector " << n;
  }
  // Sector 40: three tries in its chunk, three alone.
  int reads40 = 0;
  for (const auto& [lba, count] : source.Calls) reads40 += lba <= 40 && 40 < lba + count;
  EXPECT_EQ(reads40, 6);
}

TEST_F(ImageCopy, AGoneDiscOrAnInterruptionStopsTheCopy) {
  TFlakySource source(64);
  source.Failures[5] = -1;
  const int fd = ::open(Path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  TDiscImageCopy copy(source, fd);
  copy.ReadEndsCopy = [] { return true; };
  EXPECT_FALSE(copy.Run(WholeDiscPlan(R({{0, 64}}))));
  EXPECT_NE(copy.Error().find("the disc cannot be read any more (at sector 0)"), std::string::npos) << copy.Error();
  TDiscImageCopy stopped(source, fd);
  stopped.Cancelled = [] { return true; };
  EXPECT_FALSE(stopped.Run(WholeDiscPlan(R({{0, 64}}))));
  EXPECT_EQ(stopped.Error(), "interrupted");
  ::close(fd);
}

// A session of two trees: a Joliet one with long names, an ISO 9660 one.
TCraftedDisc TwoTreeDisc() {
  TCraftedDisc disc(120);
  disc.Descriptor(16, 1, 30);
  disc.Descriptor(17, 2, 40);
  disc.Descriptor(18, 255);
  for (uint32_t at : {16u, 17u}) {  // path tables of 2 sectors at 20 (L) and 22 (M)
    PutLe32(disc.Sector(at) + 132, 3000);
    PutLe32(disc.Sector(at) + 140, 20);
    PutBe32(disc.Sector(at) + 148, 22);
  }
  disc.Dots(30, 30);
  disc.Record(30, "PHOTOS", 31, 2048, 2);
  disc.Record(30, "README.;1", 60, 100, 0);
  disc.Record(30, "EMPTY.;1", 0, 0, 0);
  disc.Dots(31, 30);
  disc.Record(31, "SUMMER.JPG;1", 70, 5000, 0);
  disc.Dots(40, 40);
  disc.Record(40, JolietBytes("Photos"), 41, 2048, 2);
  disc.Record(40, JolietBytes("README;1"), 60, 100, 0);
  disc.Dots(41, 40);
  disc.Record(41, JolietBytes("Summer Holiday.jpg;1"), 70, 5000, 0);
  disc.Record(41, JolietBytes("clip.bin;1"), 80, 10 * 2048, 0);
  return disc;
}

TEST(SectorOwners, EveryPartOfTheFileSystemIsNamedOnce) {
  TCraftedDisc disc = TwoTreeDisc();
  TMemorySource source(disc.Bytes());
  TQzRecorder scratch;
  const std::vector<TSectorOwner> owners = SessionSectorOwners(source, 1, scratch.Compilation(), nullptr);
  std::map<std::string, std::pair<uint32_t, uint32_t>> found;
  for (const TSectorOwner& o : owners) found[OwnerText(o, true)] = {o.First, o.Sectors};
  const std::map<std::string, std::pair<uint32_t, uint32_t>> expected{
      {"the volume descriptors (session 1)", {16, 3}},
      {"the path tables (session 1)", {20, 4}},
      {"the directory / (Joliet tree) (session 1)", {40, 1}},
      {"the directory /Photos (Joliet tree) (session 1)", {41, 1}},
      {"the directory / (ISO 9660 tree) (session 1)", {30, 1}},
      {"the directory /PHOTOS (ISO 9660 tree) (session 1)", {31, 1}},
      {"/README (session 1)", {60, 1}},
      {"/Photos/Summer Holiday.jpg (session 1)", {70, 3}},
      {"/Photos/clip.bin (session 1)", {80, 10}},
  };
  EXPECT_EQ(found, expected) << "files both trees show are named by their Joliet names, empty ones not at all";
  EXPECT_EQ(OwnedSectorsBelow(owners, 62).Ranges(), R({{16, 3}, {20, 4}, {30, 2}, {40, 2}, {60, 1}}));
}

TEST(SectorOwners, BadSectorsAreMappedToWhatHoldsThem) {
  TCraftedDisc disc = TwoTreeDisc();
  TMemorySource source(disc.Bytes());
  TQzRecorder scratch;
  std::vector<TSectorOwner> owners = SessionSectorOwners(source, 1, scratch.Compilation(), nullptr);
  TSectorSet bad;
  bad.Add(41);      // the Joliet directory /Photos
  bad.Add(71, 2);   // the end of Summer Holiday.jpg
  bad.Add(85, 10);  // the end of clip.bin and beyond it
  bad.Add(110);     // nothing's
  const TDamageReport report = MapDamage(owners, bad);
  EXPECT_EQ(DamageLines(report, false), (std::vector<std::string>{
                                            "the directory /Photos (Joliet tree): 1 of its 1 sector (41)",
                                            "/Photos/Summer Holiday.jpg: 2 of its 3 sectors (71-72)",
                                            "/Photos/clip.bin: 5 of its 10 sectors (85-89)",
                                            "in no file or directory the file systems show: 90-94, 110",
                                        }));

  // The same file in two sessions is one owner that both show.
  std::vector<TSectorOwner> second = owners;
  for (TSectorOwner& o : second) o.Sessions = {2};
  second.push_back(TSectorOwner{TOwnerKind::File, "/new.txt", true, 100, 1, {2}});
  MergeOwners(owners, second);
  const TDamageReport both = MapDamage(owners, TSectorSet{});
  EXPECT_TRUE(both.Owners.empty());
  TSectorSet hit;
  hit.Add(70);
  hit.Add(100);
  EXPECT_EQ(DamageLines(MapDamage(owners, hit), true),
            (std::vector<std::string>{"/Photos/Summer Holiday.jpg (sessions 1, 2): 1 of its 3 sectors (70)",
                                      "/new.txt (session 2): 1 of its 1 sector (100)"}));
}

TEST(SectorOwners, AnUnreadableDirectoryIsStillNamed) {
  TCraftedDisc disc = TwoTreeDisc();
  std::vector<uint8_t> bytes = disc.Bytes();
  std::fill(bytes.begin() + 41 * 2048, bytes.begin() + 42 * 2048, 0);  // read as zeros
  TMemorySource source(bytes);
  TQzRecorder scratch;
  const std::vector<TSectorOwner> owners = SessionSectorOwners(source, 1, scratch.Compilation(), nullptr);
  TSectorSet bad;
  bad.Add(41);
  bad.Add(70);
  const std::vector<std::string> lines = DamageLines(MapDamage(owners, bad), false);
  // The Joliet tree lost its files below /Photos; the ISO 9660 tree names
  // the one it shows.
  EXPECT_EQ(lines, (std::vector<std::string>{"the directory /Photos (Joliet tree): 1 of its 1 sector (41)",
                                             "/PHOTOS/SUMMER.JPG: 1 of its 3 sectors (70)"}));
}

// A drive that only reads has no track information: its table of contents
// tells the last session's end, the file system an earlier one's.
TEST(RecordedExtents, ADriveThatOnlyReadsTellsThemByItsTableOfContents) {
  test::TReadOnlyDrive drive;
  drive.TrackStarts = {0, 11702, 20000};
  drive.LeadOut = 25000;
  TCraftedDisc disc(400);
  disc.Descriptor(16, 1, 20);
  disc.Descriptor(17, 255);
  drive.Disc = disc.Bytes();
  test::TFakeDrive fake;
  fake.Respond = [&drive](SRB_ExecSCSICmd& srb) { drive.Answer(srb); };
  TQzRecorder rec;
  ASSERT_TRUE(rec.SelectDevice("0:0:0"));
  TSectorSpan extent;
  ASSERT_TRUE(RecordedSessionExtent(rec, 1, extent));
  EXPECT_EQ(extent, (TSectorSpan{0, 400})) << "up to where its file system ends";
  ASSERT_TRUE(RecordedSessionExtent(rec, 3, extent));
  EXPECT_EQ(extent, (TSectorSpan{20000, 5000})) << "up to the lead-out";
  EXPECT_FALSE(RecordedSessionExtent(rec, 2, extent)) << "neither the drive nor a file system tells its end";
  EXPECT_FALSE(RecordedSessionExtent(rec, 4, extent));
}

}  // namespace
}  // namespace fornax
