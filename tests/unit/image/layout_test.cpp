#include <gtest/gtest.h>

#include <ctime>
#include <set>
#include <string>

#include "base/scoped_time_zone.h"
#include "engine/base/bytes.h"
#include "engine/base/text.h"
#include "engine/image/iso_names.h"
#include "support/recorder_fixture.h"
#include "support/temp_folder.h"

namespace fornax {
namespace {

using test::RecorderTest;

class Layout : public RecorderTest {
 protected:
  const uint8_t* Sector(int64_t n) const { return Header.data() + n * 2048; }
  void LayOut() {
    Rec.PrepareImage(true, nullptr);
    Rec.BuildHeader(true, nullptr);
    Header = Rec.HeaderStream();
  }
  std::vector<uint8_t> Header;
};

TEST_F(Layout, OneSmallFileWithJoliet) {
  ASSERT_TRUE(AddFile(Rec.RootDirectory(), "one.bin", 1000));
  LayOut();
  const TImageLayout& p = Rec.Layout();
  EXPECT_EQ(p.PrimaryDescriptor, 16);
  EXPECT_EQ(p.JolietDescriptor, 17);
  EXPECT_EQ(p.Terminator, 18);
  EXPECT_EQ(p.IsoPathTableL, 19);
  EXPECT_EQ(p.IsoPathTableM, 20);
  EXPECT_EQ(p.JolietPathTableL, 21);
  EXPECT_EQ(p.JolietPathTableM, 22);
  EXPECT_EQ(p.IsoDirectoryArea, 23);
  EXPECT_EQ(p.JolietDirectoryArea, 24);
  EXPECT_EQ(p.PadSectors, 125);
  EXPECT_EQ(p.FirstFileLocation, 150);
  EXPECT_EQ(p.VolumeSpaceSize, 151);
  EXPECT_EQ(Rec.ImageSectors(), 300);
  Rec.WritePostGap = false;
  EXPECT_EQ(Rec.ImageSectors(), 151);
  EXPECT_EQ(Rec.HeaderStream().size(), 150u * 2048);
  // Descriptors in their sectors, and the copy kept of them.
  EXPECT_EQ(Sector(16)[0], 1);
  EXPECT_EQ(Sector(17)[0], 2);
  EXPECT_EQ(Sector(18)[0], 255);
  EXPECT_EQ(GetLe32(Sector(16) + 80), 151u);
  EXPECT_EQ(Rec.DescriptorCopy().Length, 19 * 2048);
  EXPECT_EQ(Rec.DescriptorCopy().Bytes[19 * 2048], 0xFF);
  EXPECT_EQ(Rec.DescriptorCopy().Bytes[16 * 2048 + 1], 'C');
  // The file's record in the ISO root: after "." and "..".
  const uint8_t* record = Sector(23) + 68;
  EXPECT_EQ(GetLe32(record + 2), 150u);
  EXPECT_EQ(GetLe32(record + 10), 1000u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(record + 33), record[32]), "ONE.BIN;1");
}

TEST_F(Layout, WithoutJolietThereIsNoSecondTree) {
  Rec.JolietFileSystem = false;
  ASSERT_TRUE(AddFile(Rec.RootDirectory(), "one.bin", 1000));
  LayOut();
  const TImageLayout& p = Rec.Layout();
  EXPECT_EQ(p.Terminator, 17);
  EXPECT_EQ(p.IsoPathTableL, 18);
  EXPECT_EQ(p.IsoPathTableM, 19);
  EXPECT_EQ(p.IsoDirectoryArea, 20);
  EXPECT_EQ(p.PadSectors, 129);
  EXPECT_EQ(Sector(17)[0], 255);
  for (int i = 88; i < 91; ++i) EXPECT_EQ(Sector(16)[i], 0);
}

TEST_F(Layout, PrimaryDescriptorReservedBytesStayZeroWithJoliet) {
  LayOut();
  for (int i = 88; i < 120; ++i) EXPECT_EQ(Sector(16)[i], 0) << i;
  EXPECT_EQ(Sector(17)[88], 0x25);
  EXPECT_EQ(Sector(17)[89], 0x2F);
  EXPECT_EQ(Sector(17)[90], 0x40);
}

TEST_F(Layout, LaterSessionsStartAtTheirOwnSectorWithoutPadding) {
  ASSERT_TRUE(AddFile(Rec.RootDirectory(), "one.bin", 1000));
  TLayoutOptions options;
  options.SessionStart = 1000;
  const TImageLayout p = PlanLayout(Rec.Compilation(), options);
  EXPECT_EQ(p.PrimaryDescriptor, 1016);
  EXPECT_EQ(p.PadSectors, 0);
  EXPECT_EQ(p.FirstFileLocation, 1025);
  EXPECT_EQ(p.VolumeSpaceSize, 1026);
  EXPECT_EQ(p.TrackSectors, 26);
  EXPECT_EQ(p.HeaderSectors(), 25);
}

TEST_F(Layout, FilesFollowInTableOrderAndEmptyFilesHaveNoExtent) {
  TDEntry* root = Rec.RootDirectory();
  ASSERT_TRUE(AddFile(root, "a.bin", 2049));
  ASSERT_TRUE(AddFile(root, "empty.bin", 0));
  ASSERT_TRUE(AddFile(root, "b.bin", 1));
  ASSERT_TRUE(Rec.AddEntry(root, FileListing("old.bin", 4096), "", 40, false));
  LayOut();
  EXPECT_EQ(Rec.FindEntry(root, "a.bin")->ISOLocation, 0);
  EXPECT_EQ(Rec.FindEntry(root, "empty.bin")->ISOLocation, 0);
  EXPECT_EQ(Rec.FindEntry(root, "b.bin")->ISOLocation, 2);
  EXPECT_EQ(Rec.FindEntry(root, "old.bin")->ISOLocation, 40);
  EXPECT_EQ(Rec.Layout().VolumeSpaceSize, 153);
  // The empty file's record points at sector 0, the imported one where it lies.
  const uint8_t* records = Sector(23) + 68;
  EXPECT_EQ(GetLe32(records + records[0] + 2), 0u);
  const uint8_t* old = records + records[0] + records[records[0]] + records[records[0] + records[records[0]]];
  EXPECT_EQ(GetLe32(old + 2), 40u);
}

TEST_F(Layout, PathTableOrderIsByParentNumberThenIdentifier) {
  TDEntry* root = Rec.RootDirectory();
  TDEntry* b = Rec.AddDirectory(root, FolderListing("b"));
  TDEntry* a = Rec.AddDirectory(root, FolderListing("a"));
  TDEntry* underB = Rec.AddDirectory(b, FolderListing("x"));
  TDEntry* underA = Rec.AddDirectory(a, FolderListing("y"));
  LayOut();
  EXPECT_EQ(root->Number, 1);
  EXPECT_EQ(a->Number, 2);
  EXPECT_EQ(b->Number, 3);
  EXPECT_EQ(underA->Number, 4);
  EXPECT_EQ(underB->Number, 5);
  const uint8_t* table = Sector(Rec.Layout().IsoPathTableL);
  EXPECT_EQ(table[0], 1);
  EXPECT_EQ(GetLe16(table + 6), 1);  // the root is its own parent
  EXPECT_EQ(GetLe32(table + 2), static_cast<uint32_t>(Rec.Layout().IsoDirectoryArea));
  // Extents keep creation order: b's extent comes before a's.
  EXPECT_LT(b->ISOLocation, a->ISOLocation);
  // Type M holds the same records big-endian.
  const uint8_t* m = Sector(Rec.Layout().IsoPathTableM);
  EXPECT_EQ(GetBe32(m + 2), GetLe32(table + 2));
  EXPECT_EQ(GetBe16(m + 10 + 6), GetLe16(table + 10 + 6));
}

TEST_F(Layout, PathTableParentsOverNineThousandNineHundredNinetyNineOrderAsNumbers) {
  Rec.ClearCompilation(600000, 20000);
  TDEntry* root = Rec.RootDirectory();
  std::vector<TDEntry*> top;
  for (int i = 0; i < 10050; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "D%05d", i);
    top.push_back(Rec.AddDirectory(root, FolderListing(name)));
  }
  // Children of directories numbered 10001 and 9999, added in that order.
  TDEntry* late = Rec.AddDirectory(top[9999], FolderListing("late"));
  TDEntry* early = Rec.AddDirectory(top[9997], FolderListing("early"));
  LayOut();
  EXPECT_EQ(top[9999]->Number, 10001);
  EXPECT_EQ(top[9997]->Number, 9999);
  EXPECT_EQ(early->Number, 10052);
  EXPECT_EQ(late->Number, 10053);
  // Every record's parent number is at least the one before it.
  const uint8_t* p = Sector(Rec.Layout().IsoPathTableL);
  const uint8_t* end = p + Rec.Layout().IsoPathTableSize;
  int previous = 0, records = 0;
  for (; p < end; p += 8 + p[0] + (p[0] % 2), ++records) {
    EXPECT_GE(GetLe16(p + 6), previous);
    previous = GetLe16(p + 6);
  }
  EXPECT_EQ(records, 10053);
}

