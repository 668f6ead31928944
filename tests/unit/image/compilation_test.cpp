#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <set>
#include <string>
#include <utility>

#include "engine/base/text.h"

#include "engine/image/iso_names.h"
#include "support/recorder_fixture.h"
#include "support/temp_folder.h"

namespace fornax {
namespace {

using test::RecorderTest;
using test::TTempFolder;

class Compilation : public RecorderTest {};

TEST_F(Compilation, StartsWithTheRootOnly) {
  const TDEntry* root = Rec.RootDirectory();
  EXPECT_EQ(Rec.DirectoryCount(), 0);
  EXPECT_EQ(Rec.FileCount(), 0);
  EXPECT_EQ(Rec.Compilation().MaxFiles(), 65535);
  EXPECT_EQ(Rec.Compilation().MaxDirs(), 8191);
  EXPECT_EQ(root->ShortName, "CD_ROOT");
  EXPECT_EQ(root->LongName, "CD Root Directory");
  EXPECT_EQ(root->Path, "\\");
  EXPECT_EQ(root->Parent, root);
  EXPECT_EQ(root->FirstEntry, nullptr);
}

TEST_F(Compilation, NamesOfFilesWithoutExtensionGetAFinalDot) {
  ASSERT_TRUE(AddFile(Rec.RootDirectory(), "README", 10));
  const TFEntry* entry = Rec.FindEntry(Rec.RootDirectory(), "readme.");
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->LongName, "README.");
  EXPECT_EQ(entry->ShortName, "README.");
  EXPECT_EQ(EntryIdentifier(*entry, TTree::Iso), "README.;1");
  EXPECT_EQ(EntryIdentifier(*entry, TTree::Joliet), JolietBytes("README.;1"));

