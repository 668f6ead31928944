#include "engine/platform/open_folder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include "engine/platform/dir_listing.h"
#include "engine/platform/folder_walk.h"
#include "engine/platform/system_file_systems.h"
#include "platform/special_entries.h"
#include "support/temp_folder.h"

namespace fornax {
namespace {

using test::TTempFolder;

std::map<std::string, TEntryKind> Kinds(const TFolderEntries& read) {
  std::map<std::string, TEntryKind> kinds;
  for (const TFolderEntry& entry : read.Entries) kinds[entry.Name] = entry.Kind;
  return kinds;
}

// A folder holding one of everything a walk can meet.
class FolderEntries : public ::testing::Test {
 protected:
  void SetUp() override {
    Tmp.Write("tree/data.bin", "abc");
    Tmp.Write("tree/sub/inner.txt", "x");
    ASSERT_EQ(symlink("data.bin", Tmp.Path("tree/file_link").c_str()), 0);
    ASSERT_EQ(symlink("sub", Tmp.Path("tree/folder_link").c_str()), 0);
    ASSERT_EQ(symlink("..", Tmp.Path("tree/sub/up").c_str()), 0);
    ASSERT_EQ(symlink("nowhere", Tmp.Path("tree/dangling").c_str()), 0);
    ASSERT_EQ(symlink("loop_b", Tmp.Path("tree/loop_a").c_str()), 0);
    ASSERT_EQ(symlink("loop_a", Tmp.Path("tree/loop_b").c_str()), 0);
    test::MakeFifo(Tmp.Path("tree/pipe"));
    test::MakeSocket(Tmp.Path("tree/sock"));
    ASSERT_EQ(symlink("pipe", Tmp.Path("tree/pipe_link").c_str()), 0);
    ASSERT_EQ(symlink("/dev/null", Tmp.Path("tree/null").c_str()), 0);
  }
  TTempFolder Tmp;
};

TEST_F(FolderEntries, TellLinksToFoldersAndSpecialFilesFromFiles) {
  TOpenFolder folder = TOpenFolder::Open(Tmp.Path("tree"));
  ASSERT_TRUE(folder.IsOpen());
  const TFolderEntries read = folder.ReadEntries();
  ASSERT_TRUE(read.Ok) << read.Error;
  EXPECT_FALSE(read.Cut);
  const std::map<std::string, TEntryKind> expected{
      {"data.bin", TEntryKind::File},       {"sub", TEntryKind::Folder},
      {"file_link", TEntryKind::File},      {"folder_link", TEntryKind::LinkToFolder},
      {"pipe", TEntryKind::Fifo},           {"sock", TEntryKind::Socket},
      {"pipe_link", TEntryKind::Fifo},      {"null", TEntryKind::Device}};
  EXPECT_EQ(Kinds(read), expected) << "dangling and circular links are no entries";
  for (const TFolderEntry& entry : read.Entries) {
    if (entry.Name == "file_link") {
      EXPECT_EQ(entry.Info.st_size, 3) << "a link to a file is that file";
    }
  }
}

// A tree that records links as links takes each link's own times, so it
// never follows one: following marks the link read (its access time).
TEST_F(FolderEntries, LinksKeptAsLinksAreNeverFollowed) {
  const struct timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
  const std::set<std::string> links{"file_link", "folder_link", "dangling", "loop_a", "loop_b", "pipe_link", "null"};
  for (const std::string& name : links)
    ASSERT_EQ(::utimensat(AT_FDCWD, Tmp.Path("tree/" + name).c_str(), old, AT_SYMLINK_NOFOLLOW), 0) << name;
  TOpenFolder folder = TOpenFolder::Open(Tmp.Path("tree"));
  const TFolderEntries read = folder.ReadEntries(nullptr, true);
  ASSERT_TRUE(read.Ok) << read.Error;
  for (const TFolderEntry& entry : read.Entries) {
    SCOPED_TRACE(entry.Name);
    EXPECT_EQ(entry.Kind == TEntryKind::Link, links.count(entry.Name) == 1);
    if (entry.Kind != TEntryKind::Link) continue;
    EXPECT_TRUE(S_ISLNK(entry.Info.st_mode)) << "the link's own lstat";
    EXPECT_EQ(entry.Info.st_atim.tv_sec, 1000000000);
    struct stat now {};
    ASSERT_EQ(::lstat(Tmp.Path("tree/" + entry.Name).c_str(), &now), 0);
    EXPECT_EQ(now.st_atim.tv_sec, 1000000000) << "never followed";
  }
  EXPECT_EQ(read.Entries.size(), links.size() + 4) << "data.bin, sub, pipe and sock besides the links";
}

TEST_F(FolderEntries, SubfoldersAreNeverOpenedThroughALink) {
  TOpenFolder folder = TOpenFolder::Open(Tmp.Path("tree"));
  EXPECT_TRUE(folder.OpenChild("sub").IsOpen());
  const TOpenFolder throughLink = folder.OpenChild("folder_link");
  EXPECT_FALSE(throughLink.IsOpen());
  // O_DIRECTORY is checked before O_NOFOLLOW on some kernels.
  EXPECT_TRUE(throughLink.Error() == ELOOP || throughLink.Error() == ENOTDIR) << throughLink.Error();
  EXPECT_TRUE(TOpenFolder::Open(Tmp.Path("tree/folder_link")).IsOpen())
      << "a path the caller names is taken as the system resolves it";
}

TEST_F(FolderEntries, ASetCancelFlagStopsTheReading) {
  std::atomic<bool> cancel{true};
  TOpenFolder folder = TOpenFolder::Open(Tmp.Path("tree"));
  const TFolderEntries read = folder.ReadEntries(&cancel);
  EXPECT_TRUE(read.Cut);
  EXPECT_TRUE(read.Entries.empty());
  const TSearchResult listed = ListFolder(folder, Tmp.Path("tree"), &cancel);
  EXPECT_TRUE(listed.Cut);
}

TEST_F(FolderEntries, SearchesReportWhatTheyPassOver) {
  const TSearchResult all = FindFiles(Tmp.Path("tree"), "*.*", faAnyFile);
  std::map<std::string, TEntryKind> passed;
  for (const TPassedOver& entry : all.PassedOver) passed[entry.Name] = entry.Kind;
  EXPECT_EQ(passed, (std::map<std::string, TEntryKind>{{"folder_link", TEntryKind::LinkToFolder},
                                                       {"pipe", TEntryKind::Fifo},
                                                       {"sock", TEntryKind::Socket},
                                                       {"pipe_link", TEntryKind::Fifo},
                                                       {"null", TEntryKind::Device}}));
  std::set<std::string> items;
  for (const TSearchRec& rec : all.Items) items.insert(rec.Name);
  EXPECT_EQ(items, (std::set<std::string>{"data.bin", "sub", "file_link"}));

  // Under a mask, only what the mask chooses is passed over.
  const TSearchResult pipes = FindFiles(Tmp.Path("tree"), "pipe*", faAnyFile);
  EXPECT_EQ(pipes.PassedOver.size(), 2u);
  EXPECT_TRUE(pipes.Items.empty());
  // A link to a folder counts as a folder.
  EXPECT_TRUE(FindFiles(Tmp.Path("tree"), "folder_link", faAnyFile & ~faDirectory).PassedOver.empty());
}

TEST(SystemFileSystems, AreKnownByWhatTheKernelReports) {
  EXPECT_EQ(SystemFileSystemAt(AT_FDCWD, "/proc/self", true), "PROC");
  EXPECT_EQ(SystemFileSystemAt(AT_FDCWD, "/sys/kernel", true), "SYSFS");
  TTempFolder tmp;
  EXPECT_EQ(SystemFileSystemAt(AT_FDCWD, tmp.Root(), true), "");
  EXPECT_EQ(SystemFileSystemAt(AT_FDCWD, tmp.Path("missing"), true), "");
  ASSERT_EQ(symlink("/proc/self", tmp.Path("into_proc").c_str()), 0);
  EXPECT_EQ(SystemFileSystemAt(AT_FDCWD, tmp.Path("into_proc"), true), "PROC");
  EXPECT_EQ(SystemFileSystemAt(AT_FDCWD, tmp.Path("into_proc"), false), "")
      << "the link itself lies in the scratch folder";
}

// The type of the mount that shows at MountPoint (the last one mounted there).
std::string TypeMountedAt(const std::string& table, const std::string& mountPoint) {
  std::istringstream lines(table);
  std::string line, type;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string id, parent, device, root, point;
    fields >> id >> parent >> device >> root >> point;
    if (point == mountPoint) type = MountTypeOf(table, std::stoull(id));
  }
  return type;
}

TEST(SystemFileSystems, DevtmpfsIsToldApartFromTmpfsByTheMountTable) {
  const std::string type = TypeMountedAt(TTempFolder::Read("/proc/self/mountinfo"), "/dev");
  if (type != "devtmpfs") GTEST_SKIP() << "/dev is not devtmpfs here but '" << type << "'";
  EXPECT_EQ(SystemFileSystemAt(AT_FDCWD, "/dev", true), "DEVTMPFS");
  if (TypeMountedAt(TTempFolder::Read("/proc/self/mountinfo"), "/dev/shm") == "tmpfs") {
    EXPECT_EQ(SystemFileSystemAt(AT_FDCWD, "/dev/shm", true), "") << "a plain tmpfs holds data";
  }
}

TEST(SystemFileSystems, MountTableLinesAreReadByTheirId) {
  const std::string table =
      "24 27 0:6 / /dev rw,relatime shared:2 - devtmpfs devtmpfs rw,mode=755\n"
      "240 27 0:50 / /mnt/with\\040space\\040-\\040dash rw - tmpfs tmpfs rw\n"
      "27 1 254:0 / / rw,relatime - ext4 /dev/vda rw\n";
  EXPECT_EQ(MountTypeOf(table, 24), "devtmpfs") << "optional fields come before the separator";
  EXPECT_EQ(MountTypeOf(table, 240), "tmpfs") << "an escaped mount point is no separator";
  EXPECT_EQ(MountTypeOf(table, 27), "ext4");
  EXPECT_EQ(MountTypeOf(table, 2), "");
  EXPECT_EQ(MountTypeOf("", 24), "");
}

}  // namespace
}  // namespace fornax