TEST_F(Layout, PathTablesOfExactlyTwoSectors) {
  TDEntry* root = Rec.RootDirectory();
  // 10 bytes of root, 254 records of 16 bytes and one of 22: 4096.
  for (int i = 0; i < 254; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "DIR%05d", i);
    ASSERT_NE(Rec.AddDirectory(root, FolderListing(name, name)), nullptr);
  }
  ASSERT_NE(Rec.AddDirectory(root, FolderListing("fourteen_chars", "FOURTEEN_CHARS")), nullptr);
  LayOut();
  EXPECT_EQ(Rec.Layout().IsoPathTableSize, 4096);
  EXPECT_EQ(Rec.Layout().IsoPathTableM, Rec.Layout().IsoPathTableL + 2);
  EXPECT_EQ(Rec.Layout().JolietPathTableL, Rec.Layout().IsoPathTableM + 2);
}

TEST_F(Layout, RecordsNeverCrossASectorBoundary) {
  TDEntry* root = Rec.RootDirectory();
  // "." and ".." take 68 bytes; 45 records of 44 bytes fill the sector exactly.
  for (int i = 0; i < 45; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "f%04d.tx", i);
    ASSERT_TRUE(AddFile(root, name, 1));
  }
  EXPECT_EQ(PackedDirectorySize(*root, true), 2048);
  ASSERT_TRUE(AddFile(root, "f0045.tx", 1));
  EXPECT_EQ(PackedDirectorySize(*root, true), 4096);
  LayOut();
  EXPECT_EQ(root->ISOSize, 4096);
  const uint8_t* second = Sector(Rec.Layout().IsoDirectoryArea + 1);
  EXPECT_EQ(second[0], 44);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(second + 33), 10), "F0045.TX;1");
  // The Joliet records (2 bytes a character) pack on their own.
  EXPECT_EQ(root->JolietSize, PackedDirectorySize(*root, false));
  EXPECT_EQ(root->JolietSize, 2 * 2048);
}