  ASSERT_TRUE(AddFile(Rec.RootDirectory(), "notes", 1));
  EXPECT_EQ(EntryIdentifier(*Rec.FindEntry(Rec.RootDirectory(), "notes."), TTree::Iso), "NOTES.;1");
}

TEST_F(Compilation, FileIdentifiersKeepTheirSeparatorDot) {
  // Aliases of names without extension (".bashrc", "copyright") have no dot.
  ASSERT_TRUE(AddFile(Rec.RootDirectory(), ".bashrc", 1, "BASHRC_1"));
  EXPECT_EQ(EntryIdentifier(*Rec.FindEntry(Rec.RootDirectory(), ".bashrc"), TTree::Iso), "BASHRC_1.;1");
  ASSERT_NE(Rec.AddDirectory(Rec.RootDirectory(), FolderListing("node.js", "NODEJS_1")), nullptr);
  EXPECT_EQ(Rec.FindDirectory("\\node.js")->ShortName, "NODEJS_1");
}

TEST_F(Compilation, CountsFileDataInWholeSectors) {
  TDEntry* root = Rec.RootDirectory();
  ASSERT_TRUE(AddFile(root, "a.bin", 3000));
  EXPECT_EQ(Rec.CompilationBytes(), 4096);
  ASSERT_TRUE(AddFile(root, "empty.bin", 0));
  EXPECT_EQ(Rec.CompilationBytes(), 4096);
  // Imported entries and directories add nothing.
  ASSERT_TRUE(Rec.AddEntry(root, FileListing("old.bin", 5000), "", 777, false));
  ASSERT_NE(Rec.AddDirectory(root, FolderListing("dir")), nullptr);
  EXPECT_EQ(Rec.CompilationBytes(), 4096);
  EXPECT_TRUE(Rec.FindEntry(root, "old.bin")->Imported);
  EXPECT_EQ(Rec.FindEntry(root, "old.bin")->ISOLocation, 777);
  // Removing a file gives its sectors back.
  Rec.RemoveEntryByName("\\", "a.bin");
  EXPECT_EQ(Rec.CompilationBytes(), 0);
}

TEST_F(Compilation, AddsANameOnceUnlessReplacing) {
  TDEntry* root = Rec.RootDirectory();
  ASSERT_TRUE(AddFile(root, "same.txt", 3000));
  EXPECT_FALSE(Rec.AddEntry(root, FileListing("same.txt", 3000), "/nowhere/same.txt", 0, false));
  EXPECT_TRUE(Lines.empty()) << "adding the same source again is no news";
  EXPECT_FALSE(AddFile(root, "SAME.TXT", 9000));
  EXPECT_TRUE(Logged(">>> NAME ALREADY USED BY ANOTHER ENTRY, NOT ADDED: /nowhere/SAME.TXT", 4))
      << "another file that would take the name is left out, and said so";
  EXPECT_EQ(Rec.FileCount(), 1);
  EXPECT_EQ(Rec.CompilationBytes(), 4096);

  Rec.ReplaceFile = true;
  ASSERT_TRUE(Rec.AddEntry(root, FileListing("Same.txt", 9000), "/new/Same.txt", 0, false));
  EXPECT_EQ(Rec.FileCount(), 1);
  EXPECT_EQ(Rec.CompilationBytes(), 10240);
  const TFEntry* entry = Rec.FindEntry(root, "same.txt");
  EXPECT_EQ(entry->SourcePath(), "/new/Same.txt");
  EXPECT_EQ(entry->ISOSize, 9000);

  // Replacing an entry that came from the disc takes nothing off the total.
  ASSERT_TRUE(Rec.AddEntry(root, FileListing("old.bin", 4096), "", 500, false));
  ASSERT_TRUE(Rec.AddEntry(root, FileListing("old.bin", 100), "/new/old.bin", 0, false));
  EXPECT_EQ(Rec.CompilationBytes(), 10240 + 2048);
  // A file never takes the place of a folder.
  ASSERT_NE(Rec.AddDirectory(root, FolderListing("docs")), nullptr);
  EXPECT_FALSE(AddFile(root, "docs", 10));
  EXPECT_NE(Rec.FindDirectory("\\docs"), nullptr);
  EXPECT_TRUE(LoggedContaining("NAME ALREADY USED", 4));
}

TEST_F(Compilation, RefusesLongNamesUnlessTheHandlerAdmitsThem) {
  TDEntry* root = Rec.RootDirectory();
  const std::string name108 = std::string(104, 'a') + ".txt";
  const std::string name109 = std::string(105, 'b') + ".txt";
  EXPECT_TRUE(AddFile(root, name108, 1));
  EXPECT_FALSE(AddFile(root, name109, 1));

  Rec.OnAddFile = [](TObject*, const std::string&, std::string& longName, std::string&,
                     TDateTime&, int, int64_t, bool& skip) {
    if (longName.size() == 109) skip = false;
  };
  EXPECT_FALSE(AddFile(root, name109, 1)) << "109 characters do not fit a Joliet record";
  EXPECT_TRUE(LoggedContaining("NAME TOO LONG", 4));
  EXPECT_EQ(Rec.FileCount(), 1);
}

TEST_F(Compilation, HandlerMayRenameRedateOrSkip) {
  Rec.OnAddFile = [](TObject* sender, const std::string& path, std::string& longName,
                     std::string& shortName, TDateTime& date, int attr, int64_t size, bool& skip) {
    EXPECT_NE(sender, nullptr);
    EXPECT_EQ(path, "/nowhere/" + std::string(size == 7 ? "a.doc" : "keep.txt"));
    EXPECT_EQ(attr, 0x20);
    if (longName == "a.doc") skip = true;
    if (longName == "keep.txt") {
      longName = "kept.txt";
      shortName = "kept.txt";
      date = 40000.5;
    }
  };
  EXPECT_FALSE(AddFile(Rec.RootDirectory(), "a.doc", 7));
  EXPECT_TRUE(AddFile(Rec.RootDirectory(), "keep.txt", 8));
  const TFEntry* entry = Rec.FindEntry(Rec.RootDirectory(), "kept.txt");
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->ShortName, "KEPT.TXT");
  EXPECT_DOUBLE_EQ(entry->DateTime, 40000.5);
}

