// Extraction cannot leave the folder it was given: whatever names the disc
// holds and whatever links that folder already holds, nothing outside it is
// made, changed or read through a link, and a file appears only whole.

#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "engine/disc/extraction.h"
#include "engine/disc/local_names.h"
#include "support/folder_snapshot.h"
#include "support/recorder_fixture.h"
#include "support/temp_folder.h"

namespace fornax {
namespace {

constexpr uint32_t kData = 20;  // the sector every file of these discs lies on
const std::string kDiscBytes = "bytes of the disc";

TEST(LocalNames, EveryNameIsCheckedAfterItsFinalDotGoes) {
  const struct {
    const char* disc;
    const char* local;  // "" when refused
  } rows[] = {
      {"README.", "README"}, {"a.b.", "a.b"}, {"x..", "x."}, {".hidden.", ".hidden"}, {"...", "..."},
      {"....", "...."}, {". .", ". "}, {"..", ""}, {".", ""}, {"", ""}, {"a/b", ""}, {"/", ""},
      {"ok\0no", ""}, {"fine.txt", "fine.txt"},
  };
  for (const auto& row : rows) {
    const std::string disc = std::string(row.disc) == "ok\0no" ? std::string("ok\0no", 5) : row.disc;
    EXPECT_EQ(LocalFileName(disc), row.local) << "'" << row.disc << "'";
    // Whatever it gives is one component that stays in its folder.
    const std::string local = LocalFileName(disc);
    if (!local.empty()) EXPECT_TRUE(IsSafeLocalComponent(local)) << local;
  }
}

class Extraction : public test::RecorderTest {
 protected:
  Extraction() : Source(DiscImage()) {
    Destination = Box.Path("l1/l2/l3/OUT");
    Box.Write("victim/target.txt", "the user's own file");
    Box.Write("outside/kept.txt", "outside");
    Box.Folder("l1/l2/l3");
  }
  static std::vector<uint8_t> DiscImage() {
    std::vector<uint8_t> bytes(40 * 2048, 0);
    std::copy(kDiscBytes.begin(), kDiscBytes.end(), bytes.begin() + kData * 2048);
    return bytes;
  }
  TDEntry* Folder(TDEntry* parent, const std::string& name) {
    return Rec.Compilation().AddDirectoryByName(parent ? parent : Rec.RootDirectory(), name, 0x10);
  }
  void File(TDEntry* folder, const std::string& name, uint32_t extent = kData) {
    TSearchRec listing = FileListing(name, static_cast<int64_t>(kDiscBytes.size()));
    ASSERT_TRUE(Rec.Compilation().AddEntry(folder ? folder : Rec.RootDirectory(), listing, "",
                                           static_cast<int32_t>(extent), false))
        << name;
  }
  TTreeExtraction Extract() {
    std::string error;
    const TExtractionFolder folder = TExtractionFolder::OpenDestination(Destination, error);
    EXPECT_TRUE(folder.Opened()) << error;
    TTreeExtraction result;
    if (folder.Opened()) ExtractTree(Source, *Rec.RootDirectory(), folder, nullptr, result);
    return result;
  }
  test::TFolderSnapshot Outside() const { return test::SnapshotFolder(Box.Root(), "l1/l2/l3/OUT"); }
  std::vector<std::string> Leftovers() const {
    std::vector<std::string> found;
    for (const auto& [path, what] : test::SnapshotFolder(Destination))
      if (path.find(".fornax-extract-") != std::string::npos) found.push_back(path);
    return found;
  }

  test::TTempFolder Box;
  std::string Destination;
  TMemorySource Source;
};

// A chain of folders of each name a disc may hold, "victim/target.txt" at
// its end: a name that climbed would overwrite the user's file.
TEST_F(Extraction, NamesOfTheDiscNeverLeadOutOfTheFolder) {
  for (const std::string name : {"...", "....", "..", ".", ". .", "a/b", "..;1", "README."}) {
    SCOPED_TRACE(name);
    Rec.ClearCompilation(100, 100);
    TDEntry* at = nullptr;
    for (int level = 0; level < 4; ++level) {
      TDEntry* next = Folder(at, name);
      if (!next) break;  // a name the compilation itself refuses
      at = next;
    }
    File(Folder(at, "victim"), "target.txt");
    std::filesystem::remove_all(Destination);
    const test::TFolderSnapshot before = Outside();
    const TTreeExtraction result = Extract();
    EXPECT_EQ(Outside(), before) << "nothing outside the destination changed";
    const std::string local = at ? LocalFileName(at->Self->LongName) : "";
    if (!at || !local.empty()) {
      std::string path = Destination;
      for (const TDEntry* d = at; d && d != Rec.RootDirectory(); d = d->Parent) path += "/" + local;
      EXPECT_EQ(test::TTempFolder::Read(path + "/victim/target.txt"), kDiscBytes);
      EXPECT_EQ(result.Files, 1);
    } else {
      EXPECT_EQ(result.Files, 0);
      ASSERT_EQ(result.Failures.size(), 1u);
      EXPECT_NE(result.Failures[0].find("not safe as a local file name"), std::string::npos) << result.Failures[0];
    }
  }
}

TEST_F(Extraction, LinksInTheFolderAreNeitherFollowedNorWrittenThrough) {
  std::filesystem::create_directories(Destination);
  ASSERT_EQ(::symlink(Box.Path("outside").c_str(), (Destination + "/victim").c_str()), 0);
  ASSERT_EQ(::symlink(Box.Path("outside/kept.txt").c_str(), (Destination + "/target.txt").c_str()), 0);
  File(Folder(nullptr, "victim"), "kept.txt");
  File(nullptr, "target.txt");
  const test::TFolderSnapshot before = Outside();
  const TTreeExtraction result = Extract();
  EXPECT_EQ(Outside(), before);
  ASSERT_EQ(result.Failures.size(), 1u);
  EXPECT_NE(result.Failures[0].find("is a symbolic link"), std::string::npos) << result.Failures[0];
  // The link that stood where a file goes is replaced, not written through.
  struct stat st {};
  ASSERT_EQ(::lstat((Destination + "/target.txt").c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(test::TTempFolder::Read(Destination + "/target.txt"), kDiscBytes);
}

TEST_F(Extraction, AFileAppearsOnlyWholeAndTwoEntriesNeverShareALocalName) {
  Box.Write("l1/l2/l3/OUT/old.bin", "what the user had");
  File(nullptr, "old.bin", 45);  // beyond the end of the disc
  // The compilation keeps such names apart itself; a disc read by other
  // rules might not.
  File(nullptr, "other");
  File(nullptr, "same");
  TFEntry* other = Rec.FindEntry(Rec.RootDirectory(), "other");
  ASSERT_NE(other, nullptr);
  other->LongName = "same.";
  const TTreeExtraction result = Extract();
  EXPECT_EQ(test::TTempFolder::Read(Destination + "/old.bin"), "what the user had") << "kept when the read fails";
  EXPECT_EQ(test::TTempFolder::Read(Destination + "/same"), kDiscBytes);
  EXPECT_EQ(result.Files, 1);
  ASSERT_EQ(result.Failures.size(), 2u);
  EXPECT_NE(result.Failures[1].find("another entry of the disc already took that name"), std::string::npos);
  EXPECT_EQ(Leftovers(), std::vector<std::string>{}) << "no unfinished file stays behind";
}

}  // namespace
}  // namespace fornax
