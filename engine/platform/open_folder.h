#pragma once
// An open folder: its entries are examined, and its subfolders opened,
// relative to its descriptor, so that each entry costs one system call and no
// path is looked up again from the root.

#include <dirent.h>
#include <sys/stat.h>

#include <atomic>
#include <string>
#include <vector>

namespace fornax {

// What an entry of a folder is, as far as copying it goes.
enum class TEntryKind {
  File,          // a regular file, or a link to one
  Folder,        // a folder (never a link)
  LinkToFolder,  // a symbolic link whose target is a folder
  Fifo,          // special files, and links to them: never opened, since
  Socket,        // reading a FIFO waits for a writer that may never come and
  Device,        // a device is no file to copy
  Link           // a symbolic link, not followed: a tree that records links as links
};

struct TFolderEntry {
  std::string Name;
  TEntryKind Kind = TEntryKind::File;
  bool Link = false;    // the entry is a symbolic link (File, LinkToFolder, Link)
  struct stat Info {};  // File: the file (a link's target); Folder: the folder; Link: the link; else unset
};

struct TFolderEntries {
  std::vector<TFolderEntry> Entries;  // in the order the file system returns them
  bool Ok = true;      // false when the folder, or one of its entries, could not be read
  std::string Error;   // the system's reason (prefixed by the entry's name) when not Ok
  bool Cut = false;    // the cancel flag stopped the reading; Entries holds what came before
};

// The system's text for an errno value.
std::string SystemErrorText(int Error);

// A folder's names as read, before any entry is examined: each with the type
// the folder keeps for it (DT_REG, DT_DIR, ...; DT_UNKNOWN where it keeps none).
struct TFolderName {
  std::string Name;
  unsigned char Type = DT_UNKNOWN;
};
struct TFolderNames {
  std::vector<TFolderName> Names;  // in the order the file system returns them
  bool Ok = true;
  std::string Error;
  bool Cut = false;
};

// Whether an entry of this type is a special file, told without examining it.
bool IsSpecialEntryType(unsigned char Type);

class TOpenFolder {
 public:
  TOpenFolder() = default;
  ~TOpenFolder();
  TOpenFolder(TOpenFolder&& other) noexcept;
  TOpenFolder& operator=(TOpenFolder&& other) noexcept;
  TOpenFolder(const TOpenFolder&) = delete;
  TOpenFolder& operator=(const TOpenFolder&) = delete;

  // The folder at Path; a link at Path itself is followed, as the caller
  // named it.
  static TOpenFolder Open(const std::string& Path);
  // The subfolder Name, never through a symbolic link.
  TOpenFolder OpenChild(const std::string& Name) const;

  bool IsOpen() const { return FDir != nullptr; }
  int Error() const { return FError; }  // errno of a failed open
  int Descriptor() const { return FDir ? dirfd(FDir) : -1; }

  // Every entry but "." and "..", read once from the start of the folder. A
  // link is followed, and one leading nowhere (or in a circle) is no entry;
  // with `LinksAsLinks` (a tree that records links as links) a link is never
  // followed: it is a Link, examined by its own lstat alone, which comes
  // before anything that would mark it read. An entry deleted meanwhile is
  // no entry; any other entry that cannot be examined makes the result not
  // Ok, which the caller must hear about rather than lose the file
  // unnoticed. Cancel (may be null) is looked at before each entry.
  TFolderEntries ReadEntries(const std::atomic<bool>* Cancel = nullptr, bool LinksAsLinks = false);
  // ReadEntries in its two steps, so that a caller may work on the names
  // while the entries are examined: every name, read once from the start of
  // the folder; then each of them examined, as ReadEntries does.
  TFolderNames ReadNames(const std::atomic<bool>* Cancel = nullptr);
  TFolderEntries Examine(TFolderNames Names, const std::atomic<bool>* Cancel = nullptr, bool LinksAsLinks = false) const;

 private:
  explicit TOpenFolder(DIR* dir, int error) : FDir(dir), FError(error) {}
  static TOpenFolder FromDescriptor(int descriptor);

  DIR* FDir = nullptr;
  int FError = 0;
};

}  // namespace fornax
