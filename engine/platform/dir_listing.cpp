#include "engine/platform/dir_listing.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <future>
#include <system_error>
#include <mutex>
#include <optional>

#include "engine/platform/file_attributes.h"
#include "engine/platform/short_name_table.h"

namespace fornax {
namespace {

// FindFile takes what a folder search would take as an item.
bool IsListable(const struct stat& Info) {
  return S_ISREG(Info.st_mode) || S_ISDIR(Info.st_mode);
}

bool IsItem(const TFolderEntry& entry) {
  return entry.Kind == TEntryKind::File || entry.Kind == TEntryKind::Folder;
}

bool Excluded(int basicAttr, int AttrMask) {
  return (basicAttr & (faHidden | faSysFile | faDirectory) & ~AttrMask) != 0;
}

// "a/b//" -> "a/b", so that a folder has one spelling in the cache key; "/"
// stays the root.
std::string WithoutTrailingSlashes(const std::string& Path) {
  const size_t end = Path.find_last_not_of('/');
  if (end == std::string::npos) return Path.empty() ? Path : "/";
  return Path.substr(0, end + 1);
}

// What the aliases of a folder are made from: its items, and the links a
// tree of links records, in order.
std::vector<TFolderItemName> ItemsOf(const TFolderEntries& read) {
  std::vector<TFolderItemName> items;
  items.reserve(read.Entries.size());
  for (const TFolderEntry& entry : read.Entries)
    if (IsItem(entry) || entry.Kind == TEntryKind::Link)
      items.push_back({entry.Name, entry.Kind == TEntryKind::Folder});
  return items;
}

TFolderShortNames ShortNamesOf(const TFolderEntries& read) { return AssignShortNames(ItemsOf(read)); }

// Below this many names a folder's aliases are made after its entries are
// examined: a thread would cost more than it saves.
constexpr size_t kNameAlongsideFrom = 2048;

// The items the folder's entry types promise, in order: false when a type
// says too little (a link, or none kept) to tell an item before examining it.
bool PromisedItems(const TFolderNames& names, std::vector<TFolderItemName>& items) {
  items.reserve(names.Names.size());
  for (const TFolderName& name : names.Names) {
    if (name.Type == DT_REG || name.Type == DT_DIR) items.push_back({name.Name, name.Type == DT_DIR});
    else if (!IsSpecialEntryType(name.Type)) return false;
  }
  return true;
}

// Whether the items examined are the items promised, in the same order and
// of the same kinds: an entry gone, or changed from file to folder meanwhile,
// would give other aliases.
bool KeptPromise(const TFolderEntries& read, const std::vector<TFolderItemName>& promised) {
  const std::vector<TFolderItemName> items = ItemsOf(read);
  return std::equal(items.begin(), items.end(), promised.begin(), promised.end(),
                    [](const TFolderItemName& a, const TFolderItemName& b) {
                      return a.Name == b.Name && a.IsDirectory == b.IsDirectory;
                    });
}

// Folder is where the item lies; its path is only built to read the archive
// state, when ArchiveState asks for it.
TSearchRec MakeRecord(const std::string& Folder, const std::string& Name, std::string LongName,
                      const struct stat& Info, bool ArchiveState) {
  TSearchRec rec;
  rec.Name = Name;
  rec.LongName = std::move(LongName);
  rec.Attr = ArchiveState ? ItemAttributes(ChildPath(Folder, Name), Name, Info) : BasicAttributes(Name, Info);
  rec.Size = S_ISDIR(Info.st_mode) ? 0 : static_cast<int64_t>(Info.st_size);
  rec.WriteTime = static_cast<int64_t>(Info.st_mtim.tv_sec);
  rec.Device = static_cast<uint64_t>(Info.st_dev);
  rec.Inode = static_cast<uint64_t>(Info.st_ino);
  rec.Mode = static_cast<uint32_t>(Info.st_mode);
  rec.Uid = static_cast<uint32_t>(Info.st_uid);
  rec.Gid = static_cast<uint32_t>(Info.st_gid);
  rec.AccessTime = static_cast<int64_t>(Info.st_atim.tv_sec);
  rec.ChangeTime = static_cast<int64_t>(Info.st_ctim.tv_sec);
  return rec;
}

struct TListing {
  TSearchResult Result;
  TFolderShortNames ShortNames;
};

// The entries of a folder read at Folder that pass Mask and AttrMask: items
// with their aliases, and what cannot be an item. Aliases cover the whole
// folder, not only what the mask lets through, so that two searches with
// different masks never hand out the same alias twice.
TSearchResult ListingWithNames(const TFolderEntries& read, const TFolderShortNames& shortNames,
                               const std::string& Folder, const std::string& Mask, int AttrMask,
                               bool ArchiveState) {
  TSearchResult result;
  result.Ok = read.Ok;
  result.Error = read.Error;
  result.Cut = read.Cut;
  result.Items.reserve(read.Entries.size());
  for (const TFolderEntry& entry : read.Entries) {
    const int basicAttr = BasicAttributes(entry.Name, entry.Info);
    std::string longName = MakeLongName(entry.Name);
    if (!MatchesSearch(entry.Name, longName, basicAttr, Mask, AttrMask)) continue;
    if (!IsItem(entry)) {
      result.PassedOver.push_back({entry.Name, entry.Kind, basicAttr, {}});
      if (const auto alias = shortNames.find(entry.Name); alias != shortNames.end() && entry.Kind == TEntryKind::Link)
        result.PassedOver.back().ShortName = alias->second;
      continue;
    }
    TSearchRec rec = MakeRecord(Folder, entry.Name, std::move(longName), entry.Info, ArchiveState);
    if (const auto alias = shortNames.find(entry.Name); alias != shortNames.end()) rec.ShortName = alias->second;
    rec.Link = entry.Link;
    result.Items.push_back(std::move(rec));
  }
  return result;
}

TListing BuildListing(const TFolderEntries& read, const std::string& Folder, const std::string& Mask,
                      int AttrMask, bool ArchiveState) {
  TListing listing;
  listing.ShortNames = ShortNamesOf(read);
  listing.Result = ListingWithNames(read, listing.ShortNames, Folder, Mask, AttrMask, ArchiveState);
  return listing;
}

// What identifies a folder's contents: adding, removing or renaming an item
// changes the folder's mtime and ctime.
struct TFolderStamp {
  std::string Path;
  dev_t Device = 0;
  ino_t Inode = 0;
  timespec Modified{};
  timespec Changed{};

