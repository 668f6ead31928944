#include <gtest/gtest.h>

#include <sys/stat.h>

#include <map>
#include <string>

#include "crafted_disc.h"
#include "engine/disc/disc_records.h"
#include "engine/disc/extraction.h"
#include "engine/disc/session_import.h"
#include "support/recorder_fixture.h"
#include "support/temp_folder.h"

namespace fornax {
namespace {

using test::TCraftedDisc;

// Imports sessions of a source into the engine's compilation, keeping the log.
class Readers : public test::RecorderTest {
 protected:
  bool Import(TSessionSource& source, int session = 255) {
    return ImportSession(source, Rec.Compilation(), session, nullptr,
                         [this](const std::string& m, uint8_t t) { Lines.push_back({m, t}); });
  }
  // path -> size of every file, "path/" for folders.
  std::map<std::string, int64_t> Tree() const {
    std::map<std::string, int64_t> out;
    Walk(Rec.RootDirectory(), "", out);
    return out;
  }
  static void Walk(const TDEntry* dir, const std::string& prefix, std::map<std::string, int64_t>& out) {
    for (const TFEntry* e = dir->FirstEntry; e; e = e->Next) {
      if (e->IsDirectory()) {
        out[prefix + e->LongName + "/"] = 0;
        Walk(e->Directory, prefix + e->LongName + "/", out);
      } else {
        out[prefix + e->LongName] = e->ISOSize;
      }
    }
  }
  int Count(const std::string& part) const {
    int n = 0;
    for (const auto& line : Lines) n += line.Text.find(part) != std::string::npos;
    return n;
  }
};

TEST(DiscRecords, IdentifiersBecomeNames) {
  EXPECT_EQ(JolietName(JolietBytes("A.TXT;1")), "A.TXT");
  EXPECT_EQ(JolietName(JolietBytes("ñandú.txt;1")), "ñandú.txt");
  EXPECT_EQ(JolietName(JolietBytes(";1;1")), ";1") << "a ';' among the first two characters stays";
  EXPECT_EQ(IsoName("README.TXT;1"), "README.TXT");
  EXPECT_EQ(IsoName(std::string("AB\0CD;1", 7)), "AB");
  bool changed = false;
  EXPECT_EQ(SafeName("a/b", changed), "a_b");
  EXPECT_TRUE(changed);
  EXPECT_EQ(SafeName(std::string("x\0y", 3), changed), "x_y");
  EXPECT_EQ(SafeName(".", changed), "_.");
  EXPECT_EQ(SafeName("..", changed), "_..");
  EXPECT_EQ(SafeName("", changed), "_");
  EXPECT_EQ(SafeName("fine.txt", changed), "fine.txt");
  EXPECT_FALSE(changed);
}

TEST(DiscRecords, RecordsAreReadOnlyWithinTheirBounds) {
  uint8_t sector[2048] = {};
  TDiscRecord r;
  EXPECT_EQ(ReadDiscRecord(sector, 0, r), TRecordRead::EndOfData);
  sector[0] = 33;  // shorter than any record with an identifier
  EXPECT_EQ(ReadDiscRecord(sector, 0, r), TRecordRead::Malformed);
  sector[0] = 40;
  sector[32] = 20;  // the identifier would run past the record
  EXPECT_EQ(ReadDiscRecord(sector, 0, r), TRecordRead::Malformed);
  sector[2040] = 40;  // the record would run past the sector
  EXPECT_EQ(ReadDiscRecord(sector, 2040, r), TRecordRead::Malformed);
  sector[32] = 7;
  EXPECT_EQ(ReadDiscRecord(sector, 0, r), TRecordRead::Record);
  EXPECT_EQ(r.Identifier.size(), 7u);
  int64_t when = 0;
  const uint8_t feb30[7] = {123, 2, 30, 10, 0, 0, 0}, hour24[7] = {123, 1, 1, 24, 0, 0, 0};
  const uint8_t leap[7] = {124, 2, 29, 23, 59, 59, 0};
  EXPECT_FALSE(RecordDateToUnix(feb30, when));
  EXPECT_FALSE(RecordDateToUnix(hour24, when));
  EXPECT_TRUE(RecordDateToUnix(leap, when));
}

TEST_F(Readers, OwnImagesComeBackWithTheirNamesSizesAndDates) {
  test::TTempFolder tmp;
  Rec.AddFileEntry("\\", tmp.Write("src/ñandú.txt", "ñ"), false);
  Rec.AddDirectoryTree(Rec.RootDirectory(), tmp.Path("src/"), "*.*", 63, true, false, false);
  tmp.Write("src/sub/deep.bin", std::string(5000, 'd'));
  tmp.Write("src/.hidden", "h");
  tmp.Write("src/README", "r");
  // The longest name a disc of ours holds: 108 characters.
  const std::string longest = "Minutes of the yearly planning meeting held in the north offices, with every action items listed (final).txt";
  ASSERT_EQ(longest.size(), 108u);
  tmp.Write("src/" + longest, "long");
  Rec.ClearCompilation(65535, 8191);
  Rec.AddDirectoryTree(Rec.RootDirectory(), tmp.Path("src/"), "*.*", 63, true, false, false);
  for (const bool joliet : {true, false}) {
    Rec.JolietFileSystem = joliet;
    Rec.BuildISOFile(tmp.Path("own.iso"), true);
    Rec.ClearCompilation(65535, 8191);
    Lines.clear();
    TImageFileSource source(tmp.Path("own.iso"));
    ASSERT_TRUE(Import(source));
    EXPECT_EQ(Count("IMPORTING SESSION # 1"), 1);
    EXPECT_EQ(Lines.size(), 1u) << Lines.back().Text;
    const auto tree = Tree();
    if (joliet) {
      EXPECT_EQ(tree, (std::map<std::string, int64_t>{{".hidden", 1}, {"README.", 1}, {"sub/", 0},
                                                       {"sub/deep.bin", 5000}, {"ñandú.txt", 2},
                                                       {longest, 4}}));
      EXPECT_TRUE(Rec.FindEntry(Rec.RootDirectory(), ".hidden")->Attributes & 0x02);
    } else {
      EXPECT_EQ(tree.size(), 6u);
      EXPECT_EQ(tree.at("SUB/DEEP.BIN"), 5000);
    }
    const TFEntry* deep = Rec.FindEntry(Rec.FindDirectory(joliet ? "\\sub" : "\\SUB"), joliet ? "deep.bin" : "DEEP.BIN");
    ASSERT_NE(deep, nullptr);
    EXPECT_TRUE(deep->Imported);
    EXPECT_GE(deep->ISOLocation, 150);
    EXPECT_EQ(Rec.CompilationBytes(), 0) << "imported files add nothing";
    // Rebuild the compilation for the next round.
    Rec.ClearCompilation(65535, 8191);
    Rec.AddDirectoryTree(Rec.RootDirectory(), tmp.Path("src/"), "*.*", 63, true, false, false);
  }
}

TEST_F(Readers, DescriptorsTooFarFromTheSessionStartAreNotFound) {
  TCraftedDisc disc(64);
  disc.Descriptor(40, 1, 45);
  TMemorySource source(disc.Bytes());
  EXPECT_FALSE(Import(source));
  EXPECT_EQ(Count(">>> ERROR IMPORTING SESSION 1 (ISO IMAGE NOT FOUND)"), 1);
  Lines.clear();
  TMemorySource blank(std::vector<uint8_t>(64 * 2048, 0), {});
  EXPECT_FALSE(Import(blank));
  EXPECT_TRUE(Lines.empty()) << "a disc without sessions is no error";
}

TEST_F(Readers, AJolietDescriptorIsPreferredAndATerminatorEndsOnlyItsPass) {
  TCraftedDisc disc(64);
  disc.Descriptor(16, 1, 30);
  disc.Descriptor(17, 2, 31);
  disc.Descriptor(18, 255);
  disc.Dots(30, 30);
  disc.Record(30, "PLAIN.TXT;1", 0, 0, 0);
  disc.Dots(31, 31);
  disc.Record(31, JolietBytes("Joliet.txt;1"), 0, 0, 0);
  TMemorySource source(disc.Bytes());
  ASSERT_TRUE(Import(source));
  EXPECT_EQ(Tree(), (std::map<std::string, int64_t>{{"Joliet.txt", 0}})) << "Joliet first, whatever the order";

  // A Joliet descriptor behind the terminator is not looked for: the primary
  // one's tree comes in.
  TCraftedDisc late(64);
  late.Descriptor(16, 1, 30);
  late.Descriptor(17, 255);
  late.Descriptor(18, 2, 31);
  late.Dots(30, 30);
  late.Record(30, "PLAIN.TXT;1", 0, 0, 0);
  Rec.ClearCompilation(65535, 8191);
  TMemorySource second(late.Bytes());
  ASSERT_TRUE(Import(second));
  EXPECT_EQ(Tree(), (std::map<std::string, int64_t>{{"PLAIN.TXT", 0}}));
}

TEST_F(Readers, HostileDirectoriesNeitherLoopNorReadOutOfBounds) {
  TCraftedDisc disc(400);
  disc.Descriptor(16, 1, 20);
  disc.Descriptor(17, 255);
  disc.Dots(20, 20);
  disc.Record(20, "SELF", 20, 2048, 2);            // the directory itself again
  disc.Record(20, "LOOP", 21, 2048, 2);
  disc.Dots(21, 20);
  disc.Record(21, "BACK", 20, 2048, 2);            // back to an ancestor
  disc.Record(20, "FAR.BIN;1", 5000, 4096, 0);     // beyond the end of the disc
  disc.Record(20, "FARDIR", 9000, 2048, 2);
  disc.Record(20, "NOPLACE.BIN;1", 0, 100, 0);     // data but no extent
  disc.Record(20, "EMPTY.BIN;1", 0, 0, 0);         // an empty file
  disc.Record(20, "A/B;1", 30, 10, 0);             // a name that is a path
  disc.Record(20, "..;1", 30, 10, 0);
  disc.Record(20, "HUGE", 40, 0xFFFFFFFF, 2);      // a directory "4 GiB" long
  disc.Dots(40, 20);
  // A chain deeper than any disc nests.
  disc.Record(20, "DEEP", 100, 2048, 2);
  for (uint32_t s = 100; s < 300; ++s) {
    disc.Dots(s, s - 1);
    disc.Record(s, "D", s + 1, 2048, 2);
  }
  // A record that claims more identifier than it holds ends its sector.
  disc.BadRecord(21, 40, 100);
  disc.Record(21, "AFTERBAD.TXT;1", 0, 0, 0);
  TMemorySource source(disc.Bytes());
  ASSERT_TRUE(Import(source));
  const auto tree = Tree();
  EXPECT_EQ(tree.count("EMPTY.BIN"), 1u);
  EXPECT_EQ(tree.count("NOPLACE.BIN"), 0u);
  EXPECT_EQ(tree.count("FAR.BIN"), 0u);
  EXPECT_EQ(tree.count("A_B."), 1u) << "a name without a dot gets one, as every added file";
  EXPECT_EQ(tree.count("LOOP/AFTERBAD.TXT"), 0u);
  EXPECT_EQ(tree.count("_.."), 1u);
  EXPECT_GE(Count("WAS MET BEFORE (A LOOP)"), 2);
  EXPECT_GE(Count("LIES BEYOND THE END OF THE DISC"), 2);
  EXPECT_EQ(Count("HAS DATA BUT NO PLACE ON THE DISC"), 1);
  EXPECT_EQ(Count("CANNOT BE USED AS IT IS"), 2);
  EXPECT_EQ(Count("DEEPER THAN ANY DISC NESTS"), 1);
  EXPECT_EQ(Count("MALFORMED DIRECTORY RECORD"), 1);
  for (const auto& line : Lines) EXPECT_TRUE(line.Type == 1 || line.Type == 4) << line.Text;
}

TEST_F(Readers, AFileInSeveralExtentsIsOneEntryAndExtractsWhole) {
  TCraftedDisc disc(64);
  disc.Descriptor(16, 1, 20);
  disc.Descriptor(17, 255);
  disc.Dots(20, 20);
  disc.Record(20, "BIG.BIN;1", 40, 2048, 0x80);
  disc.Record(20, "BIG.BIN;1", 41, 2048, 0x80);
  disc.Record(20, "BIG.BIN;1", 42, 100, 0);
  disc.Record(20, "GAP.BIN;1", 50, 2048, 0x80);   // the next extent does not follow
  disc.Record(20, "GAP.BIN;1", 60, 10, 0);
  disc.Fill(40, 'a', 2048);
  disc.Fill(41, 'b', 2048);
  disc.Fill(42, 'c', 100);
  TMemorySource source(disc.Bytes());
  ASSERT_TRUE(Import(source));
  const TFEntry* big = Rec.FindEntry(Rec.RootDirectory(), "BIG.BIN");
  ASSERT_NE(big, nullptr);
  EXPECT_EQ(big->ISOSize, 4196);
  EXPECT_EQ(big->ISOLocation, 40);
  EXPECT_EQ(Rec.FindEntry(Rec.RootDirectory(), "GAP.BIN"), nullptr);
  EXPECT_EQ(Count("DO NOT FOLLOW EACH OTHER"), 1);
  test::TTempFolder tmp;
  std::string error;
  ASSERT_TRUE(ExtractFileTo(source, *big, tmp.Path("big.bin"), nullptr, error)) << error;
  EXPECT_EQ(test::TTempFolder::Read(tmp.Path("big.bin")),
            std::string(2048, 'a') + std::string(2048, 'b') + std::string(100, 'c'));
}

TEST_F(Readers, ExtractionReadsThirtyOneSectorsAtATimeAndKeepsTheDate) {
  TCraftedDisc disc(300);
  disc.Descriptor(16, 1, 20);
  disc.Descriptor(17, 255);
  disc.Dots(20, 20);
  disc.Record(20, "F.BIN;1", 100, 100000, 0);
  disc.Record(20, "E.BIN;1", 0, 0, 0);
  for (uint32_t s = 100; s < 149; ++s) disc.Fill(s, static_cast<char>('0' + s % 10), 2048);
  TMemorySource source(disc.Bytes());
  ASSERT_TRUE(Import(source));
  test::TTempFolder tmp;
  std::string error;
  source.Reads.clear();
  ASSERT_TRUE(ExtractFileTo(source, *Rec.FindEntry(Rec.RootDirectory(), "F.BIN"), tmp.Path("f"), nullptr, error));
  EXPECT_EQ(source.Reads, (std::vector<std::pair<uint32_t, uint32_t>>{{100, 31}, {131, 18}}));
  EXPECT_EQ(test::TTempFolder::Read(tmp.Path("f")).size(), 100000u);
  ASSERT_TRUE(ExtractFileTo(source, *Rec.FindEntry(Rec.RootDirectory(), "E.BIN"), tmp.Path("e"), nullptr, error));
  struct stat st {};
  ASSERT_EQ(::stat(tmp.Path("e").c_str(), &st), 0);
  EXPECT_EQ(st.st_size, 0);
  TDateTime recorded = 0;
  ASSERT_TRUE(FileDateToDateTime(st.st_mtime, recorded));
  EXPECT_EQ(DecodeDateTime(recorded).Hour, 12) << "the recorded date, as local time";
  EXPECT_EQ(DecodeDateTime(recorded).Year, 2023);

  // A read that fails leaves no file that could pass for the whole one.
  TFEntry beyond = *Rec.FindEntry(Rec.RootDirectory(), "F.BIN");
  beyond.ISOLocation = 290;
  EXPECT_FALSE(ExtractFileTo(source, beyond, tmp.Path("cut"), nullptr, error));
  EXPECT_NE(::stat(tmp.Path("cut").c_str(), &st), 0);
  EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace fornax
