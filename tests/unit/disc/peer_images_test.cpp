#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>

#include "engine/disc/extraction.h"
#include "engine/disc/session_import.h"
#include "support/recorder_fixture.h"
#include "support/temp_folder.h"

namespace fornax {
namespace {

// Images made by other tools, single and multisession, read by our readers.
class PeerImages : public test::RecorderTest {
 protected:
  PeerImages() {
    Tmp.Write("a/one.txt", "one\n");
    Tmp.Write("a/deeper/down.txt", std::string(70000, 'x'));
    Tmp.Write("b/two.txt", "two\n");
    Tmp.Write("b/Mixed Case Name.text", "m");
  }
  static bool Have(const char* tool) {
    return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
  }
  void Run(const std::string& command) { ASSERT_EQ(std::system(("{ " + command + "; } >/dev/null 2>&1").c_str()), 0) << command; }
  std::map<std::string, int64_t> Imported(TSessionSource& source, int session) {
    Rec.ClearCompilation(65535, 8191);
    EXPECT_TRUE(ImportSession(source, Rec.Compilation(), session, nullptr, nullptr));
    std::map<std::string, int64_t> out;
    Walk(Rec.RootDirectory(), "", out);
    return out;
  }
  static void Walk(const TDEntry* dir, const std::string& prefix, std::map<std::string, int64_t>& out) {
    for (const TFEntry* e = dir->FirstEntry; e; e = e->Next) {
      if (e->IsDirectory()) Walk(e->Directory, prefix + e->LongName + "/", out);
      else out[prefix + e->LongName] = e->ISOSize;
    }
  }
  std::string Extracted(TSessionSource& source, const std::string& path) {
    const TFEntry* entry = nullptr;
    const TDEntry* dir = Rec.RootDirectory();
    for (size_t start = 0; start < path.size();) {
      const size_t end = std::min(path.find('/', start), path.size());
      entry = Rec.FindEntry(dir, path.substr(start, end - start));
      if (!entry) return "(missing)";
      dir = entry->Directory;
      start = end + 1;
    }
    std::string error;
    if (!ExtractFileTo(source, *entry, Tmp.Path("out"), nullptr, error)) return "(failed: " + error + ")";
    return test::TTempFolder::Read(Tmp.Path("out"));
  }
  test::TTempFolder Tmp;
};

TEST_F(PeerImages, GenisoimageSingleAndTwoSessions) {
  if (!Have("genisoimage")) GTEST_SKIP() << "genisoimage is not installed";
  Run("genisoimage -quiet -J -R -o " + Tmp.Path("g1.iso") + " " + Tmp.Path("a"));
  TImageFileSource one(Tmp.Path("g1.iso"));
  EXPECT_EQ(Imported(one, 1), (std::map<std::string, int64_t>{{"deeper/down.txt", 70000}, {"one.txt", 4}}));
  EXPECT_EQ(Extracted(one, "deeper/down.txt"), std::string(70000, 'x'));

  // The second session, laid out to follow the first, merges its tree.
  std::ifstream first(Tmp.Path("g1.iso"), std::ios::binary | std::ios::ate);
  const long sectors = static_cast<long>(first.tellg()) / 2048;
  Run("genisoimage -quiet -J -R -C 0," + std::to_string(sectors) + " -M " + Tmp.Path("g1.iso") + " -o " +
      Tmp.Path("g2.iso") + " " + Tmp.Path("b"));
  Run("cat " + Tmp.Path("g1.iso") + " " + Tmp.Path("g2.iso") + " > " + Tmp.Path("two.iso"));
  TImageFileSource two(Tmp.Path("two.iso"), {0, static_cast<uint32_t>(sectors)});
  EXPECT_EQ(Imported(two, 255), (std::map<std::string, int64_t>{{"Mixed Case Name.text", 1},
                                                                 {"deeper/down.txt", 70000},
                                                                 {"one.txt", 4},
                                                                 {"two.txt", 4}}));
  EXPECT_EQ(Extracted(two, "two.txt"), "two\n");
  EXPECT_EQ(Extracted(two, "one.txt"), "one\n") << "an older file, where the first session left it";
  EXPECT_EQ(Imported(two, 1).size(), 2u);
}

TEST_F(PeerImages, XorrisoAppendedSessions) {
  if (!Have("xorriso")) GTEST_SKIP() << "xorriso is not installed";
  const std::string image = Tmp.Path("x.iso");
  Run("xorriso -dev " + image + " -joliet on -map " + Tmp.Path("a") + " /a -commit");
  Run("xorriso -dev " + image + " -joliet on -map " + Tmp.Path("b") + " /b -commit");
  // Where the sessions start, as xorriso itself reports them.
  std::vector<uint32_t> starts;
  FILE* toc = ::popen(("xorriso -indev " + image + " -toc 2>&1").c_str(), "r");
  char line[512];
  while (toc && std::fgets(line, sizeof line, toc)) {
    unsigned number = 0, start = 0;
    if (std::sscanf(line, "ISO session : %u , %u ,", &number, &start) == 2) starts.push_back(start);
  }
  if (toc) ::pclose(toc);
  ASSERT_EQ(starts.size(), 2u);
  TImageFileSource source(image, starts);
  EXPECT_EQ(Imported(source, 255), (std::map<std::string, int64_t>{{"a/deeper/down.txt", 70000},
                                                                   {"a/one.txt", 4},
                                                                   {"b/Mixed Case Name.text", 1},
                                                                   {"b/two.txt", 4}}));
  EXPECT_EQ(Extracted(source, "a/deeper/down.txt"), std::string(70000, 'x'));
  EXPECT_EQ(Imported(source, 1), (std::map<std::string, int64_t>{{"a/deeper/down.txt", 70000}, {"a/one.txt", 4}}));
}

}  // namespace
}  // namespace fornax