TEST_F(Compilation, CapacityLimitsAreLoggedAndLeaveNothingHalfAdded) {
  Rec.ClearCompilation(2, 1);
  EXPECT_EQ(Rec.AddDirectoryByName(Rec.RootDirectory(), "docs", 16), nullptr);
  EXPECT_TRUE(Logged(">>> MAXIMUM DIRECTORIES CAN BE 1", 3));
  EXPECT_EQ(Rec.DirectoryCount(), 0);
  EXPECT_EQ(Rec.FileCount(), 0);

  Rec.ClearCompilation(2, 10);
  EXPECT_TRUE(AddFile(Rec.RootDirectory(), "a", 1));
  EXPECT_TRUE(AddFile(Rec.RootDirectory(), "b", 1));
  EXPECT_FALSE(AddFile(Rec.RootDirectory(), "c", 1));
  EXPECT_TRUE(Logged("MAXIMUM FILES CAN BE 2", 3));
  // The folder's own entry would be refused, so the folder is not made either.
  EXPECT_EQ(Rec.AddDirectoryByName(Rec.RootDirectory(), "docs", 16), nullptr);
  EXPECT_EQ(Rec.DirectoryCount(), 0);
}

TEST_F(Compilation, FindsDirectoriesWithoutRegardToCase) {
  TDEntry* docs = Rec.ForceDirectoryPath("\\Docs\\2004");
  ASSERT_NE(docs, nullptr);
  EXPECT_EQ(docs->Path, "\\DOCS\\2004");
  EXPECT_EQ(Rec.FindDirectory("\\docs\\2004\\"), docs);
  EXPECT_EQ(Rec.FindDirectory("\\docs")->Path, "\\DOCS");
  EXPECT_EQ(Rec.FindDirectory(""), Rec.RootDirectory());
  EXPECT_EQ(Rec.FindDirectory("\\"), Rec.RootDirectory());
  EXPECT_EQ(Rec.FindDirectory("\\nothing"), nullptr);
  EXPECT_EQ(Rec.DirectoryCount(), 2);
  EXPECT_EQ(Rec.ForceDirectoryPath("\\DOCS\\2004\\"), docs) << "existing paths are not made again";
  EXPECT_EQ(Rec.DirectoryCount(), 2);
}

TEST_F(Compilation, DirectoriesMadeByNameTakeThirteenCharacters) {
  const TDEntry* dir = Rec.AddDirectoryByName(Rec.RootDirectory(), "\\My Documents 2024 {old}\\", 16);
  ASSERT_NE(dir, nullptr);
  EXPECT_EQ(dir->LongName, "My Documents 2024 {old}");
  EXPECT_EQ(dir->ShortName, "MY_DOCUMENTS_");
  EXPECT_EQ(ShortNameFromDirectoryName("año{x}~z"), "A_O_X__Z");
}

TEST_F(Compilation, EqualShortNamesInOneDirectoryAreMadeUnique) {
  TDEntry* root = Rec.RootDirectory();
  // Two source folders merged into the root each had their own MYREPO_1.DOC.
  ASSERT_TRUE(AddFile(root, "My Report 2024.docx", 1, "MYREPO_1.DOC"));
  ASSERT_TRUE(AddFile(root, "My Report 2025.docx", 1, "MYREPO_1.DOC"));
  // A folder and a file whose identifiers differ only by the file's final dot.
  ASSERT_NE(Rec.AddDirectory(root, FolderListing("data")), nullptr);
  ASSERT_TRUE(AddFile(root, "data file", 1, "DATA."));
  std::set<std::string> keys;
  for (const TFEntry* e = root->FirstEntry; e; e = e->Next) {
    EXPECT_TRUE(keys.insert(IsoNameKey(e->ShortName)).second) << e->ShortName;
    EXPECT_LE(e->ShortName.size(), 12u);
  }
  EXPECT_EQ(Rec.FindEntry(root, "My Report 2024.docx")->ShortName, "MYREPO_1.DOC");
  EXPECT_EQ(Rec.FindDirectory("\\DATA")->ShortName, "DATA");

  // A tail freed by a removal is handed out again, as if it had never been.
  ASSERT_TRUE(AddFile(root, "My Report 2026.docx", 1, "MYREPO_1.DOC"));
  EXPECT_EQ(Rec.FindEntry(root, "My Report 2026.docx")->ShortName, "MYREPO_3.DOC");
  Rec.DeleteEntry(root, Rec.FindEntry(root, "My Report 2025.docx"));
  ASSERT_TRUE(AddFile(root, "My Report 2027.docx", 1, "MYREPO_1.DOC"));
  EXPECT_EQ(Rec.FindEntry(root, "My Report 2027.docx")->ShortName, "MYREPO_2.DOC");
}