  bool operator==(const TFolderStamp& o) const {
    return Path == o.Path && Device == o.Device && Inode == o.Inode &&
           Modified.tv_sec == o.Modified.tv_sec && Modified.tv_nsec == o.Modified.tv_nsec &&
           Changed.tv_sec == o.Changed.tv_sec && Changed.tv_nsec == o.Changed.tv_nsec;
  }
};

std::optional<TFolderStamp> StampOf(const std::string& Folder) {
  struct stat info;
  if (stat(Folder.c_str(), &info) != 0) return std::nullopt;
  return TFolderStamp{Folder, info.st_dev, info.st_ino, info.st_mtim, info.st_ctim};
}

timespec WallClock() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return now;
}

// File systems stamp times at a coarse tick (a second on some), so a folder
// changed again within the tick of its last change keeps its stamp. A table is
// only kept once its folder has been still for longer than any tick.
bool Settled(const TFolderStamp& stamp, const timespec& scanStarted) {
  return stamp.Changed.tv_sec + 2 < scanStarted.tv_sec;
}

// The short-name table of the folder searched last, so that taking the items of
// one folder one by one costs one scan, not one per item.
class TShortNameCache {
 public:
  std::optional<std::string> Lookup(const TFolderStamp& stamp, const std::string& Name) {
    std::lock_guard<std::mutex> guard(lock_);
    if (!stamp_ || !(*stamp_ == stamp)) return std::nullopt;
    const auto found = names_.find(Name);
    if (found == names_.end()) return std::nullopt;
    return found->second;
  }

