// How the compilation walks local folders: links to folders, special files,
// kernel file systems, folders reached twice, and cancelling.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <future>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/special_entries.h"
#include "support/recorder_fixture.h"
#include "support/temp_folder.h"

namespace fornax {
namespace {

using test::RecorderTest;
using test::TTempFolder;

class CompilationWalk : public RecorderTest {
 protected:
  // Every file of the compilation as "\PATH\name", and the bytes they hold.
  std::set<std::string> Files() const {
    std::set<std::string> files;
    Rec.Compilation().Files().ForEach([&](const TFEntry* entry) {
      if (!entry->IsDirectory())
        files.insert((entry->Owner->Path == "\\" ? "" : entry->Owner->Path) + "\\" + entry->LongName);
    });
    return files;
  }
  int64_t FileBytes() const {
    int64_t bytes = 0;
    Rec.Compilation().Files().ForEach([&](const TFEntry* entry) {
      if (!entry->IsDirectory()) bytes += entry->ISOSize;
    });
    return bytes;
  }
  bool EveryFolderHoldsSomething() const {
    bool ok = true;
    Rec.Compilation().Directories().ForEach([&](const TDEntry* dir) {
      if (dir != Rec.RootDirectory() && !dir->FirstEntry) ok = false;
    });
    return ok;
  }
  bool Add(const std::string& folder, const std::atomic<bool>* cancel = nullptr) {
    return Rec.Compilation().AddDirectoryTree(Rec.RootDirectory(), folder, "*.*", faAnyFile, true, false,
                                              false, cancel);
  }
  TTempFolder Tmp;
};

TEST_F(CompilationWalk, LinksToFoldersAreNeitherFollowedNorCounted) {
  Tmp.Write("src/top.txt", "ab");
  Tmp.Write("src/real/in.txt", "12345");
  Tmp.Write("outside/far.txt", "far away");
  ASSERT_EQ(symlink("real", Tmp.Path("src/alias").c_str()), 0);
  ASSERT_EQ(symlink("../outside", Tmp.Path("src/far").c_str()), 0);
  ASSERT_EQ(symlink("..", Tmp.Path("src/real/up").c_str()), 0);
  ASSERT_EQ(symlink(Tmp.Path("src").c_str(), Tmp.Path("src/real/root").c_str()), 0);
  ASSERT_EQ(symlink("top.txt", Tmp.Path("src/copy.txt").c_str()), 0);
  ASSERT_EQ(symlink("loop_b", Tmp.Path("src/loop_a").c_str()), 0);
  ASSERT_EQ(symlink("loop_a", Tmp.Path("src/loop_b").c_str()), 0);

  ASSERT_TRUE(Add(Tmp.Path("src/")));
  EXPECT_EQ(Files(), (std::set<std::string>{"\\top.txt", "\\copy.txt", "\\REAL\\in.txt"}))
      << "a link to a file is that file; links to folders bring nothing";
  EXPECT_EQ(Rec.DirectoryCount(), 1);
  for (const char* link : {"src/alias", "src/far", "src/real/up", "src/real/root"})
    EXPECT_TRUE(Logged(">>> LINK TO A FOLDER, NOT FOLLOWED: " + Tmp.Path(link), 4)) << link;
  EXPECT_FALSE(LoggedContaining("loop_", 4)) << "a circle of links leads nowhere, like a dangling link";

  EXPECT_EQ(TQzRecorder::FolderSize(Tmp.Path("src/")), FileBytes()) << "the size counts what an add takes";
  EXPECT_EQ(FileBytes(), 2 + 2 + 5);
}

TEST_F(CompilationWalk, ARootThatIsALinkIsFollowedOnce) {
  Tmp.Write("real/in.txt", "12345");
  Tmp.Write("real/sub/deep.txt", "1");
  ASSERT_EQ(symlink(Tmp.Path("real").c_str(), Tmp.Path("entry").c_str()), 0);
  ASSERT_EQ(symlink("..", Tmp.Path("real/sub/up").c_str()), 0);
  ASSERT_TRUE(Add(Tmp.Path("entry/")));
  EXPECT_EQ(Files(), (std::set<std::string>{"\\in.txt", "\\SUB\\deep.txt"}));
  EXPECT_TRUE(Logged(">>> LINK TO A FOLDER, NOT FOLLOWED: " + Tmp.Path("entry/sub/up"), 4));
  EXPECT_EQ(TQzRecorder::FolderSize(Tmp.Path("entry/")), 6);
}

TEST_F(CompilationWalk, SpecialFilesAreLeftOutWithoutBeingOpened) {
  Tmp.Write("src/keep.txt", "kept");
  const std::string pipe = Tmp.Path("src/sub/pipe");
  Tmp.Folder("src/sub");
  test::MakeFifo(pipe);
  test::MakeSocket(Tmp.Path("src/sub/sock"));
  ASSERT_EQ(symlink("sub/pipe", Tmp.Path("src/pipe_link").c_str()), 0);
  ASSERT_EQ(symlink("/dev/null", Tmp.Path("src/null").c_str()), 0);
  // As the window does: a source is opened to see that it can be read.
  Rec.OnAddFile = [](TObject*, const std::string& path, std::string&, std::string&, TDateTime&, int,
                     int64_t, bool&) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) close(fd);
  };

