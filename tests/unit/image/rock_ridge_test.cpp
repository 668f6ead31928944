#include <gtest/gtest.h>

#include <sys/stat.h>

#include <random>
#include <string>
#include <vector>

#include "engine/disc/rock_ridge_reader.h"
#include "engine/image/iso_names.h"
#include "engine/image/rock_ridge.h"
#include "engine/image/rock_ridge_tree.h"

namespace fornax {
namespace {

// What a reader sees of a record: its system use, followed through the CE
// chain into `areas` (sector `kArea` onwards).
constexpr uint32_t kArea = 100;

TRockRidgeFields ReadBack(const TSystemUse& use, const std::vector<uint8_t>& areas) {
  TRockRidgeFields fields;
  TContinuationRef next = ReadSystemUseEntries(use.InRecord.data(), use.InRecord.size(), fields);
  for (int hop = 0; next.Present && hop < 64; ++hop) {
    EXPECT_GE(next.Block, kArea);
    EXPECT_LE(next.Offset + next.Length, 2048u) << "an area crosses a sector boundary";
    const size_t at = (next.Block - kArea) * 2048 + next.Offset;
    EXPECT_LE(at + next.Length, areas.size());
    next = ReadSystemUseEntries(areas.data() + at, next.Length, fields);
  }
  return fields;
}

TSystemUse Packed(const TRockRidgeRecord& record, size_t identifier = 12) {
  return PackSystemUse(RockRidgeEntries(record), SystemUseRoom(identifier));
}

TEST(RockRidgeEntries, FixedEntriesHoldTheirFieldsWhereReadersLook) {
  const TSystemUseEntry sp = SpEntry();
  EXPECT_EQ(sp, (TSystemUseEntry{'S', 'P', 7, 1, 0xBE, 0xEF, 0}));

  const TSystemUseEntry px = PxEntry(S_IFREG | 0640, 1, 1000, 0x01020304);
  ASSERT_EQ(px.size(), 36u);
  EXPECT_EQ(px[4], 0xA0);  // 0100640 little-endian: A0 81
  EXPECT_EQ(px[5], 0x81);
  EXPECT_EQ(px[11], 0xA0);  // then big-endian
  EXPECT_EQ(px[28], 0x04);
  EXPECT_EQ(px[35], 0x04);

  // 2024-02-29 13:45:59 UTC, offset 0; modification, access, change in that order.
  const TSystemUseEntry tf = TfEntry(1709214359, 0, 1);
  ASSERT_EQ(tf.size(), 26u);
  EXPECT_EQ(tf[4], 0x0E);
  EXPECT_EQ(TSystemUseEntry(tf.begin() + 5, tf.begin() + 12), (TSystemUseEntry{124, 2, 29, 13, 45, 59, 0}));
  EXPECT_EQ(TSystemUseEntry(tf.begin() + 12, tf.begin() + 19), (TSystemUseEntry{70, 1, 1, 0, 0, 0, 0}));

  const TSystemUseEntry er = ErEntry();
  EXPECT_EQ(er.size(), er[2]);
  EXPECT_EQ(std::string(er.begin() + 8, er.begin() + 8 + er[4]), "RRIP_1991A");
  EXPECT_EQ(static_cast<size_t>(8 + er[4] + er[5] + er[6]), er.size());
}

TEST(RockRidgeEntries, LinkTargetsBecomeComponents) {
  // "../a/./b": PARENT, "a", CURRENT, "b", in one entry.
  const std::vector<TSystemUseEntry> relative = SlEntries("../a/./b");
  ASSERT_EQ(relative.size(), 1u);
  EXPECT_EQ(relative[0], (TSystemUseEntry{'S', 'L', 15, 1, 0, 0x04, 0, 0, 1, 'a', 0x02, 0, 0, 1, 'b'}));
  // An absolute target starts with ROOT; doubled and final slashes are dropped.
  const std::vector<TSystemUseEntry> absolute = SlEntries("/usr//bin/");
  ASSERT_EQ(absolute.size(), 1u);
  EXPECT_EQ(absolute[0], (TSystemUseEntry{'S', 'L', 17, 1, 0, 0x08, 0, 0, 3, 'u', 's', 'r', 0, 3, 'b', 'i', 'n'}));
  for (const std::string target : {"/", "..", "x", "/a/../b/.", "./../../up"}) {
    TRockRidgeFields fields;
    for (const TSystemUseEntry& sl : SlEntries(target)) ReadSystemUseEntries(sl.data(), sl.size(), fields);
    EXPECT_EQ(fields.LinkTarget, target) << target;
  }
}

// A reader that puts no "/" between two SL entries, only between the
// components of one (as libarchive does); the other kind adds one at an entry
// boundary unless the last component is continued (as Linux does).
std::string JoinedWithoutBoundarySlash(const std::vector<TSystemUseEntry>& entries) {
  std::string target;
  for (const TSystemUseEntry& sl : entries) {
    const char* separator = "";
    for (size_t at = 5; at + 2 <= sl.size(); at += 2 + sl[at + 1]) {
      target += separator;
      separator = "/";
      const uint8_t flags = sl[at];
      if (flags & 0x08) target += "/";
      if (flags & 0x02) target += ".";
      if (flags & 0x04) target += "..";
      target.append(reinterpret_cast<const char*>(&sl[at + 2]), sl[at + 1]);
      if (flags & (0x01 | 0x08)) separator = "";
    }
  }
  return target;
}

TEST(RockRidgeEntries, TargetsAcrossEntriesReadAlikeWhereverReadersPutTheBoundary) {
  std::string ups, letters;
  for (int i = 0; i < 200; ++i) ups += "../";
  for (int i = 0; i < 300; ++i) letters += std::string(1, static_cast<char>('a' + i % 26)) + "/";
  for (const std::string& target : {ups + "x", "/" + letters + "end", ups + std::string(700, 'L') + "/" + letters}) {
    const std::vector<TSystemUseEntry> sl = SlEntries(target);
    ASSERT_GT(sl.size(), 1u);
    for (const TSystemUseEntry& entry : sl) EXPECT_LE(entry.size(), 255u);
    TRockRidgeFields fields;
    for (const TSystemUseEntry& entry : sl) ReadSystemUseEntries(entry.data(), entry.size(), fields);
    std::string expected = target;
    if (expected.size() > 1 && expected.back() == '/') expected.pop_back();
    EXPECT_EQ(fields.LinkTarget, expected);
    EXPECT_EQ(JoinedWithoutBoundarySlash(sl), expected);
  }
}

TEST(RockRidgeEntries, LongNamesAndTargetsAreSplitAndComeBackWhole) {
  std::string longStep(600, 'n');
  for (size_t i = 0; i < longStep.size(); ++i) longStep[i] = static_cast<char>('a' + i % 26);
  const std::string target = "/" + longStep + "/../" + longStep.substr(0, 250) + "/end";
  const std::vector<TSystemUseEntry> sl = SlEntries(target);
  EXPECT_GT(sl.size(), 2u);
  for (size_t i = 0; i < sl.size(); ++i) {
    EXPECT_LE(sl[i].size(), 255u);
    EXPECT_EQ(sl[i][2], sl[i].size());
    EXPECT_EQ(sl[i][4], i + 1 < sl.size() ? 1 : 0) << "every SL but the last goes on";
  }
  const std::vector<TSystemUseEntry> nm = NmEntries(longStep);
  ASSERT_EQ(nm.size(), 3u);
  EXPECT_EQ(nm[0][4], kNameContinues);
  EXPECT_EQ(nm[2][4], 0);

  TRockRidgeRecord record;
  record.Mode = S_IFLNK | 0777;
  record.Name = longStep;
  record.LinkTarget = target;
  record.Modified = 1700000000;
  TSystemUse use = Packed(record);
  ASSERT_FALSE(use.Areas.empty());
  EXPECT_LE(use.InRecord.size(), SystemUseRoom(12));
  EXPECT_EQ(use.InRecord.size() % 2, 0u);
  std::vector<TSystemUse> uses{use};
  std::vector<uint8_t> areas;
  TContinuationPlacer placer;
  placer.Place(uses, kArea, &areas);
  const TRockRidgeFields fields = ReadBack(uses[0], areas);
  EXPECT_EQ(fields.Name, longStep);
  EXPECT_EQ(fields.LinkTarget, target);
  EXPECT_EQ(fields.Mode, S_IFLNK | 0777u);
  EXPECT_EQ(fields.Modified, 1700000000);
}

TEST(RockRidgeEntries, TheRootCarriesSpFirstAndErInAContinuation) {
  TRockRidgeRecord root;
  root.Mode = S_IFDIR | 0555;
  root.NameFlags = kNameCurrent;
  root.VolumeRoot = true;
  const TSystemUse use = Packed(root, 1);
  uint8_t skip = 0xFF;
  ASSERT_TRUE(StartsWithSuspIndicator(use.InRecord.data(), use.InRecord.size(), skip));
  EXPECT_EQ(skip, 0);
  ASSERT_EQ(use.Areas.size(), 1u);
  EXPECT_EQ(std::string(use.Areas[0].Bytes.begin() + 8, use.Areas[0].Bytes.begin() + 18), "RRIP_1991A");
  TRockRidgeFields fields;
  ReadSystemUseEntries(use.InRecord.data(), use.InRecord.size(), fields);
  EXPECT_FALSE(fields.HasName) << "\".\" carries the CURRENT flag, no name";
}

TEST(RockRidgeEntries, AreasOfManyRecordsShareSectorsWithoutCrossingThem) {
  std::vector<TSystemUse> uses;
  for (int i = 0; i < 40; ++i) {
    TRockRidgeRecord record;
    record.Mode = S_IFREG | 0644;
    record.Name = std::string(200 + static_cast<size_t>(i) * 7, static_cast<char>('A' + i % 26));
    uses.push_back(Packed(record));
  }
  std::vector<uint8_t> areas;
  TContinuationPlacer placer;
  placer.Place(uses, kArea, &areas);
  EXPECT_EQ(static_cast<size_t>(placer.Sectors()), (areas.size() + 2047) / 2048);
  for (int i = 0; i < 40; ++i)
    EXPECT_EQ(ReadBack(uses[static_cast<size_t>(i)], areas).Name, std::string(200 + static_cast<size_t>(i) * 7, static_cast<char>('A' + i % 26)));
}

// The layout counts the system use of every record from lengths alone; the
// header then makes the bytes. Any difference moves every later record.
TEST(RockRidgeEntries, SizesCountedFromLengthsAreTheSizesOfThePackedBytes) {
  std::mt19937 random(20261208);
  const auto pick = [&random](size_t low, size_t high) {
    return std::uniform_int_distribution<size_t>(low, high)(random);
  };
  std::vector<size_t> lengths;
  for (int round = 0; round < 3000; ++round) {
    TRockRidgeRecord record;
    record.Mode = S_IFREG | 0644;
    switch (round % 4) {
      case 0: record.NameFlags = round % 8 == 0 ? kNameCurrent : kNameParent; break;
      case 1: record.Name = std::string(pick(1, 40), 'n'); break;
      default: record.Name = std::string(pick(180, 760), 'n'); break;
    }
    record.VolumeRoot = round % 16 == 0;
    record.Device = round % 7 == 0;
    if (round % 3 == 0) {
      for (size_t steps = pick(1, 30); steps > 0; --steps)
        record.LinkTarget += (pick(0, 4) == 0 ? std::string("..") : std::string(pick(1, 300), 's')) + "/";
      if (pick(0, 1) == 0) record.LinkTarget = "/" + record.LinkTarget;
    }
    const std::vector<TSystemUseEntry> entries = RockRidgeEntries(record);
    RockRidgeEntryLengths(record, record.Name.size(), lengths);
    ASSERT_EQ(lengths.size(), entries.size());
    for (size_t i = 0; i < entries.size(); ++i) ASSERT_EQ(lengths[i], entries[i].size()) << "entry " << i;

    // Up to the longest identifier a record holds (221 bytes: imported names).
    const size_t identifier = round % 5 == 0 ? pick(185, 221) : pick(1, 190);
    const TSystemUse packed = PackSystemUse(entries, SystemUseRoom(identifier));
    const TSystemUseSize size = PackedSystemUseSize(lengths, SystemUseRoom(identifier));
    ASSERT_LE(DirectoryRecordLength(identifier) + packed.InRecord.size(), 255u)
        << "identifier " << identifier << ": the record outgrows its length byte";
    ASSERT_EQ(size.InRecord, packed.InRecord.size()) << "round " << round;
    ASSERT_EQ(size.Areas.size(), packed.Areas.size()) << "round " << round;
    for (size_t i = 0; i < packed.Areas.size(); ++i) ASSERT_EQ(size.Areas[i], packed.Areas[i].Bytes.size());
  }
}

TEST(RockRidgeReader, HostileAreasEndReadingInsteadOfRunningPast) {
  // A length past the end, a length below four, a TF that claims seven times.
  const std::vector<uint8_t> past{'N', 'M', 40, 1, 0, 'a', 'b'};
  const std::vector<uint8_t> tiny{'P', 'X', 2, 1, 0, 0};
  const std::vector<uint8_t> shortTf{'T', 'F', 12, 1, 0x7F, 124, 1, 1, 0, 0, 0, 0};
  for (const auto& area : {past, tiny, shortTf}) {
    TRockRidgeFields fields;
    const TContinuationRef next = ReadSystemUseEntries(area.data(), area.size(), fields);
    EXPECT_FALSE(next.Present);
    EXPECT_FALSE(fields.HasName);
    EXPECT_FALSE(fields.HasAttributes);
  }
  int64_t seconds = 0;
  const uint8_t noDate[7] = {124, 13, 1, 0, 0, 0, 0};
  EXPECT_FALSE(RockRidgeTime(noDate, false, seconds));
  const uint8_t eastern[7] = {124, 2, 29, 14, 45, 59, 4};  // UTC+1
  ASSERT_TRUE(RockRidgeTime(eastern, false, seconds));
  EXPECT_EQ(seconds, 1709214359);
}

TEST(JolietNames, LongNamesAreCutKeepingTheExtensionAndWholeCharacters) {
  const std::string stem(150, 'x');
  EXPECT_EQ(JolietNameWithin(stem + ".tar.gz", 108), std::string(105, 'x') + ".gz");
  EXPECT_EQ(JolietNameWithin("short.txt", 108), "short.txt");
  // Four-byte characters take two UTF-16 units and are never halved.
  std::string emoji;
  for (int i = 0; i < 60; ++i) emoji += "\xF0\x9F\x98\x80";
  const std::string cut = JolietNameWithin("a" + emoji, 108);
  EXPECT_EQ(cut, "a" + emoji.substr(0, 53 * 4));
}

}  // namespace
}  // namespace fornax