  void Store(const TFolderStamp& stamp, TFolderShortNames names) {
    std::lock_guard<std::mutex> guard(lock_);
    stamp_ = stamp;
    names_ = std::move(names);
  }

 private:
  std::mutex lock_;
  std::optional<TFolderStamp> stamp_;
  TFolderShortNames names_;
};

TShortNameCache& Cache() {
  static TShortNameCache cache;
  return cache;
}

void Remember(const std::optional<TFolderStamp>& stamp, const timespec& scanStarted,
              TFolderShortNames names) {
  if (stamp && Settled(*stamp, scanStarted)) Cache().Store(*stamp, std::move(names));
}

// The alias a search of Folder gives Name.
std::string FolderShortName(const std::string& Folder, const std::string& Name,
                            const std::string& LongName, bool isDirectory) {
  const timespec started = WallClock();
  const std::optional<TFolderStamp> stamp = StampOf(Folder);
  if (stamp) {
    if (std::optional<std::string> cached = Cache().Lookup(*stamp, Name)) return *cached;
    TOpenFolder open = TOpenFolder::Open(Folder);
    if (open.IsOpen()) {
      TFolderShortNames names = ShortNamesOf(open.ReadEntries());
      const auto found = names.find(Name);
      std::optional<std::string> alias;
      if (found != names.end()) alias = found->second;
      Remember(stamp, started, std::move(names));
      if (alias) return *alias;
    }
  }
  // A folder that cannot be listed has no search to agree with, and an item
  // that appeared after the scan is not in it: the alias stands on its own.
  return MakeShortName(LongName, [](const std::string&) { return false; }, isDirectory);
}

}  // namespace

std::string ChildPath(const std::string& Folder, const std::string& Name) {
  if (Folder.empty()) return Name;
  return Folder.back() == '/' ? Folder + Name : Folder + "/" + Name;
}

TSearchResult FindFiles(const std::string& Folder, const std::string& Mask, int AttrMask) {
  const std::string folder = WithoutTrailingSlashes(Folder);
  const timespec started = WallClock();
  const std::optional<TFolderStamp> stamp = StampOf(folder);
  TOpenFolder open = TOpenFolder::Open(folder);
  if (!open.IsOpen()) {
    TSearchResult result;
    result.Ok = false;
    result.Error = SystemErrorText(open.Error());
    return result;
  }
  TListing listing = BuildListing(open.ReadEntries(), folder, Mask, AttrMask, true);
  Remember(stamp, started, std::move(listing.ShortNames));
  return std::move(listing.Result);
}

TSearchResult ListFolder(TOpenFolder& Folder, const std::string& Path, const std::atomic<bool>* Cancel,
                         TListOptions Options) {
  return ListingOf(ReadFolder(Folder, Cancel, Options), Path, Options);
}

TReadFolder ReadFolder(TOpenFolder& Folder, const std::atomic<bool>* Cancel, TListOptions Options,
                       TFolderNaming Naming) {
  // A folder that is not open reads as not Ok, with the reason it was not.
  return ExamineFolder(Folder, Folder.ReadNames(Cancel), Cancel, Options, Naming);
}

TReadFolder ExamineFolder(const TOpenFolder& Folder, TFolderNames names, const std::atomic<bool>* Cancel,
                          TListOptions Options, TFolderNaming Naming) {
  TReadFolder folder;
  // The aliases of a large folder are made on a second thread while its
  // entries are examined, from the types the folder keeps for its names;
  // they stand only if the examination finds exactly those items.
  std::vector<TFolderItemName> promised;
  std::future<TFolderShortNames> naming;
  if (!names.Cut && names.Names.size() >= kNameAlongsideFrom && PromisedItems(names, promised)) {
    try {
      naming = std::async(std::launch::async, [&promised] { return AssignShortNames(promised); });
    } catch (const std::system_error&) {
      // No thread to be had: the names are made after.
    }
  }
  folder.Read = Folder.Examine(std::move(names), Cancel, Options.LinksAsLinks);
  if (naming.valid()) {
    try {
      TFolderShortNames made = naming.get();
      if (!folder.Read.Cut && KeptPromise(folder.Read, promised)) folder.ShortNames = std::move(made);
    } catch (const std::exception&) {
      // Made again below, where such a failure is reported as ever.
    }
  }
  if (Naming == TFolderNaming::NameNow) NameFolder(folder);
  return folder;
}