  test::RunGuarded([&] { EXPECT_TRUE(Add(Tmp.Path("src/"))); }, pipe);
  EXPECT_EQ(Files(), (std::set<std::string>{"\\keep.txt"}));
  EXPECT_TRUE(Logged(">>> SPECIAL FILE (FIFO), NOT ADDED: " + pipe, 4));
  EXPECT_TRUE(Logged(">>> SPECIAL FILE (SOCKET), NOT ADDED: " + Tmp.Path("src/sub/sock"), 4));
  EXPECT_TRUE(Logged(">>> SPECIAL FILE (FIFO), NOT ADDED: " + Tmp.Path("src/pipe_link"), 4));
  EXPECT_TRUE(Logged(">>> SPECIAL FILE (DEVICE), NOT ADDED: " + Tmp.Path("src/null"), 4));
  EXPECT_EQ(Rec.FindDirectory("\\sub"), nullptr) << "a folder of special files only stays out";

  test::RunGuarded([&] { EXPECT_EQ(TQzRecorder::FolderSize(Tmp.Path("src/")), 4); }, pipe);
  test::RunGuarded([&] { EXPECT_FALSE(Rec.AddFileEntry("\\", pipe, false)); }, pipe);
  EXPECT_EQ(TQzRecorder::FolderSize(pipe), 0);

  // A scan for other names has nothing to say about them.
  Lines.clear();
  ASSERT_TRUE(Rec.Compilation().AddDirectoryTree(Rec.RootDirectory(), Tmp.Path("src/"), "*.txt", faAnyFile,
                                                 true, false, false));
  EXPECT_FALSE(LoggedContaining("SPECIAL FILE", 4));
}

TEST_F(CompilationWalk, KernelFileSystemsAreNotWalked) {
  ASSERT_TRUE(Add("/sys/kernel/"));
  EXPECT_EQ(Rec.FileCount(), 0);
  EXPECT_TRUE(Logged(">>> FOLDER ON A SYSTEM FILE SYSTEM (SYSFS), NOT ADDED: /sys/kernel", 4));

  const TFolderSize proc = TCompilation::FolderSize("/proc/self/", nullptr);
  EXPECT_EQ(proc.Bytes, 0);
  EXPECT_FALSE(proc.Cut);

  ASSERT_EQ(symlink("/proc", Tmp.Path("proc").c_str()), 0);
  Lines.clear();
  ASSERT_TRUE(Add(Tmp.Path("proc/")));
  EXPECT_TRUE(Logged(">>> FOLDER ON A SYSTEM FILE SYSTEM (PROC), NOT ADDED: " + Tmp.Path("proc"), 4))
      << "a root that leads there is followed, and refused";
  EXPECT_EQ(Rec.FileCount(), 0);
}

// Folders a bind mount shows twice, and a folder mounted inside itself, need
// a mount namespace of their own. The walk runs in a child process, which
// tells its findings on stderr and through its exit status.
class MountedTwice : public CompilationWalk {
 protected:
  static int Check(bool ok, const char* what) {
    if (!ok) std::fprintf(stderr, "failed: %s\n", what);
    return ok ? 0 : 1;
  }
};

