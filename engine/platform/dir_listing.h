#pragma once
// Directory search over the local file system: what a search reports for one
// item, with the 8.3 alias the compilation uses for the ISO 9660 tree.

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/platform/open_folder.h"
#include "engine/platform/short_name_table.h"
#include "engine/platform/short_names.h"

namespace fornax {

// Attribute bits, as the compilation records them.
inline constexpr int faReadOnly = 0x01;
inline constexpr int faHidden = 0x02;
inline constexpr int faSysFile = 0x04;
inline constexpr int faDirectory = 0x10;
inline constexpr int faArchive = 0x20;
inline constexpr int faAnyFile = 0x3F;

// One item of a directory search.
struct TSearchRec {
  std::string Name;       // the name as stored on the file system; source paths are built from it
  std::string LongName;   // the name for the compilation (UTF-8; see MakeLongName)
  std::string ShortName;  // 8.3 alias of ISO 9660 d-characters; empty when LongName already is one
  int Attr = 0;           // faDirectory, faHidden, faArchive
  int64_t Size = 0;       // bytes; 0 for directories
  int64_t WriteTime = 0;  // last modification, seconds since the Unix epoch
  uint64_t Device = 0;    // identity of the item, to notice folders reached twice
  uint64_t Inode = 0;
  // What a Rock Ridge tree records; Mode 0 when unknown. A link's own (lstat)
  // for a link made by ReadLinkItem, the target's otherwise.
  uint32_t Mode = 0;
  uint32_t Uid = 0, Gid = 0;
  int64_t AccessTime = 0, ChangeTime = 0;
  bool Link = false;       // the entry is a symbolic link
  std::string LinkTarget;  // set by ReadLinkItem
  // A character or block device's numbers (st_rdev); only an imported
  // session brings devices into a compilation.
  uint32_t DeviceMajor = 0, DeviceMinor = 0;
};

// An entry a search does not report as an item, for the caller to tell the
// user: a symbolic link to a folder, or a special file; or, for a tree that
// records links as links, a link.
struct TPassedOver {
  std::string Name;
  TEntryKind Kind = TEntryKind::LinkToFolder;  // never File or Folder
  int Attr = 0;  // faHidden by the name; faDirectory for a link to a folder
  std::string ShortName;  // a Link's alias, unique among the folder's items and links
};

struct TSearchResult {
  std::vector<TSearchRec> Items;
  std::vector<TPassedOver> PassedOver;  // what the search let through but cannot be an item
  bool Ok = true;         // false when the folder could not be read
  std::string Error;      // the system's reason when not Ok
  bool Cut = false;       // the cancel flag stopped the search; the lists are partial
};

// Items of Folder (with or without a trailing "/") whose name matches Mask and
// whose attributes fit AttrMask, in the order the file system returns them.
// "." and ".." are not reported. A symbolic link to a file is reported as that
// file. Links to folders, devices, pipes and sockets are no items, since a
// link to a folder would bring a tree twice or in a circle and reading a
// special file can block for ever: they go to PassedOver (under the same mask
// and attribute rules, a link to a folder counting as a folder). Dangling
// links are not reported.
// Mask is tried on LongName and on Name. An item is left out when it has
// faHidden or faDirectory and AttrMask lacks that bit (faAnyFile: everything).
// Short names are unique across the whole folder, whatever Mask and AttrMask
// let through. Ok is false with the system's reason when the folder cannot be
// read, and also when one of its items could not be examined (Error then names
// it); Items holds what could be read.
TSearchResult FindFiles(const std::string& Folder, const std::string& Mask, int AttrMask);

// What a ListFolder reports besides the items. With LinksAsLinks (a tree that
// records links as links), no link is followed: each goes to PassedOver as
// TEntryKind::Link. Without ArchiveState no item has faArchive: the
// state is one more look-up per file, by path, that only an archive-only scan
// needs.
struct TListOptions {
  bool LinksAsLinks = false;
  bool ArchiveState = true;
};

// FindFiles(Path, "*.*", faAnyFile) for a folder already open as Folder (Path
// is where it is, for the attributes and the caller's messages); it reads
// Folder's entries, so it is called once per open. Cancel (may be null) is
// looked at before each entry. Short names are made as FindFiles makes them.
TSearchResult ListFolder(TOpenFolder& Folder, const std::string& Path,
                         const std::atomic<bool>* Cancel = nullptr, TListOptions Options = {});

// ListFolder in two steps, for a folder read on one thread and listed on
// another: its entries and their short names (the system calls and the
// aliases), then the listing made from them. The short names may be left to
// the second step (NameLater): ListingOf makes them when they are not there.
struct TReadFolder {
  TFolderEntries Read;
  std::optional<TFolderShortNames> ShortNames;
};
enum class TFolderNaming { NameNow, NameLater };
TReadFolder ReadFolder(TOpenFolder& Folder, const std::atomic<bool>* Cancel = nullptr, TListOptions Options = {},
                       TFolderNaming Naming = TFolderNaming::NameNow);
// ReadFolder once the folder's names are read (Folder.ReadNames): the
// entries examined, and the aliases of a large folder made meanwhile.
TReadFolder ExamineFolder(const TOpenFolder& Folder, TFolderNames Names, const std::atomic<bool>* Cancel = nullptr,
                          TListOptions Options = {}, TFolderNaming Naming = TFolderNaming::NameNow);
// The short names of a folder read with NameLater.
void NameFolder(TReadFolder& Folder);
TSearchResult ListingOf(const TReadFolder& Folder, const std::string& Path, TListOptions Options = {});

// The path of Name inside Folder: "a" + "b" -> "a/b", "a/" + "b" -> "a/b",
// "" + "b" -> "b".
std::string ChildPath(const std::string& Folder, const std::string& Name);

// Whether a listed item passes the Mask and AttrMask of a search, as FindFiles
// chooses its items (Attr is an item's or a passed-over entry's).
bool MatchesSearch(const std::string& Name, const std::string& LongName, int Attr,
                   const std::string& Mask, int AttrMask);

// The item at Path (a file or a folder; "dir/" is the folder, "file/" nothing),
// with the same short name a search of its folder gives it. False when there is
// no such file or folder, when Path names no item of a folder ("/", "x/..") or
// when AttrMask leaves it out. Searching the items of one folder one by one
// costs one scan of the folder: the last folder's short names are kept until
// the folder changes.
bool FindFile(const std::string& Path, int AttrMask, TSearchRec& Item);

// The symbolic link Name of the open folder Folder as itself, not followed:
// its lstat, its target, and the names a search makes (the 8.3 alias made on
// its own). False when it is no link (any more) or cannot be read.
bool ReadLinkItem(int Folder, const std::string& Name, TSearchRec& Item);

// Windows wildcard match, without regard to case: "*" any run, "?" one
// character, and "*.*" every name (with or without a dot). An empty mask
// matches every name.
bool MatchesMask(const std::string& Name, const std::string& Mask);

// Attributes the compilation reads for an existing item: faDirectory, faHidden
// (a name starting with "."), and faArchive for a file changed since it was
// last archived; -1 when there is no item at Path. Folders never report
// faArchive.
// The archive state is the user extended attribute "user.fornax.archived",
// holding the file's mtime and size when it was archived; a file without it, or
// whose mtime or size moved since, has faArchive. Where the file system keeps
// no user attributes (some tmpfs, NFS) every file has faArchive.
int ReadAttributes(const std::string& Path);
// Sets the archive state of a file: archive=false records "archived as it is
// now", archive=true forgets the record. Returns false when it cannot be
// recorded: no such item, no user attributes on the file system, or no write
// permission on the file (the system asks for it to set attributes). Folders
// have no state: false gives true, true gives false.
bool SetArchiveAttribute(const std::string& Path, bool archive);

}  // namespace fornax