TEST_F(Layout, AFileOverFourGigabytesIsToldAsConsecutiveExtents) {
  const int64_t size = 9LL * 1024 * 1024 * 1024 + 123;  // three extents
  ASSERT_TRUE(AddFile(Rec.RootDirectory(), "big.bin", size));
  ASSERT_TRUE(AddFile(Rec.RootDirectory(), "after.bin", 1));
  LayOut();
  EXPECT_EQ(Rec.Layout().VolumeSpaceSize, 150 + (size + 2047) / 2048 + 1);
  for (const bool iso : {true, false}) {
    const uint8_t* first = Sector(iso ? Rec.Layout().IsoDirectoryArea : Rec.Layout().JolietDirectoryArea) + 68;
    const uint8_t* second = first + first[0];
    const uint8_t* third = second + second[0];
    EXPECT_EQ(first[25], 0x80);
    EXPECT_EQ(second[25], 0x80);
    EXPECT_EQ(third[25], 0x00);
    EXPECT_EQ(GetLe32(first + 10), 0xFFFFF800u);
    EXPECT_EQ(GetBe32(second + 14), 0xFFFFF800u);
    EXPECT_EQ(GetLe32(third + 10), static_cast<uint32_t>(size - 2 * 0xFFFFF800LL));
    EXPECT_EQ(GetLe32(first + 2), 150u);
    EXPECT_EQ(GetLe32(second + 2), 150u + 0xFFFFF800u / 2048);
    EXPECT_EQ(GetLe32(third + 2), 150u + 2 * (0xFFFFF800u / 2048));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(third + 33), third[32]),
              iso ? "BIG.BIN;1" : JolietBytes("big.bin;1"));
  }
}