TEST_F(Compilation, DeletingAFolderTakesItsWholeSubtree) {
  TDEntry* a = Rec.ForceDirectoryPath("\\a\\b\\c");
  ASSERT_TRUE(AddFile(a, "deep.txt", 1));
  ASSERT_TRUE(AddFile(Rec.FindDirectory("\\a"), "top.txt", 1));
  ASSERT_TRUE(AddFile(Rec.RootDirectory(), "keep.txt", 1));
  EXPECT_EQ(Rec.DirectoryCount(), 3);
  EXPECT_EQ(Rec.FileCount(), 6);

  TDEntry* dirA = Rec.FindDirectory("\\a");
  EXPECT_TRUE(Rec.DeleteDirectory(dirA));
  EXPECT_EQ(Rec.DirectoryCount(), 0);
  EXPECT_EQ(Rec.FileCount(), 1);
  EXPECT_EQ(Rec.FindDirectory("\\a\\b"), nullptr);
  EXPECT_EQ(Rec.RootDirectory()->FirstEntry->LongName, "keep.txt");
  EXPECT_FALSE(Rec.DeleteDirectory(Rec.RootDirectory()));
  // The names are free again.
  EXPECT_NE(Rec.ForceDirectoryPath("\\a"), nullptr);
}

TEST_F(Compilation, RemovesEmptyDirectoriesAndParentsThatBecomeEmpty) {
  Rec.ForceDirectoryPath("\\x\\y\\z");
  TDEntry* kept = Rec.ForceDirectoryPath("\\k\\l");
  ASSERT_TRUE(AddFile(kept, "f.txt", 1));
  Rec.ForceDirectoryPath("\\k\\empty");
  Rec.RemoveEmptyDirectories();
  EXPECT_EQ(Rec.DirectoryCount(), 2);
  EXPECT_NE(Rec.FindDirectory("\\k\\l"), nullptr);
  EXPECT_EQ(Rec.FindDirectory("\\x"), nullptr);
  EXPECT_EQ(Rec.FindDirectory("\\k\\empty"), nullptr);
}

TEST_F(Compilation, KeepsInsertionOrderAcrossRemovals) {
  TDEntry* root = Rec.RootDirectory();
  for (const char* name : {"1.txt", "2.txt", "3.txt", "4.txt"}) ASSERT_TRUE(AddFile(root, name, 1));
  Rec.RemoveEntryByName("\\", "2.txt");
  Rec.RemoveEntryByName("\\", "4.txt");
  ASSERT_TRUE(AddFile(root, "5.txt", 1));
  std::string order;
  for (const TFEntry* e = root->FirstEntry; e; e = e->Next) order += e->LongName.substr(0, 1);
  EXPECT_EQ(order, "135");
  order.clear();
  Rec.Compilation().Files().ForEach([&](const TFEntry* e) { order += e->LongName.substr(0, 1); });
  EXPECT_EQ(order, "135");
}

