// A session written with Rock Ridge and imported again: the new compilation
// keeps the whole names, modes, owners, times and links when it records Rock
// Ridge itself, and sees the Joliet tree as before when it does not.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "engine/base/text.h"
#include "engine/disc/session_import.h"
#include "support/recorder_fixture.h"
#include "support/temp_folder.h"

namespace fornax {
namespace {

const std::string kLongName = "a-name-the-joliet-tree-cannot-hold-" + std::string(130, 'q') + ".txt";
std::string LongTarget() {
  std::string target;
  for (int i = 0; i < 50; ++i) target += "../step-" + std::to_string(i) + "/";
  return target + "end";
}

class RockRidgeImport : public test::RecorderTest {
 protected:
  void SetUp() override {
    const std::string secret = Tmp.Write("secret.txt", "secret");
    ::chmod(secret.c_str(), 0600);
    const struct timespec times[2] = {{1000000000, 0}, {981173106, 0}};
    ::utimensat(AT_FDCWD, secret.c_str(), times, 0);
    Tmp.Write("docs/" + kLongName, "long");
    ASSERT_EQ(::symlink("docs", Tmp.Path("to-docs").c_str()), 0);
    ASSERT_EQ(::symlink(LongTarget().c_str(), Tmp.Path("docs/far").c_str()), 0);
    Image = Tmp.Path("../" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + ".iso");
    Rec.RockRidge = true;
    ASSERT_TRUE(Rec.AddDirectoryTree(Rec.RootDirectory(), Tmp.Root(), "*.*", faAnyFile, true, false, false));
    Rec.BuildISOFile(Image, true);
  }
  void TearDown() override { ::unlink(Image.c_str()); }

  // The image imported into a fresh engine.
  void Import(TQzRecorder& into) {
    TImageFileSource source(Image);
    ASSERT_TRUE(ImportSession(source, into.Compilation(), 255, nullptr, nullptr));
  }

  test::TTempFolder Tmp;
  std::string Image;
};

TEST_F(RockRidgeImport, KeepsWholeNamesModesTimesAndLinks) {
  TQzRecorder next;
  next.RockRidge = true;
  Import(next);
  const TFEntry* secret = next.FindEntry(next.RootDirectory(), "secret.txt");
  ASSERT_NE(secret, nullptr);
  ASSERT_TRUE(secret->Posix);
  EXPECT_EQ(secret->Posix.Mode, S_IFREG | 0600u);
  EXPECT_EQ(secret->Posix.Modified, 981173106);
  EXPECT_EQ(secret->Posix.Accessed, 1000000000);
  EXPECT_EQ(secret->Posix.Uid, ::geteuid());
  EXPECT_TRUE(secret->Imported);

  const TFEntry* link = next.FindEntry(next.RootDirectory(), "to-docs.");
  ASSERT_NE(link, nullptr);
  ASSERT_TRUE(link->IsSymbolicLink());
  EXPECT_EQ(link->Posix.LinkTarget(), "docs");
  EXPECT_EQ(link->PosixName(), "to-docs");
  EXPECT_EQ(link->ISOSize, 0);

  const TDEntry* docs = next.FindDirectory("\\DOCS");
  ASSERT_NE(docs, nullptr);
  bool sawLong = false, sawFar = false;
  for (const TFEntry* e = docs->FirstEntry; e; e = e->Next) {
    ASSERT_TRUE(e->Posix);
    if (e->PosixName() == kLongName) {
      sawLong = true;
      EXPECT_EQ(Utf16Length(e->LongName), 108u) << "cut for the Joliet tree";
    }
    if (e->PosixName() == "far") {
      sawFar = true;
      EXPECT_EQ(e->Posix.LinkTarget(), LongTarget()) << "a target told across continuation areas";
    }
  }
  EXPECT_TRUE(sawLong);
  EXPECT_TRUE(sawFar);
}

TEST_F(RockRidgeImport, WithoutRockRidgeTheJolietTreeIsTakenAsBefore) {
  TQzRecorder next;
  Import(next);
  const TFEntry* secret = next.FindEntry(next.RootDirectory(), "secret.txt");
  ASSERT_NE(secret, nullptr);
  EXPECT_FALSE(secret->Posix);
  const TFEntry* link = next.FindEntry(next.RootDirectory(), "to-docs.");
  ASSERT_NE(link, nullptr);
  EXPECT_FALSE(link->IsSymbolicLink()) << "an empty file, as a Joliet reader sees it";
}

TEST_F(RockRidgeImport, AContinuationBeyondTheDiscIsToldAndItsEntryTakenWithoutRockRidge) {
  // Every CE entry of the image points past its end.
  std::string bytes = test::TTempFolder::Read(Image);
  const std::string ce("CE\x1c\x01", 4);
  int patched = 0;
  for (size_t at = bytes.find(ce); at != std::string::npos; at = bytes.find(ce, at + 1), ++patched) {
    for (int i = 0; i < 4; ++i) bytes[at + 4 + i] = bytes[at + 11 - i] = static_cast<char>(i < 3 ? 0xFF : 0x0F);
  }
  ASSERT_GE(patched, 2) << "the root's ER and the long link's target";
  { std::ofstream(Image, std::ios::binary | std::ios::trunc) << bytes; }

  TQzRecorder next;
  next.RockRidge = true;
  std::vector<std::string> lines;
  TImageFileSource source(Image);
  ASSERT_TRUE(ImportSession(source, next.Compilation(), 255, nullptr,
                            [&](const std::string& line, uint8_t) { lines.push_back(line); }));
  bool told = false;
  for (const std::string& line : lines) told |= line.find("ROCK RIDGE CONTINUATION AT SECTOR") != std::string::npos;
  EXPECT_TRUE(told);
  const TDEntry* docs = next.FindDirectory("\\DOCS");
  ASSERT_NE(docs, nullptr);
  for (const TFEntry* e = docs->FirstEntry; e; e = e->Next) {
    EXPECT_FALSE(e->IsSymbolicLink() && e->Posix.LinkTarget() != LongTarget()) << "never half a target";
  }
  // What needs no continuation stays whole.
  const TFEntry* secret = next.FindEntry(next.RootDirectory(), "secret.txt");
  ASSERT_NE(secret, nullptr);
  ASSERT_TRUE(secret->Posix);
  EXPECT_EQ(secret->Posix.Mode, S_IFREG | 0600u);
}

}  // namespace
}  // namespace fornax