// The record of `identifier` in the first sector of a directory extent.
const uint8_t* FindRecord(const uint8_t* extent, const std::string& identifier) {
  for (size_t at = 0; at < 2048 && extent[at] != 0; at += extent[at])
    if (std::string(reinterpret_cast<const char*>(extent + at + 33), extent[at + 32]) == identifier)
      return extent + at;
  return nullptr;
}

// The moment a record's date stands for, as readers take it: the fields as a
// UTC time, less the offset.
int64_t RecordMoment(const uint8_t* record) {
  const uint8_t* date = record + 18;
  struct tm fields {};
  fields.tm_year = date[0];
  fields.tm_mon = date[1] - 1;
  fields.tm_mday = date[2];
  fields.tm_hour = date[3];
  fields.tm_min = date[4];
  fields.tm_sec = date[5];
  return static_cast<int64_t>(timegm(&fields)) - static_cast<int8_t>(date[6]) * 15 * 60;
}

TEST_F(Layout, EveryRecordCarriesTheOffsetOfItsOwnDate) {
  test::TScopedTimeZone zone("Europe/Madrid");
  constexpr int64_t kJuly = 1721044800, kDecember = 1734264000;  // noon UTC on the 15th
  ASSERT_TRUE(test::ZoneIsKnown(kJuly, 120));
  TDEntry* root = Rec.RootDirectory();
  const auto dated = [](TSearchRec listing, int64_t moment) {
    listing.WriteTime = moment;
    return listing;
  };
  ASSERT_TRUE(Rec.AddEntry(root, dated(FileListing("summer.txt", 1), kJuly), "/nowhere/summer.txt", 0, false));
  ASSERT_TRUE(Rec.AddEntry(root, dated(FileListing("winter.txt", 1), kDecember), "/nowhere/winter.txt", 0, false));
  // An entry of an imported session, dated as the disc had it.
  ASSERT_TRUE(Rec.AddEntry(root, dated(FileListing("old.txt", 1), kJuly), "", 40, false));
  TDEntry* folder = Rec.AddDirectory(root, dated(FolderListing("dec"), kDecember));
  ASSERT_NE(folder, nullptr);
  ASSERT_TRUE(AddFile(folder, "in.txt", 1));
  LayOut();

  const struct {
    std::string Name;
    int64_t Moment;
    int Offset;
  } cases[] = {{"summer.txt;1", kJuly, 8}, {"winter.txt;1", kDecember, 4},
               {"old.txt;1", kJuly, 8},    {"dec", kDecember, 4}};
  for (const auto& c : cases) {
    const uint8_t* iso = FindRecord(Sector(Rec.Layout().IsoDirectoryArea), UpperCase(c.Name));
    const uint8_t* joliet = FindRecord(Sector(Rec.Layout().JolietDirectoryArea), JolietBytes(c.Name));
    for (const uint8_t* record : {iso, joliet}) {
      ASSERT_NE(record, nullptr) << c.Name;
      EXPECT_EQ(static_cast<int8_t>(record[24]), c.Offset) << c.Name;
      EXPECT_EQ(RecordMoment(record), c.Moment) << c.Name;
    }
  }
}