// Adding from the local file system.
class CompilationSources : public RecorderTest {
 protected:
  CompilationSources() {
    Tmp.Write("src/data/a.txt", "aaa");
    Tmp.Write("src/data/sub/b.txt", "bb");
    Tmp.Write("src/data/sub/c.bin", "c");
    Tmp.Folder("src/data/nothing/inside");
  }
  std::string Tree() const {
    std::string out;
    Rec.Compilation().Directories().ForEach([&](const TDEntry* dir) {
      for (const TFEntry* e = dir->FirstEntry; e; e = e->Next)
        if (!e->IsDirectory()) out += (dir->Path == "\\" ? "" : dir->Path) + "\\" + e->LongName + " ";
    });
    return out;
  }
  std::string PathPrefix() const {
    std::string prefix;
    for (const char c : Tmp.Root()) prefix += c == '/' ? '\\' : c;
    return UpperCase(prefix);
  }
  TTempFolder Tmp;
};

TEST_F(CompilationSources, FlatModePutsAFoldersContentsInTheRoot) {
  ASSERT_TRUE(Rec.AddDirectoryTree(Rec.RootDirectory(), Tmp.Path("src/data/"), "*.*", 63, true, false, false));
  EXPECT_EQ(Tree(), "\\a.txt \\SUB\\b.txt \\SUB\\c.bin ");
  EXPECT_EQ(Rec.FindDirectory("\\nothing"), nullptr) << "folders without files are dropped";
  EXPECT_EQ(Rec.FindEntry(Rec.RootDirectory(), "a.txt")->SourcePath(), Tmp.Path("src/data/a.txt"));
}

// Entries keep their folder's path once per folder: files of folders merged
// into one destination, and single files added between scans, must still
// lead to their own source.
TEST_F(CompilationSources, MergedFoldersKeepEachFilesOwnSource) {
  Tmp.Write("src/more/m.txt", "m");
  Tmp.Write("src/more/sub/n.txt", "n");
  Tmp.Write("lone.txt", "l");
  Tmp.Write("src/more/noext", "x");  // named "noext." on the disc
  ASSERT_TRUE(Rec.AddDirectoryTree(Rec.RootDirectory(), Tmp.Path("src/data/"), "*.*", 63, true, false, false));
  ASSERT_TRUE(Rec.AddFileEntry("\\", Tmp.Path("lone.txt"), false));
  ASSERT_TRUE(Rec.AddDirectoryTree(Rec.RootDirectory(), Tmp.Path("src/more/"), "*.*", 63, true, false, false));
  const TDEntry* root = Rec.RootDirectory();
  const TDEntry* sub = Rec.FindDirectory("\\SUB");
  ASSERT_NE(sub, nullptr);
  const std::pair<const TDEntry*, const char*> expected[] = {
      {root, "src/data/a.txt"}, {sub, "src/data/sub/b.txt"}, {sub, "src/data/sub/c.bin"},
      {root, "lone.txt"},       {root, "src/more/m.txt"},    {sub, "src/more/sub/n.txt"},
      {root, "src/more/noext"}};
  for (const auto& [dir, relative] : expected) {
    const std::string name = std::string(relative).substr(std::string(relative).rfind('/') + 1);
    const TFEntry* entry = Rec.FindEntry(dir, name);
    ASSERT_NE(entry, nullptr) << relative;
    EXPECT_EQ(entry->SourcePath(), Tmp.Path(relative));
    EXPECT_TRUE(entry->HasSource());
  }
  EXPECT_FALSE(Rec.FindDirectory("\\SUB")->Self->HasSource()) << "a folder has no source file";
}

// A file is read only when it has bytes: an empty one that nobody may read
// goes in as it is; one with bytes is left out and named, not failed later.
TEST_F(CompilationSources, OnlyFilesWithBytesMustBeReadable) {
  const std::string empty = Tmp.Write("src/data/sub/empty.txt", "");
  ASSERT_EQ(chmod(empty.c_str(), 0), 0);
  ASSERT_TRUE(Rec.AddDirectoryTree(Rec.RootDirectory(), Tmp.Path("src/data/"), "*.*", 63, true, false, false));
  EXPECT_NE(Rec.FindEntry(Rec.FindDirectory("\\SUB"), "empty.txt"), nullptr);
  EXPECT_FALSE(LoggedContaining("CAN'T READ", 4));
  if (geteuid() == 0) GTEST_SKIP() << "root reads any file: the refusal of one with bytes needs another user";
  const std::string secret = Tmp.Write("src/data/secret.txt", "s");
  ASSERT_EQ(chmod(secret.c_str(), 0), 0);
  ASSERT_TRUE(Rec.AddDirectoryTree(Rec.RootDirectory(), Tmp.Path("src/data/"), "*.*", 63, true, false, false));
  EXPECT_EQ(Rec.FindEntry(Rec.RootDirectory(), "secret.txt"), nullptr);
  EXPECT_TRUE(Logged(">>> CAN'T READ FILE, NOT ADDED: " + secret, 4));
  EXPECT_FALSE(Rec.AddFileEntry("\\", secret, false));
}

