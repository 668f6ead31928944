// The header of an image whose compilation records no Rock Ridge: the bytes
// this program has always written for the same tree, links and all. The
// golden hash was taken from a build that had no Rock Ridge code at all (this
// file compiles against that engine as it stands, so it can be taken again).

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "base/scoped_time_zone.h"
#include "engine/image/header_builder.h"
#include "support/recorder_fixture.h"
#include "support/temp_folder.h"

namespace fornax {
namespace {

uint64_t Fnv1a(const std::vector<uint8_t>& bytes) {
  uint64_t hash = 0xcbf29ce484222325ULL;
  for (const uint8_t b : bytes) hash = (hash ^ b) * 0x100000001b3ULL;
  return hash;
}

void SetTimes(const std::string& path, int64_t seconds) {
  const struct timespec times[2] = {{static_cast<time_t>(seconds), 0}, {static_cast<time_t>(seconds), 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

// Files of several modes, a long name, a deep folder, and links of every kind:
// to a file (taken as the file), to a folder (not followed), leading nowhere.
void MakeTree(const test::TTempFolder& tmp) {
  const std::string names[] = {"private.txt", "tool.sh", "README", "My Report 2024.docx",
                               std::string(100, 'l') + ".txt", "deep/a/b/c/d/e/f/g/h/i/j/k/bottom.txt",
                               "deep/side.bin"};
  int64_t when = 981173106;  // 2001-02-03 04:05:06 UTC
  for (const std::string& name : names) {
    SetTimes(tmp.Write(name, "content of " + name), when);
    when += 86400 * 37 + 3671;
  }
  ::chmod(tmp.Path("private.txt").c_str(), 0600);
  ::chmod(tmp.Path("tool.sh").c_str(), 0755);
  ASSERT_EQ(::symlink("README", tmp.Path("link-to-file").c_str()), 0);
  ASSERT_EQ(::symlink("deep", tmp.Path("link-to-folder").c_str()), 0);
  ASSERT_EQ(::symlink("../nowhere", tmp.Path("deep/dangling").c_str()), 0);
  ASSERT_EQ(::symlink("../../side.bin", tmp.Path("deep/a/b/up").c_str()), 0);
  for (const std::string folder : {"deep/a/b/c/d/e/f/g/h/i/j/k", "deep/a/b/c/d/e/f/g/h/i/j", "deep/a/b/c/d/e/f/g/h/i",
                                   "deep/a/b/c/d/e/f/g/h", "deep/a/b/c/d/e/f/g", "deep/a/b/c/d/e/f", "deep/a/b/c/d/e",
                                   "deep/a/b/c/d", "deep/a/b/c", "deep/a/b", "deep/a", "deep"})
    SetTimes(tmp.Path(folder), 1234567890);
}

class PlainTreeBytes : public test::RecorderTest {
 protected:
  // The hash of the header and the volume size of the tree's image.
  std::pair<uint64_t, int64_t> Build() {
    test::TScopedTimeZone zone("UTC0");
    MakeTree(Tmp);
    EXPECT_TRUE(Rec.AddDirectoryTree(Rec.RootDirectory(), Tmp.Root(), "*.*", faAnyFile, true, false, false));
    EXPECT_TRUE(Rec.PrepareImage(true, nullptr));
    TVolumeIdentifiers ids;
    ids.Volume = "PLAIN";
    std::vector<uint8_t> header;
    TDescriptorCopy copy;
    const TDateTime now = EncodeDateTime({2026, 12, 7, 18, 0, 0, 0});
    BuildHeaderStream(Rec.Compilation(), Rec.Layout(), ids, now, header, copy);
    return {Fnv1a(header), Rec.Layout().VolumeSpaceSize};
  }

  test::TTempFolder Tmp;
};

TEST_F(PlainTreeBytes, AreTheBytesWrittenBeforeRockRidgeExisted) {
  const auto [hash, sectors] = Build();
  EXPECT_EQ(sectors, 159);
  EXPECT_EQ(hash, 0x2b4bfb779ae0e6d2ULL) << std::hex << hash;
}

}  // namespace
}  // namespace fornax
