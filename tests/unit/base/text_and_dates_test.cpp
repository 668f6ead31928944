#include <gtest/gtest.h>

#include "base/scoped_time_zone.h"
#include "engine/base/date_time.h"
#include "engine/base/text.h"

namespace fornax {
namespace {

TEST(Text, Utf16OfEveryKindOfCharacter) {
  EXPECT_EQ(Utf8ToUtf16("añ€"), (std::u16string{u'a', u'\u00F1', u'\u20AC'}));
  EXPECT_EQ(Utf8ToUtf16("\xF0\x9F\x98\x80"), (std::u16string{0xD83D, 0xDE00}));
  EXPECT_EQ(Utf16Length("a\xF0\x9F\x98\x80"), 3u);
  // Bytes that are not UTF-8 stand for their Latin-1 characters.
  EXPECT_EQ(Utf8ToUtf16("a\xF1z"), (std::u16string{u'a', u'\u00F1', u'z'}));
  EXPECT_EQ(Utf8ToUtf16("\xE2\x82"), (std::u16string{0xE2, 0x82})) << "a cut sequence";
  EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), (std::u16string{0xC0, 0xAF})) << "an overlong form";
  EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16("ñandú \xF0\x9F\x98\x80")), "ñandú \xF0\x9F\x98\x80");
}

TEST(Text, UpperCaseCoversLettersBeyondAscii) {
  EXPECT_EQ(UpperCase("ñandú.txt"), "ÑANDÚ.TXT");
  EXPECT_EQ(UpperCase("straße"), "STRAßE") << "no letter is made of two";
  EXPECT_EQ(UpperCase("a\xF1"), "A\xF1") << "stray bytes stay as they are";
  EXPECT_EQ(UpperAscii("ñandú"), "ñANDú");
  EXPECT_TRUE(SameTextIgnoringCase("Ñandú", "ñANDÚ"));
}

TEST(Text, PrintableTextShowsControlCharactersAsCodes) {
  EXPECT_EQ(PrintableText("tab\there\nnew\x1B[31m\x7F"), "tab\\x09here\\x0Anew\\x1B[31m\\x7F");
  EXPECT_EQ(PrintableText("a\\b a\xC3\xB1o \xF1"), "a\\b a\xC3\xB1o \xF1") << "everything else as it is";
}

TEST(Dates, EncodeAndDecodeAgree) {
  const TDateTimeParts parts{2024, 2, 29, 23, 59, 59, 999};
  const TDateTimeParts back = DecodeDateTime(EncodeDateTime(parts));
  EXPECT_EQ(back.Year, 2024);
  EXPECT_EQ(back.Month, 2);
  EXPECT_EQ(back.Day, 29);
  EXPECT_EQ(back.Second, 59);
  EXPECT_EQ(back.Millisecond, 999);
  EXPECT_DOUBLE_EQ(EncodeDateTime({1899, 12, 30, 0, 0, 0, 0}), 0.0);
  EXPECT_DOUBLE_EQ(EncodeDateTime({1970, 1, 1, 12, 0, 0, 0}), 25569.5);
  EXPECT_EQ(FormatDescriptorDigits(EncodeDateTime({2025, 12, 31, 1, 2, 3, 450})), "2025123101020345");
  // A value a hair below midnight still belongs to its day.
  EXPECT_EQ(DecodeDateTime(45000.0 - 1e-10).Day, DecodeDateTime(45000.0).Day);
}

TEST(Dates, FileDatesConvertInsideTheRecordRange) {
  TDateTime value = 0;
  ASSERT_TRUE(FileDateToDateTime(0, value));
  EXPECT_EQ(UnixFromLocalDateTime(value), 0);
  ASSERT_TRUE(FileDateToDateTime(1700000000, value));
  EXPECT_EQ(UnixFromLocalDateTime(value), 1700000000);
  EXPECT_FALSE(FileDateToDateTime(-3000000000LL, value)) << "before 1900";
  EXPECT_FALSE(FileDateToDateTime(6000000000LL, value)) << "after 2155";
}

TEST(Dates, EachLocalDateHasTheOffsetInForceOnIt) {
  struct Case {
    const char* Zone;
    int July, December;  // quarter hours east of UTC
  };
  // Noon UTC on 2024-07-15 and on 2024-12-15.
  constexpr int64_t kJuly = 1721044800, kDecember = 1734264000;
  const Case zones[] = {{"Europe/Madrid", 8, 4},
                        {"America/New_York", -16, -20},
                        {"Australia/Sydney", 40, 44},
                        {"Asia/Kathmandu", 23, 23}};  // 5:45 all year
  for (const Case& c : zones) {
    test::TScopedTimeZone zone(c.Zone);
    ASSERT_TRUE(test::ZoneIsKnown(kJuly, c.July * 15));
    EXPECT_EQ(LocalUtcOffsetQuarterHours(LocalDateTimeFromUnix(kJuly)), c.July) << c.Zone;
    EXPECT_EQ(LocalUtcOffsetQuarterHours(LocalDateTimeFromUnix(kDecember)), c.December) << c.Zone;
  }
}

}  // namespace
}  // namespace fornax
