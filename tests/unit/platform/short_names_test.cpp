#include "engine/platform/short_names.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <set>
#include <stdexcept>
#include <string>
#include <unordered_set>
#include <vector>

#include "engine/platform/dir_listing.h"
#include "engine/platform/short_name_table.h"

namespace fornax {
namespace {

TNameTaken TakenFrom(const std::set<std::string>& names) {
  return [&names](const std::string& name) { return names.count(name) != 0; };
}

const TNameTaken kNothingTaken = [](const std::string&) { return false; };

TEST(ShortNameValid, AcceptsOnlyEightDotThreeOfDCharacters) {
  const std::pair<const char*, bool> cases[] = {
      {"readme.txt", true},       {"README", true},   {"A_1.b2", true},
      {"ABCDEFGH.IJK", true},     {"a.b.c", false},   {".bashrc", false},
      {"toolongname.txt", false}, {"x.html", false},  {"my file.txt", false},
      {"name.", false},           {"", false},        {"a-b", false},
      {"\xC3\xB1.txt", false}};
  for (const auto& [name, valid] : cases) EXPECT_EQ(IsShortNameValid(name), valid) << name;
  // Directory identifiers have no extension.
  EXPECT_TRUE(IsShortNameValid("docs", true));
  EXPECT_FALSE(IsShortNameValid("node.js", true));
}

TEST(ShortNameMake, SpellsTheAliasInDCharactersWithATail) {
  const std::pair<const char*, const char*> cases[] = {
      {"My Report 2024.docx", "MYREPO_1.DOC"},
      {"\xC3\xB1" "and\xC3\xBA.txt", "_AND__1.TXT"},  // one "_" per character, not per byte
      {".bashrc", "BASHRC_1"},
      {"archive.tar.gz", "ARCHIV_1.GZ"},
      {"...", "__1"},
      {"x.html", "X_1.HTM"},
      {"\xF0\x9F\x98\x80\xF0\x9F\x98\x80.txt", "___1.TXT"},
      {"a\xFF" "b", "A_B_1"}};
  for (const auto& [name, alias] : cases)
    EXPECT_EQ(MakeShortName(name, kNothingTaken), alias) << name;
  EXPECT_EQ(MakeShortName("release.v2", kNothingTaken, true), "RELEAS_1");
  EXPECT_EQ(MakeShortName("node.js", kNothingTaken, true), "NODEJS_1");
}

TEST(ShortNameMake, CountsTheTailUpAndCutsTheStemForWiderTails) {
  std::set<std::string> taken{"MYREPO_1.DOC"};
  EXPECT_EQ(MakeShortName("My Report.docx", TakenFrom(taken)), "MYREPO_2.DOC");
  for (int n = 2; n <= 9; ++n) taken.insert("MYREPO_" + std::to_string(n) + ".DOC");
  EXPECT_EQ(MakeShortName("My Report.docx", TakenFrom(taken)), "MYREP_10.DOC");
  EXPECT_THROW(MakeShortName("x y", [](const std::string&) { return true; }), std::length_error);
}

TEST(ShortNameUnique, KeepsTheExtensionAndMakesRoomForTheTail) {
  std::set<std::string> taken;
  struct Case { const char* name; bool directory; const char* expected; };
  const Case cases[] = {{"README.TXT", false, "README_1.TXT"},
                        {"ABCDEFGH.TXT", false, "ABCDEF_1.TXT"},
                        {"FILE", false, "FILE_1"},
                        {"LONGDIRNAME", true, "LONGDI_1"},
                        {"A.B", true, "A.B_1"}};
  for (const Case& c : cases)
    EXPECT_EQ(MakeUniqueShortName(c.name, c.directory, TakenFrom(taken)), c.expected) << c.name;

  for (int n = 1; n <= 9; ++n) taken.insert("README_" + std::to_string(n) + ".TXT");
  EXPECT_EQ(MakeUniqueShortName("README.TXT", false, TakenFrom(taken)), "READM_10.TXT");
  const TNameTaken belowAMillion = [](const std::string& name) {
    return std::stoul(name.substr(name.find('_') + 1)) < 1000000;
  };
  EXPECT_EQ(MakeUniqueShortName("README.TXT", false, belowAMillion), "_1000000.TXT");
}

TEST(ShortNameUnique, ASeriesOfOneBeginningResumesWhereItGotTo) {
  // Names of one beginning, as an imported photo folder brings them: each
  // gets the tail the plain search would give, and the probes stay linear.
  std::set<std::string> taken{"IMG_2023.JPG"};
  TTailHints hints;
  long probes = 0;
  const TNameTaken counting = [&](const std::string& name) {
    ++probes;
    return taken.count(name) != 0;
  };
  for (int n = 1; n <= 3000; ++n) {
    const std::string plain = MakeUniqueShortName("IMG_2023.JPG", false, TakenFrom(taken));
    const std::string hinted = MakeUniqueShortName("IMG_2023.JPG", false, counting, hints);
    ASSERT_EQ(hinted, plain) << n;
    taken.insert(hinted);
  }
  // Tail 2023 gives the name that was there first, so the series ends at 3001.
  EXPECT_EQ(taken.size(), 3001u);
  EXPECT_EQ(taken.count("IMG_3001.JPG"), 1u);
  EXPECT_LT(probes, 2 * 3000);
  // Another series keeps its own place.
  EXPECT_EQ(MakeUniqueShortName("OTHER.JPG", false, counting, hints), "OTHER_1.JPG");
}

TEST(PlatformLongName, RepairsWhatJolietCannotHold) {
  struct Case {
    const char* Name;
    const char* Expected;
    bool Replaced;  // a character lost, which the user must hear of
  };
  const Case cases[] = {
      {"plain.txt", "plain.txt", false},
      {"caf\xC3\xA9", "caf\xC3\xA9", false},
      {"caf\xE9", "caf\xC3\xA9", false},           // Latin-1 byte
      {"\xE2\x82", "\xC3\xA2\xC2\x82", false},     // cut-off sequence: each byte on its own
      {"\xC3\x01", "\xC3\x83_", true},             // a control byte where a sequence should go on
      {"a\\b", "a_b", true},
      {"tab\there\x7F\x01", "tab_here__", true}};
  for (const Case& c : cases) {
    EXPECT_EQ(MakeLongName(c.Name), c.Expected) << c.Name;
    EXPECT_EQ(LongNameReplacesCharacters(c.Name), c.Replaced) << c.Name;
  }
}

TEST(MaskMatch, UsesWindowsWildcardsWithoutRegardToCase) {
  struct Case { std::string name; const char* mask; bool matches; };
  const Case cases[] = {{"noext", "*.*", true},          {"x", "*", true},
                        {"Report.DOCX", "*.docx", true}, {"report.doc", "*.docx", false},
                        {"a.txt", "?.TXT", true},        {"ab.txt", "?.txt", false},
                        {"\xC3\xA9.txt", "?.txt", true}, {"\xC3\x91" "and", "\xC3\xB1*", true},
                        {"abcbc", "a*bc", true},         {"abcb", "a*bc", false},
                        {std::string(40, 'a'), "*a*a*a*a*a*a*a*a*a*a*b", false}};
  for (const Case& c : cases)
    EXPECT_EQ(MatchesMask(c.name, c.mask), c.matches) << c.name << " " << c.mask;
}

TEST(ShortNameTable, GivesWhatMakeShortNameGivesEvenWhereSeriesOverlap) {
  // "ABCDEF.." and "ABCDE_.." series meet at ABCDE_10.TXT.
  TShortNameTable table;
  std::set<std::string> taken{"ABCDEF_3.TXT"};
  table.Reserve("ABCDEF_3.TXT");
  for (int i = 0; i < 150; ++i) {
    const std::string number = std::to_string(i);
    for (const std::string& name : {"abcdef g" + number + ".txt", "abcde-" + number + ".txt"}) {
      const std::string expected = MakeShortName(name, TakenFrom(taken));
      taken.insert(expected);
      ASSERT_EQ(table.Alias(name), expected) << name;
    }
  }
}

TEST(ShortNameTable, FolderAliasesIgnoreListingOrderAndStayLinear) {
  std::vector<std::string> names{"ab c.txt", "abc_1.txt", "a bc.txt"};
  const TFolderShortNames first = AssignShortNames(names);
  std::reverse(names.begin(), names.end());
  EXPECT_EQ(AssignShortNames(names), first);
  EXPECT_EQ(first.at("abc_1.txt"), "");
  EXPECT_EQ(first.at("a bc.txt"), "ABC_2.TXT");  // byte order: ' ' before 'b'
  EXPECT_EQ(first.at("ab c.txt"), "ABC_3.TXT");

  names.clear();
  for (int i = 0; i < 100000; ++i) names.push_back("My Long File " + std::to_string(i) + ".txt");
  const auto start = std::chrono::steady_clock::now();
  const TFolderShortNames many = AssignShortNames(names);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  std::unordered_set<std::string> distinct;
  for (const auto& entry : many) distinct.insert(entry.second);
  EXPECT_EQ(distinct.size(), names.size());
}

}  // namespace
}  // namespace fornax