TEST_F(CompilationSources, WithoutRecursionOnlyTheFoldersOwnFilesGoIn) {
  ASSERT_TRUE(Rec.AddDirectoryTree(Rec.RootDirectory(), Tmp.Path("src/data/"), "*.*", 63, false, false, false));
  EXPECT_EQ(Tree(), "\\a.txt ");
}

TEST_F(CompilationSources, MasksLeaveNoEmptyFolders) {
  ASSERT_TRUE(Rec.AddDirectoryTree(Rec.RootDirectory(), Tmp.Path("src/data/"), "*.bin", 63, true, false, false));
  EXPECT_EQ(Tree(), "\\SUB\\c.bin ");
  EXPECT_EQ(Rec.DirectoryCount(), 1);
}

TEST_F(CompilationSources, FullPathModeRecreatesTheSourcePath) {
  ASSERT_TRUE(Rec.AddDirectoryTree(Rec.RootDirectory(), Tmp.Path("src/data/"), "*.*", 63, true, true, false));
  const TDEntry* data = Rec.FindDirectory(PathPrefix() + "\\SRC\\DATA");
  ASSERT_NE(data, nullptr);
  EXPECT_NE(Rec.FindEntry(data, "a.txt"), nullptr);
  EXPECT_NE(Rec.FindDirectory(PathPrefix() + "\\SRC\\DATA\\SUB"), nullptr);

  Tmp.Write("src/other/d.txt", "d");
  ASSERT_TRUE(Rec.AddFileEntry("\\", Tmp.Path("src/other/d.txt"), true));
  EXPECT_EQ(Rec.FindEntry(Rec.FindDirectory(PathPrefix() + "\\SRC\\OTHER"), "d.txt")->SourcePath(),
            Tmp.Path("src/other/d.txt"));
}

TEST_F(CompilationSources, LastFolderModeKeepsOnlyTheLastFolder) {
  Rec.KeepLastFolderOnly = true;
  ASSERT_TRUE(Rec.AddDirectoryTree(Rec.RootDirectory(), Tmp.Path("src/data/"), "*.*", 63, true, true, false));
  ASSERT_TRUE(Rec.AddFileEntry("\\", Tmp.Path("src/data/sub/b.txt"), true));
  EXPECT_EQ(Tree(), "\\DATA\\a.txt \\DATA\\SUB\\b.txt \\DATA\\SUB\\c.bin \\SUB\\b.txt ");
  EXPECT_EQ(Rec.FindDirectory("\\data")->ShortName, "DATA");
}

TEST_F(CompilationSources, SingleFilesGoToTheDestinationOrFail) {
  EXPECT_TRUE(Rec.AddFileEntry("\\", Tmp.Path("src/data/a.txt"), false));
  EXPECT_FALSE(Rec.AddFileEntry("\\", Tmp.Path("src/data/missing.txt"), false));
  EXPECT_FALSE(Rec.AddFileEntry("\\", Tmp.Path("src/data/sub"), false)) << "folders go through the tree scan";
  EXPECT_FALSE(Rec.AddFileEntry("\\no\\such", Tmp.Path("src/data/a.txt"), false));
  EXPECT_TRUE(Logged("INVALID DESTINATION PATH", 4));
  const TFEntry* a = Rec.FindEntry(Rec.RootDirectory(), "a.txt");
  EXPECT_EQ(a->ISOSize, 3);
  EXPECT_EQ(a->ShortName, "A.TXT");
}