TEST_F(MountedTwice, FoldersAreWalkedOnceAndLoopsEnd) {
  Tmp.Write("src/a/file.txt", "abc");
  Tmp.Folder("src/b");
  Tmp.Folder("src/loop/inner");
  Tmp.Folder("src/kernel");
  Tmp.Write("src/z.txt", "z");
  const int status = test::RunInMountNamespace([&] {
    if (!test::BindMount(Tmp.Path("src/a"), Tmp.Path("src/b")) ||
        !test::BindMount("/sys/kernel", Tmp.Path("src/kernel")) ||
        !test::BindMount(Tmp.Path("src"), Tmp.Path("src/loop/inner")))
      return test::kNoNamespaces;
    int failures = Check(Add(Tmp.Path("src/")), "the add succeeds");
    failures += Check(FileBytes() == 4, "each file added once");
    failures += Check(TQzRecorder::FolderSize(Tmp.Path("src/")) == 4, "each file counted once");
    const std::string twice = ">>> FOLDER REACHED TWICE (A LOOP OR A SECOND MOUNT), NOT ADDED: ";
    failures += Check(Logged(twice + Tmp.Path("src/loop/inner"), 4), "the loop is told");
    failures += Check(Logged(twice + Tmp.Path("src/a"), 4) != Logged(twice + Tmp.Path("src/b"), 4),
                      "one of the two mounts is told");
    failures += Check(Logged(">>> FOLDER ON A SYSTEM FILE SYSTEM (SYSFS), NOT ADDED: " + Tmp.Path("src/kernel"), 4),
                      "a mount point of sysfs is told");
    return failures;
  });
  if (status == test::kNoNamespaces) GTEST_SKIP() << "no user and mount namespaces here";
  EXPECT_EQ(status, 0) << "see the failed checks above";
}

// A large tree, cancelled from another thread while it is being added. Its
// files are hard links of one file, which are as many entries to walk but far
// cheaper to make than as many files; the tree is made once for the suite.
class CancelledWalk : public CompilationWalk {
 protected:
  static constexpr int kFolders = 20;
  static constexpr int kFilesPerFolder = 1000;

  static void SetUpTestSuite() {
    Big = std::make_unique<TTempFolder>();
    const std::string model = Big->Write("model.dat", "x");
    for (int folder = 0; folder < kFolders; ++folder) {
      const std::string dir = Big->Folder("big/f" + std::to_string(folder));
      for (int file = 0; file < kFilesPerFolder; ++file) {
        const std::string name = dir + "/" + std::to_string(file) + ".dat";
        ASSERT_EQ(link(model.c_str(), name.c_str()), 0) << name << ": " << std::strerror(errno);
      }
    }
  }
  static void TearDownTestSuite() { Big.reset(); }
  static std::string Tree() { return Big->Path("big/"); }
  static std::string TreeFolder() { return Big->Path("big"); }

  static std::unique_ptr<TTempFolder> Big;
};

std::unique_ptr<TTempFolder> CancelledWalk::Big;

TEST_F(CancelledWalk, StopsAtTheNextEntryAndLeavesAWholeCompilation) {
  constexpr int kCancelAt = 1500;
  std::atomic<bool> cancel{false};
  std::promise<void> reached;
  std::thread canceller([&] {
    reached.get_future().wait();
    cancel = true;
  });
  int added = 0;
  Rec.OnAddFile = [&](TObject*, const std::string&, std::string&, std::string&, TDateTime&, int, int64_t, bool&) {
    if (++added != kCancelAt) return;
    reached.set_value();
    while (!cancel) std::this_thread::yield();  // the other thread has set it
  };
  const bool done = Add(Tree(), &cancel);
  canceller.join();

  EXPECT_FALSE(done);
  EXPECT_EQ(added, kCancelAt) << "no entry is taken after the flag is seen";
  EXPECT_EQ(static_cast<int>(Files().size()), kCancelAt);
  EXPECT_EQ(Rec.CompilationBytes(), int64_t{kCancelAt} * 2048);
  EXPECT_TRUE(EveryFolderHoldsSomething());
  EXPECT_TRUE(Logged(">>> SCAN CANCELLED, FOLDER ONLY PARTLY ADDED: " + TreeFolder(), 4));

  // The compilation takes the rest as any other: the same files are not added twice.
  Rec.OnAddFile = nullptr;
  EXPECT_TRUE(Add(Tree()));
  EXPECT_EQ(static_cast<int>(Files().size()), kFolders * kFilesPerFolder);
  EXPECT_EQ(Rec.DirectoryCount(), kFolders);
}

TEST_F(CancelledWalk, FolderSizeSaysItWasCut) {
  std::atomic<bool> cancel{false};
  const TFolderSize whole = TCompilation::FolderSize(Tree(), &cancel);
  EXPECT_EQ(whole.Bytes, kFolders * kFilesPerFolder);
  EXPECT_FALSE(whole.Cut);
  cancel = true;
  const TFolderSize cut = TCompilation::FolderSize(Tree(), &cancel);
  EXPECT_TRUE(cut.Cut);
  EXPECT_EQ(cut.Bytes, 0);
}

}  // namespace
}  // namespace fornax
