#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/scoped_time_zone.h"
#include "engine/base/bytes.h"
#include "engine/image/el_torito.h"
#include "engine/image/iso_names.h"
#include "engine/image/iso_records.h"

namespace fornax {
namespace {

std::string Text(const uint8_t* p, size_t n) { return std::string(reinterpret_cast<const char*>(p), n); }

TEST(IsoRecords, DirectoryRecordBytes) {
  TDirectoryRecord r;
  r.Extent = 0x01020304;
  r.DataLength = 2048;
  r.Date = EncodeDateTime({2024, 2, 29, 13, 45, 59, 0});
  r.TimeZone = -20;  // UTC-5
  r.Flags = kFlagDirectory | kFlagHidden;
  r.Identifier = "DOCS";
  std::vector<uint8_t> out;
  AppendDirectoryRecord(out, r);
  ASSERT_EQ(out.size(), 38u);  // 33 + 4 + pad
  const std::vector<uint8_t> expected = {
      38, 0, 4, 3, 2, 1, 1, 2, 3, 4,          // length, extent both-endian
      0, 8, 0, 0, 0, 0, 8, 0,                 // data length
      124, 2, 29, 13, 45, 59, 0xEC,           // date, offset -20
      3, 0, 0, 1, 0, 0, 1, 4, 'D', 'O', 'C', 'S', 0};
  EXPECT_EQ(out, expected);

  r.Identifier = "A;1";  // odd length: no pad byte
  out.clear();
  AppendDirectoryRecord(out, r);
  EXPECT_EQ(out.size(), 36u);
  EXPECT_EQ(out[0], 36);
}

TEST(IsoRecords, PathTableRecordsInBothByteOrders) {
  std::vector<uint8_t> little, big;
  AppendPathTableRecord(little, "ABC", 0x11223344, 0x0102, false);
  AppendPathTableRecord(big, "ABCD", 0x11223344, 0x0102, true);
  EXPECT_EQ(little, (std::vector<uint8_t>{3, 0, 0x44, 0x33, 0x22, 0x11, 0x02, 0x01, 'A', 'B', 'C', 0}));
  EXPECT_EQ(big, (std::vector<uint8_t>{4, 0, 0x11, 0x22, 0x33, 0x44, 0x01, 0x02, 'A', 'B', 'C', 'D'}));
}

TEST(IsoRecords, PrimaryDescriptorFields) {
  TVolumeIdentifiers ids;
  ids.Volume = "my disc";
  ids.System = "linux";
  ids.Publisher = "p";
  ids.Copyright = "copy.txt";
  TDescriptorPlan plan{151, 10, 19, 20, 23, 2048};
  const TSector s = PrimaryVolumeDescriptor(ids, plan, EncodeDateTime({2025, 1, 2, 3, 4, 5, 670}));
  EXPECT_EQ(s[0], 1);
  EXPECT_EQ(Text(&s[1], 5), "CD001");
  EXPECT_EQ(s[6], 1);
  EXPECT_EQ(s[7], 0);
  EXPECT_EQ(Text(&s[8], 32), "LINUX" + std::string(27, ' '));
  EXPECT_EQ(Text(&s[40], 32), "MY DISC" + std::string(25, ' '));
  EXPECT_EQ(GetLe32(&s[80]), 151u);
  EXPECT_EQ(GetBe32(&s[84]), 151u);
  EXPECT_EQ(GetLe16(&s[120]), 1);
  EXPECT_EQ(GetBe16(&s[126]), 1);
  EXPECT_EQ(GetLe16(&s[128]), 2048);
  EXPECT_EQ(GetBe32(&s[136]), 10u);
  EXPECT_EQ(GetLe32(&s[140]), 19u);
  EXPECT_EQ(GetLe32(&s[144]), 0u);
  EXPECT_EQ(GetBe32(&s[148]), 20u);
  EXPECT_EQ(s[156], 34);
  EXPECT_EQ(GetLe32(&s[158]), 23u);
  EXPECT_EQ(GetBe32(&s[170]), 2048u);
  for (int i = 174; i < 181; ++i) EXPECT_EQ(s[i], 0) << "the root record carries no date";
  EXPECT_EQ(s[181], 2);
  EXPECT_EQ(s[188], 1);
  EXPECT_EQ(s[189], 0);
  EXPECT_EQ(Text(&s[318], 128), "P" + std::string(127, ' '));
  EXPECT_EQ(Text(&s[702], 37), "COPY.TXT" + std::string(29, ' '));
  EXPECT_EQ(Text(&s[813], 17), std::string("2025010203040567") + '\0');
  EXPECT_EQ(Text(&s[847], 17), std::string("0000000000000000") + '\0');
  EXPECT_EQ(Text(&s[864], 17), std::string("0000000000000000") + '\0');
  EXPECT_EQ(s[881], 1);
  EXPECT_EQ(Text(&s[1024], 8), std::string(8, ' '));
  EXPECT_EQ(s[1032], 0);
}

TEST(IsoRecords, PrimaryDescriptorIdentifiersHoldOnlyACharacters) {
  TVolumeIdentifiers ids;
  ids.Volume = "Fotos A\xC3\xB1o 2024 #1 {copia}";
  ids.System = "linux@x86_64";
  ids.VolumeSet = "set \"a\" % & ' ( ) * + , - . / : ; < = > ?";
  ids.Publisher = "Ana N\xC3\xBA\xC3\xB1" "ez \xF0\x9F\x93\xB7";  // an emoji is one character too
  ids.Preparer = "tab\there\x7F";
  ids.Application = std::string(40, 'a') + "\xC3\xB1";
  ids.Copyright = "copy.txt";
  const TSector s = PrimaryVolumeDescriptor(ids, TDescriptorPlan{151, 10, 19, 20, 23, 2048}, 45000.0);
  EXPECT_EQ(Text(&s[40], 32), "FOTOS A_O 2024 _1 _COPIA_" + std::string(7, ' '));
  EXPECT_EQ(Text(&s[8], 32), "LINUX_X86_64" + std::string(20, ' '));
  const std::string punctuation = "SET \"A\" % & ' ( ) * + , - . / : ; < = > ?";
  EXPECT_EQ(Text(&s[190], 128), punctuation + std::string(128 - punctuation.size(), ' '));
  EXPECT_EQ(Text(&s[318], 128), "ANA N__EZ _" + std::string(117, ' '));
  EXPECT_EQ(Text(&s[446], 128), "TAB_HERE_" + std::string(119, ' '));
  EXPECT_EQ(Text(&s[574], 128), std::string(40, 'A') + "_" + std::string(87, ' '));
  EXPECT_EQ(Text(&s[702], 37), "COPY.TXT" + std::string(29, ' '));

  // A label longer than the field is cut at 32 characters, not bytes.
  ids.Volume = std::string(30, 'x') + "\xC3\xB1\xC3\xB1\xC3\xB1";
  const TSector cut = PrimaryVolumeDescriptor(ids, TDescriptorPlan{}, 45000.0);
  EXPECT_EQ(Text(&cut[40], 32), std::string(30, 'X') + "__");
  // The Joliet descriptor keeps the label whole.
  ids.Volume = "Fotos A\xC3\xB1o";
  EXPECT_EQ(Text(&JolietVolumeDescriptor(ids, TDescriptorPlan{})[40], 20), JolietBytes("Fotos A\xC3\xB1o "));
}

TEST(IsoRecords, DescriptorDatesCarryTheOffsetOfTheirOwnDate) {
  test::TScopedTimeZone zone("Europe/Madrid");
  const TDateTime july = EncodeDateTime({2024, 7, 15, 14, 0, 0, 0});
  const TDateTime december = EncodeDateTime({2024, 12, 15, 13, 0, 0, 0});
  ASSERT_TRUE(test::ZoneIsKnown(UnixFromLocalDateTime(july), 120));
  const TDescriptorPlan plan{151, 10, 19, 20, 23, 2048};
  for (const auto& [date, offset] : {std::pair{july, 8}, std::pair{december, 4}}) {
    const TSector s = PrimaryVolumeDescriptor(TVolumeIdentifiers{}, plan, date);
    EXPECT_EQ(static_cast<int8_t>(s[813 + 16]), offset) << "creation";
    EXPECT_EQ(static_cast<int8_t>(s[830 + 16]), offset) << "modification";
    EXPECT_EQ(s[847 + 16], 0) << "no expiration date";
    EXPECT_EQ(s[864 + 16], 0) << "no effective date";
  }
  TVolumeIdentifiers ids;
  ids.JolietCreation = december;
  ids.JolietModification = july;
  const TSector j = JolietVolumeDescriptor(ids, plan);
  EXPECT_EQ(Text(&j[813], 16), "2024121513000000");
  EXPECT_EQ(j[813 + 16], 4);
  EXPECT_EQ(Text(&j[830], 16), "2024071514000000");
  EXPECT_EQ(j[830 + 16], 8);
}

TEST(IsoRecords, JolietDescriptorTextsAreUtf16) {
  test::TScopedTimeZone utc("UTC");  // the offset of 1899 differs from zone to zone
  TVolumeIdentifiers ids;
  ids.Volume = "Año";
  ids.Copyright = "a-copyright-file-name.txt";  // longer than 18 characters: cut
  ids.JolietCreation = 0;
  TDescriptorPlan plan{151, 10, 21, 22, 24, 2048};
  const TSector s = JolietVolumeDescriptor(ids, plan);
  EXPECT_EQ(s[0], 2);
  EXPECT_EQ(Text(&s[88], 3), "\x25\x2F\x40");
  EXPECT_EQ(Text(&s[40], 8), std::string("\0A\0\xF1\0o\0 ", 8));
  EXPECT_EQ(s[70], 0);
  EXPECT_EQ(s[71], ' ');
  EXPECT_EQ(Text(&s[702], 36), JolietBytes("a-copyright-file-n"));
  EXPECT_EQ(s[738], 0);
  EXPECT_EQ(GetLe32(&s[140]), 21u);
  EXPECT_EQ(GetLe32(&s[158]), 24u);
  EXPECT_EQ(Text(&s[813], 17), std::string("1899123000000000") + '\0');
}

TEST(IsoRecords, TerminatorAndBootRecord) {
  const TSector t = TerminatorDescriptor();
  EXPECT_EQ(t[0], 255);
  EXPECT_EQ(Text(&t[1], 6), "CD001\x01");
  for (size_t i = 7; i < t.size(); ++i) ASSERT_EQ(t[i], 0);

  const TSector b = BootRecordDescriptor(0x12345);
  EXPECT_EQ(b[0], 0);
  EXPECT_EQ(Text(&b[1], 6), "CD001\x01");
  EXPECT_EQ(Text(&b[7], 32), "EL TORITO SPECIFICATION" + std::string(9, '\0'));
  EXPECT_EQ(GetLe32(&b[71]), 0x12345u);
  EXPECT_EQ(b[39], 0);
}

TEST(ElTorito, CatalogChecksumAndEntry) {
  const TSector c = BootCatalog(720, 148);
  uint16_t sum = 0;
  for (int i = 0; i < 32; i += 2) sum = static_cast<uint16_t>(sum + GetLe16(&c[i]));
  EXPECT_EQ(sum, 0);
  EXPECT_EQ(c[0], 1);
  EXPECT_EQ(c[1], 0);
  EXPECT_EQ(Text(&c[4], 24), "Vesta" + std::string(19, '\0'));
  EXPECT_EQ(c[30], 0x55);
  EXPECT_EQ(c[31], 0xAA);
  EXPECT_EQ(c[32], 0x88);
  EXPECT_EQ(c[33], 2);
  EXPECT_EQ(GetLe16(&c[34]), 0);
  EXPECT_EQ(GetLe16(&c[38]), 1);
  EXPECT_EQ(GetLe32(&c[40]), 148u);
  EXPECT_EQ(BootMediaType(600), 1);
  EXPECT_EQ(BootMediaType(1440), 3);
  EXPECT_EQ(BootMediaType(721), 4);
}

TEST(IsoNames, IdentifiersAndTheirLimits) {
  // Joliet files take 108 characters, ";1" included 110; folders 110.
  EXPECT_TRUE(NamesFitRecord("A.TXT", std::string(104, 'x') + ".txt", false));
  EXPECT_EQ(DirectoryRecordLength(2 * 110), 254u);
  EXPECT_FALSE(NamesFitRecord("A.TXT", std::string(105, 'x') + ".txt", false));
  EXPECT_TRUE(NamesFitRecord("A", std::string(110, 'x'), true));
  EXPECT_FALSE(NamesFitRecord("A", std::string(111, 'x'), true));
  EXPECT_TRUE(NamesFitRecord(std::string(219, 'X'), "x", false));
  EXPECT_FALSE(NamesFitRecord(std::string(220, 'X'), "x", false));
  // A character outside the 16-bit range takes two Joliet characters.
  EXPECT_FALSE(NamesFitRecord("A", std::string(109, 'x') + "\xF0\x9F\x98\x80", true));
  EXPECT_EQ(JolietBytes("a\xF0\x9F\x98\x80"), std::string("\0a\xD8\x3D\xDE\x00", 6));
}

}  // namespace
}  // namespace fornax
