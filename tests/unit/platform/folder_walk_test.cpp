#include "engine/platform/folder_walk.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "support/temp_folder.h"

namespace fornax {
namespace {

using test::TTempFolder;

struct stat StatOf(const std::string& path) {
  struct stat info {};
  EXPECT_EQ(stat(path.c_str(), &info), 0) << path << ": " << std::strerror(errno);
  return info;
}

TEST(FolderWalk, FollowsOnlyTheRootItWasGiven) {
  TTempFolder tmp;
  tmp.Write("real/sub/file.txt", "x");
  ASSERT_EQ(symlink(tmp.Path("real").c_str(), tmp.Path("entry").c_str()), 0);
  ASSERT_EQ(symlink("sub", tmp.Path("real/sub_link").c_str()), 0);
  TFolderWalk walk;
  const TEnteredFolder root = walk.EnterRoot(tmp.Path("entry"));
  ASSERT_TRUE(root.Entered()) << root.Reason;
  EXPECT_EQ(root.Inode, static_cast<uint64_t>(StatOf(tmp.Path("real")).st_ino));

  const struct stat sub = StatOf(tmp.Path("real/sub"));
  const TEnteredFolder viaLink = walk.EnterChild(root, "sub_link", sub.st_dev, sub.st_ino);
  EXPECT_EQ(viaLink.Refusal, TFolderRefusal::Unreadable)
      << "a link swapped in for a folder between listing and opening is not followed";
  EXPECT_TRUE(walk.EnterChild(root, "sub", sub.st_dev, sub.st_ino).Entered());
}

TEST(FolderWalk, EntersEachFolderOnce) {
  TTempFolder tmp;
  tmp.Folder("tree/sub");
  TFolderWalk walk;
  const TEnteredFolder root = walk.EnterRoot(tmp.Path("tree"));
  ASSERT_TRUE(root.Entered());
  const struct stat sub = StatOf(tmp.Path("tree/sub"));
  EXPECT_TRUE(walk.EnterChild(root, "sub", sub.st_dev, sub.st_ino).Entered());
  EXPECT_EQ(walk.EnterChild(root, "sub", sub.st_dev, sub.st_ino).Refusal, TFolderRefusal::ReachedTwice);
  EXPECT_EQ(walk.EnterChild(root, "sub", root.Device, root.Inode).Refusal, TFolderRefusal::ReachedTwice)
      << "a folder that shows its own ancestor is a loop";
  EXPECT_TRUE(TFolderWalk().EnterRoot(tmp.Path("tree/sub")).Entered()) << "another walk starts afresh";
}

TEST(FolderWalk, RefusesSystemFileSystemsAndSaysWhy) {
  TFolderWalk walk;
  const TEnteredFolder proc = walk.EnterRoot("/proc/self");
  EXPECT_EQ(proc.Refusal, TFolderRefusal::SystemFileSystem);
  EXPECT_EQ(proc.Reason, "PROC");
  EXPECT_FALSE(proc.Folder.IsOpen());

  TTempFolder tmp;
  const TEnteredFolder missing = walk.EnterRoot(tmp.Path("missing"));
  EXPECT_EQ(missing.Refusal, TFolderRefusal::Unreadable);
  EXPECT_EQ(missing.Reason, std::strerror(ENOENT));
}

}  // namespace
}  // namespace fornax