TEST_F(Layout, ReportLinesFollowDoDebug) {
  ASSERT_TRUE(AddFile(Rec.RootDirectory(), "one.bin", 1000));
  Rec.PrepareImage(true, nullptr);
  EXPECT_TRUE(Lines.empty());
  Rec.DoDebug = true;
  Rec.PrepareImage(true, nullptr);
  EXPECT_TRUE(Logged("1 Files Added to CD, now sorting", 1));
  EXPECT_TRUE(Logged("Sorting .... Done", 1));
  EXPECT_TRUE(Logged(" Primary Volume Descriptor Location   :00000016", 1));
  EXPECT_TRUE(Logged(" Path Table Records Location (Most)  J:00000022", 1));
  EXPECT_TRUE(Logged(" First File Location                  :00000150", 1));
  EXPECT_FALSE(LoggedContaining("Boot Record", 1));
}

class BootLayout : public Layout {
 protected:
  std::string BootFile(int64_t size) { return Tmp.Write("boot.img", std::string(static_cast<size_t>(size), 'B')); }
  test::TTempFolder Tmp;
};

TEST_F(BootLayout, BootItemsTakeTheirSectorsBeforeTheFirstFile) {
  Rec.Bootable = true;
  Rec.BootImageFile = BootFile(4096);
  ASSERT_TRUE(AddFile(Rec.RootDirectory(), "one.bin", 1000));
  LayOut();
  const TImageLayout& p = Rec.Layout();
  EXPECT_EQ(p.BootRecord, 17);
  EXPECT_EQ(p.JolietDescriptor, 18);
  EXPECT_EQ(p.Terminator, 19);
  EXPECT_EQ(p.BootCatalogLocation, p.JolietDirectoryArea + 1);
  EXPECT_EQ(p.BootImageSectors, 2);
  EXPECT_EQ(p.BootImageLocation, 148);
  EXPECT_EQ(p.FirstFileLocation, 150);
  EXPECT_EQ(GetLe32(Sector(17) + 71), static_cast<uint32_t>(p.BootCatalogLocation));
  const uint8_t* catalog = Sector(p.BootCatalogLocation);
  EXPECT_EQ(catalog[33], 4);
  EXPECT_EQ(GetLe32(catalog + 40), 148u);
  EXPECT_EQ(Rec.HeaderStream().size(), 148u * 2048);
}

TEST_F(BootLayout, FloppySizesAnnounceTheirEmulation) {
  Rec.Bootable = true;
  for (const auto& [bytes, sectors, type] :
       {std::tuple{1474560, 720, 2}, {1228800, 600, 1}, {2949120, 1440, 3}, {4096, 2, 4}}) {
    Rec.BootImageFile = BootFile(bytes);
    LayOut();
    EXPECT_EQ(Rec.Layout().BootImageSectors, sectors);
    EXPECT_EQ(Sector(Rec.Layout().BootCatalogLocation)[33], type) << bytes;
    // With a large image the padding disappears and the image follows the catalog.
    if (sectors > 150) {
      EXPECT_EQ(Rec.Layout().BootImageLocation, Rec.Layout().BootCatalogLocation + 1);
    }
  }
}

TEST_F(BootLayout, AnEmptyBootFileTurnsBootingOffAndSaysSo) {
  Rec.Bootable = true;
  Rec.BootImageFile = BootFile(0);
  LayOut();
  EXPECT_FALSE(Rec.Bootable);
  EXPECT_TRUE(LoggedContaining("IS EMPTY", 4));
  EXPECT_EQ(Rec.Layout().JolietDescriptor, 17);
}

TEST_F(BootLayout, AMissingBootFileTurnsBootingOff) {
  Rec.Bootable = true;
  Rec.BootImageFile = Tmp.Path("missing.img");
  LayOut();
  EXPECT_FALSE(Rec.Bootable);
  EXPECT_EQ(Rec.Layout().JolietDescriptor, 17);
  EXPECT_EQ(Rec.Layout().IsoPathTableL, 19);
  EXPECT_EQ(Sector(17)[0], 2);
}

}  // namespace
}  // namespace fornax
