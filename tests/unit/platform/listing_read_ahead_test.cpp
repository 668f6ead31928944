#include "engine/platform/listing_read_ahead.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "engine/platform/folder_walk.h"
#include "support/temp_folder.h"

namespace fornax {
namespace {

using test::TTempFolder;

// What a listing says about its entries, in its order.
std::vector<std::string> Described(const TSearchResult& listing) {
  std::vector<std::string> lines;
  for (const TSearchRec& item : listing.Items)
    lines.push_back(item.Name + "|" + item.ShortName + "|" + std::to_string(item.Attr) + "|" +
                    std::to_string(item.Size) + "|" + std::to_string(item.Mode) + "|" + std::to_string(item.Link));
  for (const TPassedOver& entry : listing.PassedOver)
    lines.push_back("passed " + entry.Name + "|" + std::to_string(static_cast<int>(entry.Kind)));
  lines.push_back(listing.Ok ? "ok" : "not ok: " + listing.Error);
  return lines;
}

// A scan's walk: each folder's listing, then its subfolders in the
// listing's order; `enter` decides which subfolders the scan goes into.
void Scan(TListingReadAhead& ahead, TFolderWalk& walk, TEnteredFolder& folder, const std::string& path,
          TListOptions options, const std::function<bool(const std::string&)>& enter, int& folders) {
  const std::optional<TReadFolder> ready = ahead.Take(folder.Device, folder.Inode);
  const TSearchResult own = ListFolder(folder.Folder, path, nullptr, options);
  ++folders;
  if (ready) {
    EXPECT_EQ(Described(ListingOf(*ready, path, options)), Described(own)) << path;
  }
  for (const TSearchRec& item : own.Items) {
    if (!(item.Attr & faDirectory) || !enter(path + "/" + item.Name)) continue;
    TEnteredFolder child = walk.EnterChild(folder, item.Name, item.Device, item.Inode);
    if (child.Entered()) Scan(ahead, walk, child, path + "/" + item.Name, options, enter, folders);
  }
}

void MakeTree(const TTempFolder& tmp) {
  for (int a = 0; a < 6; ++a)
    for (int b = 0; b < 5; ++b) {
      const std::string folder = "tree/d" + std::to_string(a) + "/Sub Folder " + std::to_string(b);
      for (int f = 0; f < 4; ++f) tmp.Write(folder + "/a long file name " + std::to_string(f) + ".text", "x");
    }
  tmp.Write("tree/top.txt", "top");
  tmp.Folder("tree/empty");
  ASSERT_EQ(symlink("d1", tmp.Path("tree/link to d1").c_str()), 0);
  ASSERT_EQ(symlink("nowhere", tmp.Path("tree/dangling").c_str()), 0);
  ASSERT_EQ(symlink("../top.txt", tmp.Path("tree/d2/link to top").c_str()), 0);
}

TEST(ListingReadAhead, HandsOutEveryFolderOfAScanAsTheScanWouldListIt) {
  TTempFolder tmp;
  MakeTree(tmp);
  for (const TListOptions options : {TListOptions{false, false}, TListOptions{true, true}}) {
    TListingReadAhead ahead(tmp.Path("tree"), options);
    TFolderWalk walk;
    TEnteredFolder root = walk.EnterRoot(tmp.Path("tree"));
    ASSERT_TRUE(root.Entered());
    int folders = 0;
    Scan(ahead, walk, root, tmp.Path("tree"), options, [](const std::string&) { return true; }, folders);
    EXPECT_EQ(folders, 1 + 1 + 6 + 30);
    EXPECT_EQ(ahead.Hits(), folders) << "every folder came from the read-ahead";
    EXPECT_EQ(ahead.Misses(), 0);
  }
  // A folder the scan waited for may come without its short names: its
  // listing makes them, the same as a listing read whole.
  const std::string path = tmp.Path("tree/d3/Sub Folder 1");
  TOpenFolder open = TOpenFolder::Open(path);
  const TReadFolder later = ReadFolder(open, nullptr, {}, TFolderNaming::NameLater);
  EXPECT_FALSE(later.ShortNames.has_value());
  const TSearchResult listed = ListingOf(later, path, {});
  TOpenFolder again = TOpenFolder::Open(path);
  EXPECT_EQ(Described(listed), Described(ListFolder(again, path, nullptr, {})));
  ASSERT_EQ(listed.Items.size(), 4u);
  for (const TSearchRec& item : listed.Items) EXPECT_EQ(item.ShortName.substr(0, 7), "ALONGF_") << "aliases were made";
}

// A scan that leaves folders out (the user skipped them, or their names could
// not be recorded) still gets the folders after them; a folder the read-ahead
// does not have is no listing, and the scan reads it itself.
TEST(ListingReadAhead, FoldersTheScanLeavesOutAreDroppedAndTheRestStillCome) {
  TTempFolder tmp;
  MakeTree(tmp);
  TListingReadAhead ahead(tmp.Path("tree"), {});
  // All 38 folders queued first: the walk is ahead of the scan throughout.
  for (int waited = 0; waited < 500 && ahead.Queued() < 38; ++waited) ::usleep(10000);
  TFolderWalk walk;
  TEnteredFolder root = walk.EnterRoot(tmp.Path("tree"));
  int folders = 0;
  Scan(ahead, walk, root, tmp.Path("tree"), {},
       [](const std::string& path) { return path.find("/d1") == std::string::npos && path.find("/d4/") == std::string::npos; },
       folders);
  EXPECT_EQ(folders, 1 + 1 + 5 + 4 * 5);
  EXPECT_EQ(ahead.Hits(), folders);
  EXPECT_FALSE(ahead.Take(12345, 678).has_value()) << "a folder it never listed";
  EXPECT_EQ(ahead.Misses(), 1);

  // A folder made after the read-ahead passed its parent is the scan's own.
  TTempFolder other;
  other.Write("tree/a/file", "x");
  TListingReadAhead late(other.Path("tree"), {});
  TFolderWalk lateWalk;
  TEnteredFolder lateRoot = lateWalk.EnterRoot(other.Path("tree"));
  ASSERT_TRUE(late.Take(lateRoot.Device, lateRoot.Inode).has_value());
  other.Write("tree/b/file", "x");
  TEnteredFolder b = lateWalk.EnterChild(lateRoot, "b", 0, 0);
  ASSERT_TRUE(b.Entered());
  struct stat info {};
  ASSERT_EQ(::fstat(b.Folder.Descriptor(), &info), 0);
  EXPECT_FALSE(late.Take(info.st_dev, info.st_ino).has_value());
}

// Nobody takes anything: the walk stops at its bound, and going away while
// it waits there (or reads) ends it at once.
TEST(ListingReadAhead, AWalkNobodyFollowsStopsAtItsBoundAndEndsWithItsOwner) {
  TTempFolder tmp;
  for (int a = 0; a < 400; ++a) tmp.Folder("tree/f" + std::to_string(a) + "/g");
  {
    TListingReadAhead ahead(tmp.Path("tree"), {});
    for (int waited = 0; waited < 500 && ahead.Queued() < TListingReadAhead::kMostListings; ++waited) ::usleep(10000);
    ::usleep(20000);
    EXPECT_EQ(ahead.Queued(), TListingReadAhead::kMostListings);
  }
  TListingReadAhead gone(tmp.Path("no such folder"), {});
  EXPECT_FALSE(gone.Take(1, 2).has_value());
}

}  // namespace
}  // namespace fornax
