#include "engine/platform/dir_listing.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <thread>

namespace fornax {
namespace {

class PlatformListing : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = ::testing::TempDir() + "fornax-listing-XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr) << std::strerror(errno);
    dir_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string At(const std::string& name) const { return dir_ + "/" + name; }

  void Write(const std::string& name, const std::string& content = "") const {
    const int fd = open(At(name).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
    close(fd);
  }

  static const TSearchRec* Item(const TSearchResult& result, const std::string& name) {
    for (const TSearchRec& rec : result.Items)
      if (rec.Name == name) return &rec;
    return nullptr;
  }

  static std::set<std::string> Names(const TSearchResult& result) {
    std::set<std::string> names;
    for (const TSearchRec& rec : result.Items) names.insert(rec.Name);
    return names;
  }

  std::string dir_;
};

TEST_F(PlatformListing, ReportsFilesFoldersAndLinksOnly) {
  Write("data.bin", "abc");
  Write(".hidden");
  ASSERT_EQ(mkdir(At("sub").c_str(), 0755), 0);
  ASSERT_EQ(symlink("data.bin", At("link").c_str()), 0);
  ASSERT_EQ(symlink("nowhere", At("dead").c_str()), 0);
  ASSERT_EQ(mkfifo(At("pipe").c_str(), 0644), 0);

  const TSearchResult all = FindFiles(dir_ + "/", "*.*", faAnyFile);
  ASSERT_TRUE(all.Ok) << all.Error;
  EXPECT_EQ(Names(all), (std::set<std::string>{"data.bin", ".hidden", "sub", "link"}));
  struct stat info;
  ASSERT_EQ(stat(At("data.bin").c_str(), &info), 0);
  const TSearchRec* data = Item(all, "data.bin");
  const TSearchRec* link = Item(all, "link");
  const TSearchRec* sub = Item(all, "sub");
  ASSERT_TRUE(data && link && sub);
  EXPECT_EQ(data->Size, 3);
  EXPECT_EQ(data->WriteTime, info.st_mtim.tv_sec);
  EXPECT_EQ(data->Attr & (faDirectory | faHidden), 0);
  EXPECT_EQ(link->Inode, data->Inode);
  EXPECT_EQ(link->Size, 3);
  EXPECT_EQ(sub->Attr & (faDirectory | faArchive), faDirectory);
  EXPECT_EQ(sub->Size, 0);
  EXPECT_NE(Item(all, ".hidden")->Attr & faHidden, 0);

  EXPECT_EQ(Names(FindFiles(dir_, "*", faAnyFile & ~faDirectory & ~faHidden)),
            (std::set<std::string>{"data.bin", "link"}));
  EXPECT_EQ(Names(FindFiles(dir_, "*.BIN", faAnyFile)), (std::set<std::string>{"data.bin"}));

  TSearchRec rec;
  EXPECT_TRUE(FindFile(At("sub/"), faAnyFile, rec));
  EXPECT_EQ(rec.Name, "sub");
  EXPECT_FALSE(FindFile(At("sub"), faAnyFile & ~faDirectory, rec));
  for (const char* absent : {"pipe", "dead", "missing", "data.bin/"})
    EXPECT_FALSE(FindFile(At(absent), faAnyFile, rec)) << absent;
}

TEST_F(PlatformListing, SizesBeyondFourGibibytes) {
  const int64_t size = (int64_t{5} << 30) + 7;
  Write("sparse");
  ASSERT_EQ(truncate(At("sparse").c_str(), size), 0);
  EXPECT_EQ(FindFiles(dir_, "*", faAnyFile).Items.at(0).Size, size);
  TSearchRec rec;
  ASSERT_TRUE(FindFile(At("sparse"), faAnyFile, rec));
  EXPECT_EQ(rec.Size, size);
}

TEST_F(PlatformListing, ShortNamesAreUniqueInTheFolderAndAgreeWithFindFile) {
  for (const char* name : {"My Report 2.docx", "My Report 1.docx", "myrepo_1.doc", "README.txt"})
    Write(name);
  // The mask hides myrepo_1.doc, but its name stays taken.
  const TSearchResult docx = FindFiles(dir_, "*.docx", faAnyFile);
  ASSERT_EQ(docx.Items.size(), 2u);
  EXPECT_EQ(Item(docx, "My Report 1.docx")->ShortName, "MYREPO_2.DOC");
  EXPECT_EQ(Item(docx, "My Report 2.docx")->ShortName, "MYREPO_3.DOC");
  for (const TSearchRec& listed : FindFiles(dir_, "*", faAnyFile).Items) {
    TSearchRec rec;
    ASSERT_TRUE(FindFile(At(listed.Name), faAnyFile, rec));
    EXPECT_EQ(rec.ShortName, listed.ShortName) << listed.Name;
    EXPECT_EQ(rec.ShortName.empty(), IsShortNameValid(listed.LongName, listed.Attr & faDirectory)) << listed.Name;
  }
}

TEST_F(PlatformListing, FindFileNoticesAFolderChangedAfterItsAliasesWereKept) {
  Write("My Report 2.docx");
  // Aliases are only kept for a folder that has been still for a few seconds.
  std::this_thread::sleep_for(std::chrono::seconds(3));
  TSearchRec rec;
  ASSERT_TRUE(FindFile(At("My Report 2.docx"), faAnyFile, rec));
  EXPECT_EQ(rec.ShortName, "MYREPO_1.DOC");
  Write("My Report 1.docx");  // sorts first, so it takes _1
  ASSERT_TRUE(FindFile(At("My Report 2.docx"), faAnyFile, rec));
  EXPECT_EQ(rec.ShortName, "MYREPO_2.DOC");
}

// A large folder's aliases are made while its entries are examined, from the
// names read before: they must be those of the entries examined, even when the
// folder changed in between.
TEST_F(PlatformListing, ALargeFolderGetsTheAliasesOfTheEntriesExamined) {
  const auto name = [](int i) { return "Quarterly report " + std::to_string(1000 + i) + ".txt"; };
  for (int i = 0; i < 2500; ++i) Write(name(i));
  ASSERT_EQ(mkdir(At("Quarterly reports").c_str(), 0755), 0);
  const auto aliasesMadeAfter = [](const TReadFolder& read) {
    TReadFolder again{read.Read, std::nullopt};
    NameFolder(again);
    return *again.ShortNames;
  };

  TOpenFolder folder = TOpenFolder::Open(dir_);
  const TReadFolder read = ReadFolder(folder);
  ASSERT_TRUE(read.Read.Ok);
  ASSERT_EQ(read.Read.Entries.size(), 2501u);
  EXPECT_EQ(*read.ShortNames, aliasesMadeAfter(read));

  // Between the names and the examination: the first of the series goes, and
  // a file becomes a folder. Every later alias moves up.
  TOpenFolder reopened = TOpenFolder::Open(dir_);
  TFolderNames names = reopened.ReadNames();
  ASSERT_EQ(names.Names.size(), 2501u);
  ASSERT_EQ(unlink(At(name(0)).c_str()), 0);
  ASSERT_EQ(unlink(At(name(1)).c_str()), 0);
  ASSERT_EQ(mkdir(At(name(1)).c_str(), 0755), 0);
  const TReadFolder changed = ExamineFolder(reopened, std::move(names));
  ASSERT_EQ(changed.Read.Entries.size(), 2500u);
  ASSERT_TRUE(changed.ShortNames);
  EXPECT_EQ(*changed.ShortNames, aliasesMadeAfter(changed));
  const TSearchResult listing = ListingOf(changed, dir_);
  for (const int i : {1, 2, 2499}) {
    TSearchRec found;
    ASSERT_TRUE(FindFile(At(name(i)), faAnyFile, found));
    EXPECT_EQ(Item(listing, name(i))->ShortName, found.ShortName) << name(i);
  }
}

TEST_F(PlatformListing, MissingFolderGivesTheSystemsReason) {
  const TSearchResult result = FindFiles(At("missing"), "*", faAnyFile);
  EXPECT_FALSE(result.Ok);
  EXPECT_EQ(result.Error, std::strerror(ENOENT));
  EXPECT_EQ(ReadAttributes(At("missing")), -1);
}

TEST_F(PlatformListing, ArchiveStateFollowsContentChanges) {
  Write("doc.txt", "one");
  const std::string path = At("doc.txt");
  if (setxattr(path.c_str(), "user.fornax.probe", "1", 1, 0) != 0)
    GTEST_SKIP() << "no user extended attributes here: " << std::strerror(errno);

  EXPECT_EQ(ReadAttributes(path), faArchive);
  ASSERT_TRUE(SetArchiveAttribute(path, false));
  EXPECT_EQ(ReadAttributes(path), 0);
  EXPECT_EQ(FindFiles(dir_, "doc.txt", faAnyFile).Items.at(0).Attr & faArchive, 0);

  Write("doc.txt", "two");  // same size: only the time tells
  const timespec later[2] = {{0, UTIME_OMIT}, {1700000000, 5}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), later, 0), 0);
  EXPECT_EQ(ReadAttributes(path), faArchive);

  ASSERT_TRUE(SetArchiveAttribute(path, false));
  Write("doc.txt", "three");
  EXPECT_EQ(ReadAttributes(path), faArchive);
  ASSERT_TRUE(SetArchiveAttribute(path, false));
  ASSERT_TRUE(SetArchiveAttribute(path, true));
  EXPECT_EQ(ReadAttributes(path), faArchive);

  ASSERT_EQ(mkdir(At(".folder").c_str(), 0755), 0);
  EXPECT_EQ(ReadAttributes(At(".folder/")), faDirectory | faHidden);
}

}  // namespace
}  // namespace fornax