TEST_F(CompilationSources, FolderHandlerSkipsButCannotRename) {
  Tmp.Write("src/data/RECYCLED/gone.txt", "x");
  Rec.OnAddDir = [](TObject*, std::string& longName, std::string& shortName, bool& skip) {
    if (UpperCase(longName) == "RECYCLED") skip = true;
    longName = "renamed";
    shortName = "RENAMED";
  };
  ASSERT_TRUE(Rec.AddDirectoryTree(Rec.RootDirectory(), Tmp.Path("src/data/"), "*.*", 63, true, false, false));
  EXPECT_EQ(Rec.FindDirectory("\\RECYCLED"), nullptr);
  EXPECT_EQ(Rec.FindDirectory("\\renamed"), nullptr);
  EXPECT_NE(Rec.FindDirectory("\\sub"), nullptr);
}

TEST_F(CompilationSources, AFolderNameTooLongForARecordIsLeftOutAlone) {
  const std::string longName(120, 'n');
  Tmp.Write("src/data/" + longName + "/lost.txt", "x");
  ASSERT_TRUE(Rec.AddDirectoryTree(Rec.RootDirectory(), Tmp.Path("src/data/"), "*.*", 63, true, false, false));
  EXPECT_TRUE(LoggedContaining(longName, 4));
  EXPECT_EQ(Tree(), "\\a.txt \\SUB\\b.txt \\SUB\\c.bin ") << "the rest of the folder still goes in";
}

// Source names with characters the disc cannot hold.
class RenamedSources : public CompilationSources {
 protected:
  static std::string Renamed(const std::string& source, const std::string& taken) {
    return ">>> NAME OF \"" + source + "\" CANNOT BE WRITTEN AS IT IS, TAKEN AS \"" + taken + "\"";
  }
  int RenameLines() const {
    int n = 0;
    for (const test::TLogLine& line : Lines)
      n += line.Text.find("CANNOT BE WRITTEN AS IT IS") != std::string::npos;
    return n;
  }
};

TEST_F(RenamedSources, AreToldOnceEachAndStillAdded) {
  Tmp.Write("odd/a\\b.txt", "1");
  Tmp.Write("odd/tab\tname.txt", "2");
  Tmp.Write("odd/x\\y/in.txt", "3");
  ASSERT_TRUE(Rec.AddDirectoryTree(Rec.RootDirectory(), Tmp.Path("odd/"), "*.*", 63, true, false, false));
  EXPECT_TRUE(Logged(Renamed(Tmp.Path("odd/a\\b.txt"), "a_b.txt"), 4));
  EXPECT_TRUE(Logged(Renamed(Tmp.Path("odd/tab\\x09name.txt"), "tab_name.txt"), 4))
      << "the control character shown, not written into the log";
  EXPECT_TRUE(Logged(Renamed(Tmp.Path("odd/x\\y"), "x_y"), 4));
  EXPECT_EQ(RenameLines(), 3);
  EXPECT_NE(Rec.FindEntry(Rec.RootDirectory(), "a_b.txt"), nullptr);
  EXPECT_NE(Rec.FindEntry(Rec.RootDirectory(), "tab_name.txt"), nullptr);
  EXPECT_NE(Rec.FindEntry(Rec.FindDirectory("\\x_y"), "in.txt"), nullptr);
  EXPECT_EQ(Rec.FileCount(), 4);

  // The same sources again add nothing and tell nothing.
  ASSERT_TRUE(Rec.AddDirectoryTree(Rec.RootDirectory(), Tmp.Path("odd/"), "*.*", 63, true, false, false));
  EXPECT_FALSE(Rec.AddFileEntry("\\", Tmp.Path("odd/a\\b.txt"), false));
  EXPECT_EQ(RenameLines(), 3);
}

TEST_F(RenamedSources, ASingleFileIsToldToo) {
  const std::string source = Tmp.Write("odd/bell\x07.txt", "1");
  ASSERT_TRUE(Rec.AddFileEntry("\\", source, false));
  EXPECT_TRUE(Logged(Renamed(Tmp.Path("odd/bell\\x07.txt"), "bell_.txt"), 4));
  EXPECT_NE(Rec.FindEntry(Rec.RootDirectory(), "bell_.txt"), nullptr);
}