void NameFolder(TReadFolder& Folder) {
  if (!Folder.ShortNames) Folder.ShortNames = ShortNamesOf(Folder.Read);
}

TSearchResult ListingOf(const TReadFolder& Folder, const std::string& Path, TListOptions Options) {
  // A folder the read-ahead left unnamed is named here, for this listing only.
  TFolderShortNames madeHere;
  if (!Folder.ShortNames) madeHere = ShortNamesOf(Folder.Read);
  const TFolderShortNames& shortNames = Folder.ShortNames ? *Folder.ShortNames : madeHere;
  return ListingWithNames(Folder.Read, shortNames, WithoutTrailingSlashes(Path), "*.*", faAnyFile,
                          Options.ArchiveState);
}

bool MatchesSearch(const std::string& Name, const std::string& LongName, int Attr,
                   const std::string& Mask, int AttrMask) {
  if (Excluded(Attr, AttrMask)) return false;
  return MatchesMask(LongName, Mask) || (LongName != Name && MatchesMask(Name, Mask));
}

bool ReadLinkItem(int Folder, const std::string& Name, TSearchRec& Item) {
  struct stat info {};
  if (fstatat(Folder, Name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISLNK(info.st_mode)) return false;
  std::string target(static_cast<size_t>(info.st_size > 0 ? info.st_size : 255) + 1, '\0');
  const ssize_t length = readlinkat(Folder, Name.c_str(), target.data(), target.size());
  // A target longer than the link said has changed since: not the link examined.
  if (length <= 0 || static_cast<size_t>(length) >= target.size()) return false;
  target.resize(static_cast<size_t>(length));
  TSearchRec rec;
  rec.Name = Name;
  rec.LongName = MakeLongName(Name);
  rec.Attr = BasicAttributes(Name, info);
  rec.WriteTime = static_cast<int64_t>(info.st_mtim.tv_sec);
  rec.Device = static_cast<uint64_t>(info.st_dev);
  rec.Inode = static_cast<uint64_t>(info.st_ino);
  rec.Mode = static_cast<uint32_t>(info.st_mode);
  rec.Uid = static_cast<uint32_t>(info.st_uid);
  rec.Gid = static_cast<uint32_t>(info.st_gid);
  rec.AccessTime = static_cast<int64_t>(info.st_atim.tv_sec);
  rec.ChangeTime = static_cast<int64_t>(info.st_ctim.tv_sec);
  rec.Link = true;
  rec.LinkTarget = std::move(target);
  if (!IsShortNameValid(rec.LongName, false))
    rec.ShortName = MakeShortName(rec.LongName, [](const std::string&) { return false; }, false);
  Item = std::move(rec);
  return true;
}

bool FindFile(const std::string& Path, int AttrMask, TSearchRec& Item) {
  const std::string path = WithoutTrailingSlashes(Path);
  const size_t slash = path.rfind('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.empty() || name == "." || name == "..") return false;
  const std::string folder =
      slash == std::string::npos ? "." : WithoutTrailingSlashes(path.substr(0, slash + 1));

  // The path as given, so that "file/" is no file, as the system has it.
  struct stat info;
  if (stat(Path.c_str(), &info) != 0 || !IsListable(info)) return false;
  if (Excluded(BasicAttributes(name, info), AttrMask)) return false;
  TSearchRec rec = MakeRecord(folder, name, MakeLongName(name), info, true);
  const bool isDirectory = S_ISDIR(info.st_mode);
  if (!IsShortNameValid(rec.LongName, isDirectory))
    rec.ShortName = FolderShortName(folder, name, rec.LongName, isDirectory);
  Item = std::move(rec);
  return true;
}

}  // namespace fornax