TEST_F(RenamedSources, AClashTheyCauseHasItsReasonBesideIt) {
  Tmp.Write("odd/a\\b.txt", "renamed");
  Tmp.Write("odd/a_b.txt", "plain");
  Tmp.Write("odd/x\\y/one.txt", "1");
  Tmp.Write("odd/x_y/two.txt", "2");
  ASSERT_TRUE(Rec.AddDirectoryTree(Rec.RootDirectory(), Tmp.Path("odd/"), "*.*", 63, true, false, false));
  EXPECT_TRUE(Logged(Renamed(Tmp.Path("odd/a\\b.txt"), "a_b.txt"), 4));
  // Whichever of the two the folder lists second is left out, and named.
  const std::string leftOut = ">>> NAME ALREADY USED BY ANOTHER ENTRY, NOT ADDED: ";
  EXPECT_NE(Logged(leftOut + Tmp.Path("odd/a\\b.txt"), 4), Logged(leftOut + Tmp.Path("odd/a_b.txt"), 4));
  EXPECT_NE(Rec.FindEntry(Rec.RootDirectory(), "a_b.txt"), nullptr);
  // Two source folders that become one are told, whichever came first.
  EXPECT_TRUE(Logged(Renamed(Tmp.Path("odd/x\\y"), "x_y"), 4));
  EXPECT_NE(Rec.FindEntry(Rec.FindDirectory("\\x_y"), "one.txt"), nullptr);
  EXPECT_NE(Rec.FindEntry(Rec.FindDirectory("\\x_y"), "two.txt"), nullptr);
  EXPECT_EQ(RenameLines(), 2);
}

TEST_F(RenamedSources, FoldersOfAKeptPathAreToldWhenMade) {
  Tmp.Write("we\\ird/f1.txt", "1");
  Tmp.Write("we\\ird/f2.txt", "2");
  Rec.KeepLastFolderOnly = true;
  ASSERT_TRUE(Rec.AddFileEntry("\\", Tmp.Path("we\\ird/f1.txt"), true));
  ASSERT_TRUE(Rec.AddFileEntry("\\", Tmp.Path("we\\ird/f2.txt"), true));
  ASSERT_TRUE(Rec.AddDirectoryTree(Rec.RootDirectory(), Tmp.Path("we\\ird/"), "*.*", 63, true, true, false));
  EXPECT_TRUE(Logged(Renamed(Tmp.Path("we\\ird"), "we_ird"), 4));
  EXPECT_EQ(RenameLines(), 1);
  EXPECT_NE(Rec.FindEntry(Rec.FindDirectory("\\we_ird"), "f1.txt"), nullptr);
  EXPECT_NE(Rec.FindEntry(Rec.FindDirectory("\\we_ird"), "f2.txt"), nullptr);

  Rec.KeepLastFolderOnly = false;
  const std::string sub = Tmp.Write("we\\ird/s\x1Bub/f3.txt", "3");
  ASSERT_TRUE(Rec.AddFileEntry("\\", sub, true));
  EXPECT_TRUE(Logged(Renamed(Tmp.Path("we\\ird"), "we_ird"), 4));
  EXPECT_TRUE(Logged(Renamed(Tmp.Path("we\\ird/s\\x1Bub"), "s_ub"), 4));
  EXPECT_EQ(RenameLines(), 3) << "the full path makes its own folder of the same source";
}

TEST_F(CompilationSources, FolderSizeSumsEveryLevel) {
  EXPECT_EQ(TQzRecorder::FolderSize(Tmp.Path("src/data/")), 6);
  EXPECT_EQ(TQzRecorder::FolderSize(Tmp.Path("src/data/a.txt")), 3);
  EXPECT_EQ(TQzRecorder::FolderSize(Tmp.Path("src/none/")), 0);
}

}  // namespace
}  // namespace fornax
