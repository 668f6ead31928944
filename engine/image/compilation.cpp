#include "engine/image/compilation.h"

#include <sys/stat.h>

#include <algorithm>
#include <ctime>
#include <functional>
#include <string_view>
#include <fmt/format.h>

#include "engine/base/device_base.h"
#include "engine/base/text.h"
#include "engine/image/iso_names.h"
#include "engine/base/messages.h"

namespace fornax {
namespace {

int64_t RoundedSize(int64_t size) { return (size + 2047) / 2048 * 2048; }

// The longest name the Joliet tree takes, in UTF-16 code units.
constexpr size_t kJolietNameUnits = 108;

TDateTime ListingDate(const TSearchRec& listing) {
  TDateTime value;
  return FileDateToDateTime(listing.WriteTime, value) ? value : Now();
}

// Readers drop a final dot ("README." shows as README), so names that differ
// only by it are one name in a directory.
std::string NameKey(const std::string& name) {
  std::string key = UpperCase(name);
  if (key.size() > 1 && key.back() == '.') key.pop_back();
  return key;
}

uint64_t KeyHash(const std::string& key) { return std::hash<std::string>{}(key); }

// The entry of Index whose key (KeyOf) is Key.
template <typename TKeyOf>
TFEntry* FindByKey(const TNameIndex& Index, const std::string& Key, TKeyOf KeyOf) {
  return Index.Find(KeyHash(Key), [&](const TFEntry* entry) { return KeyOf(*entry) == Key; });
}

std::string LongNameKey(const TFEntry& entry) { return NameKey(entry.LongName); }
std::string IsoKey(const TFEntry& entry) { return IsoNameKey(entry.ShortName); }

// A key stays with the entry it was given to first, as a map's emplace has it.
template <typename TKeyOf>
void IndexUnder(TNameIndex& Index, TFEntry* Entry, TKeyOf KeyOf) {
  const std::string key = KeyOf(*Entry);
  if (!FindByKey(Index, key, KeyOf)) Index.Insert(Entry, KeyHash(key));
}

std::string StripOneTrailingBackslash(std::string path) {
  if (!path.empty() && path.back() == '\\') path.pop_back();
  return path;
}

}  // namespace

TCompilation::TCompilation(TCompilationHost& host) : FHost(host) {}
TCompilation::~TCompilation() = default;

void TCompilation::ClearCompilation(int MaxFiles, int MaxDirs) {
  FFiles.Clear();
  FDirs.Clear();
  FIsoOrder.clear();
  FJolietOrder.clear();
  FByPath.clear();
  FSourceFolders.clear();
  FMaxFiles = MaxFiles;
  // Path tables number parents with 16 bits.
  FMaxDirs = std::min(MaxDirs, 65535);
  FCompilationBytes = 0;

  auto root = std::make_unique<TDEntry>();
  root->ShortName = "CD_ROOT";
  root->LongName = "CD Root Directory";
  root->Path = "\\";
  FRoot = FDirs.Add(std::move(root));
  FRoot->Parent = FRoot;
  FIsoOrder.push_back(FRoot);
  FJolietOrder.push_back(FRoot);
}

TDEntry* TCompilation::NewDirectoryRecord() {
  TDEntry* dir = FDirs.Add(std::make_unique<TDEntry>());
  FIsoOrder.push_back(dir);
  FJolietOrder.push_back(dir);
  return dir;
}

TFEntry* TCompilation::NewFileRecord() {
  if (static_cast<int>(FFiles.Count()) >= FMaxFiles) {
    FHost.Report(fmt::format(kMsgMaxFiles, FMaxFiles), ltCapacity);
    return nullptr;
  }
  return FFiles.Add(std::make_unique<TFEntry>());
}

void TCompilation::Append(TDEntry* Dir, TFEntry* Entry) {
  Entry->Owner = Dir;
  Entry->Next = nullptr;
  Entry->Prev = Dir->LastEntry;
  if (Dir->LastEntry)
    Dir->LastEntry->Next = Entry;
  else
    Dir->FirstEntry = Entry;
  Dir->LastEntry = Entry;
}

void TCompilation::Unlink(TDEntry* Dir, TFEntry* Entry) {
  if (Entry->Prev)
    Entry->Prev->Next = Entry->Next;
  else
    Dir->FirstEntry = Entry->Next;
  if (Entry->Next)
    Entry->Next->Prev = Entry->Prev;
  else
    Dir->LastEntry = Entry->Prev;
  Entry->Next = Entry->Prev = nullptr;
}

void TCompilation::IndexName(TDEntry* Dir, TFEntry* Entry) {
  IndexUnder(Dir->ByName, Entry, LongNameKey);
  IndexUnder(Dir->ByIsoName, Entry, IsoKey);
}

void TCompilation::UnindexName(TDEntry* Dir, TFEntry* Entry) {
  Dir->ByName.Erase(Entry, KeyHash(LongNameKey(*Entry)));
  Dir->ByIsoName.Erase(Entry, KeyHash(IsoKey(*Entry)));
  Dir->TailHints.clear();  // a tail may be free again
}

// The files of one folder come one after another, so the folder added last
// is the one to share.
const std::string* TCompilation::SourceFolderOf(std::string_view Folder) {
  if (FSourceFolders.empty() || FSourceFolders.back() != Folder) FSourceFolders.emplace_back(Folder);
  return &FSourceFolders.back();
}

void TCompilation::SetSource(TFEntry* Entry, const std::string& SourcePath) {
  const size_t slash = SourcePath.rfind('/');
  if (slash == std::string::npos) {
    Entry->SourceFolder = nullptr;
    Entry->SourceName = SourcePath;
    return;
  }
  Entry->SourceFolder = SourceFolderOf(std::string_view(SourcePath).substr(0, slash));
  const std::string_view name = std::string_view(SourcePath).substr(slash + 1);
  if (name == Entry->LongName)
    Entry->SourceName.clear();
  else
    Entry->SourceName = name;
}

// Folders merged into one destination can bring two equal short names; readers
// would show only one of the two, so the later entry gets a numeric tail.
void TCompilation::AssignUniqueShortName(TDEntry* Dir, TFEntry* Entry, std::string shortName) {
  const auto taken = [&](const std::string& candidate) {
    const TFEntry* holder = FindByKey(Dir->ByIsoName, IsoNameKey(candidate), IsoKey);
    return holder != nullptr && holder != Entry;
  };
  if (taken(shortName)) shortName = MakeUniqueShortName(shortName, Entry->IsDirectory(), taken, Dir->TailHints);
  Entry->ShortName = shortName;
  if (Entry->Directory) Entry->Directory->ShortName = shortName;
}

void TCompilation::ReportUnfitName(const std::string& what) {
  FHost.Report(">>> " + fmt::format(kMsgNameDoesNotFit, what), ltImageError);
}

// A source name MakeLongName had to change reaches the disc under a name the
// user never gave, and a clash it causes would leave an entry out for no
// reason the user could see.
void TCompilation::ReportReplacedCharacters(const std::string& SourcePath, const std::string& Name,
                                            const std::string& DiscName) {
  if (SourcePath.empty() || !LongNameReplacesCharacters(Name)) return;
  FHost.Report(">>> " + fmt::format(kMsgSourceNameReplaced, PrintableText(SourcePath), DiscName),
               ltImageError);
}

TDEntry* TCompilation::FindDirectory(const std::string& Path) const {
  const std::string key = StripOneTrailingBackslash(UpperCase(Path));
  if (key.empty()) return FRoot;
  const auto it = FByPath.find(key);
  return it == FByPath.end() ? nullptr : it->second;
}

TFEntry* TCompilation::FindEntry(const TDEntry* Dir, const std::string& Name) const {
  if (!Dir) return nullptr;
  return FindByKey(Dir->ByName, NameKey(Name), LongNameKey);
}

TDEntry* TCompilation::ForceDirectoryPath(const std::string& Path) {
  if (TDEntry* existing = FindDirectory(Path)) return existing;
  const size_t cut = Path.rfind('\\');
  const std::string head = cut == std::string::npos ? "" : Path.substr(0, cut);
  const std::string tail = cut == std::string::npos ? Path : Path.substr(cut + 1);
  if (!FindDirectory(head)) ForceDirectoryPath(head);
  TDEntry* parent = FindDirectory(head);
  if (!parent) return nullptr;
  if (tail.empty()) return parent;
  return AddDirectoryByName(parent, tail, faDirectory);
}

TDEntry* TCompilation::AddDirectoryByName(TDEntry* Parent, const std::string& Name, int Attr) {
  std::string name = Name;
  if (!name.empty() && name.front() == '\\') name.erase(0, 1);
  if (!name.empty() && name.back() == '\\') name.pop_back();
  TSearchRec listing;
  listing.Name = listing.LongName = name;
  listing.ShortName = ShortNameFromDirectoryName(name);
  listing.Attr = Attr;
  listing.WriteTime = static_cast<int64_t>(std::time(nullptr));
  return AddDirectory(Parent, listing);
}

// Nothing for a listing that tells no mode (a folder made by name, an entry
// of a session without Rock Ridge): the tree then records plain attributes.
// The name is kept only where it is not the entry's LongName.
TPosixAttributes TCompilation::PosixOf(const TSearchRec& Listing, const std::string& Name,
                                       const std::string& LongName) const {
  TPosixAttributes posix;
  if (!FHost.RecordsRockRidge() || Listing.Mode == 0) return posix;
  posix.Mode = Listing.Mode;
  posix.Uid = Listing.Uid;
  posix.Gid = Listing.Gid;
  posix.Modified = Listing.WriteTime;
  posix.Accessed = Listing.AccessTime;
  posix.Changed = Listing.ChangeTime;
  posix.SetNames(Name == LongName ? std::string() : Name, Listing.Link ? Listing.LinkTarget : std::string());
  if (S_ISCHR(Listing.Mode) || S_ISBLK(Listing.Mode)) posix.SetDevice(Listing.DeviceMajor, Listing.DeviceMinor);
  return posix;
}

TDEntry* TCompilation::AddDirectory(TDEntry* Parent, const TSearchRec& Listing) {
  bool full = false;
  return InsertDirectory(Parent, Listing, "", full);
}

TDEntry* TCompilation::InsertDirectory(TDEntry* Parent, const TSearchRec& Source,
                                       const std::string& SourceFolder, bool& full) {
  full = false;
  if (!Parent) return nullptr;
  // With Rock Ridge a name too long for the Joliet tree is cut there and kept
  // whole in the Rock Ridge tree.
  TSearchRec Listing = Source;
  if (FHost.RecordsRockRidge()) Listing.LongName = JolietNameWithin(Listing.LongName, kJolietNameUnits);
  std::string candidate = Parent->Path + "\\" + Listing.LongName;
  if (candidate.rfind("\\\\", 0) == 0) candidate.erase(0, 1);
  TDEntry* existing = FindDirectory(candidate);
  // Told once per source folder, also when it merges into one made from
  // another source: that merge is what the renaming caused.
  if (!existing || existing->SourceFolder != SourceFolder)
    ReportReplacedCharacters(SourceFolder, Listing.Name, Listing.LongName);
  if (existing) return existing;

  const std::string shortName =
      Listing.ShortName.empty() ? UpperCase(Listing.LongName) : Listing.ShortName;
  const std::string& what = SourceFolder.empty() ? candidate : SourceFolder;
  if (!NamesFitRecord(shortName, Listing.LongName, true)) {
    ReportUnfitName(what);
    return nullptr;
  }
  if (FindEntry(Parent, Listing.LongName)) {
    // A file of that name already stands there; a folder beside it would give
    // readers two entries of one name.
    FHost.Report(">>> " + fmt::format(kMsgNameInUse, what), ltImageError);
    return nullptr;
  }
  // Both records are checked before either is made, so a refused add leaves
  // nothing behind.
  full = true;
  if (static_cast<int>(FDirs.Count()) >= FMaxDirs) {
    FHost.Report(">>> " + fmt::format(kMsgMaxDirectories, FMaxDirs), ltCapacity);
    return nullptr;
  }
  if (static_cast<int>(FFiles.Count()) >= FMaxFiles) {
    FHost.Report(fmt::format(kMsgMaxFiles, FMaxFiles), ltCapacity);
    return nullptr;
  }
  full = false;
  TDEntry* dir = NewDirectoryRecord();
  TFEntry* entry = NewFileRecord();

  dir->Parent = Parent;
  dir->LongName = Listing.LongName;
  dir->Self = entry;
  dir->SourceFolder = SourceFolder;
  dir->Path = (Parent == FRoot ? std::string() : Parent->Path) + "\\" + UpperCase(Listing.LongName);
  FByPath.emplace(dir->Path, dir);

  entry->LongName = Listing.LongName;
  entry->Attributes = Listing.Attr;
  entry->Directory = dir;
  entry->DateTime = ListingDate(Listing);
  entry->Posix = PosixOf(Listing, Listing.Name.empty() ? Source.LongName : Listing.Name, entry->LongName);
  Append(Parent, entry);
  AssignUniqueShortName(Parent, entry, UpperCase(shortName));
  IndexName(Parent, entry);
  return dir;
}

bool TCompilation::AddEntry(TDEntry* Dir, const TSearchRec& Listing, const std::string& SourcePath,
                            int32_t ExistingLocation, bool ArchiveMode) {
  if (!Dir) return false;
  const bool isDirectory = (Listing.Attr & faDirectory) != 0;
  std::string longName = Listing.LongName;
  if (!isDirectory && longName.find('.') == std::string::npos) longName += '.';
  if (FHost.RecordsRockRidge()) longName = JolietNameWithin(longName, kJolietNameUnits);

  TFEntry* existing = FindEntry(Dir, longName);
  std::string shortFileName = Listing.ShortName.empty() ? UpperCase(longName) : Listing.ShortName;
  std::string longFileName = longName;
  TDateTime dateTime = ListingDate(Listing);
  bool skip = Utf16Length(longFileName) > kJolietNameUnits;
  const bool replace = existing && FHost.ReplacesFiles();

  FHost.AddingFile(SourcePath, longFileName, shortFileName, dateTime, Listing.Attr, Listing.Size,
                   skip);
  if (skip) return false;
  // Before the clash checks, so that a clash the renaming caused has its reason
  // beside it; the same source added again is no news.
  if (!existing || existing->SourcePath() != SourcePath)
    ReportReplacedCharacters(SourcePath, Listing.Name, longFileName);
  if (existing && (existing->IsDirectory() || isDirectory)) {
    // A file never takes the place of a folder of the same name (its contents
    // would be orphaned), nor stands beside it.
    FHost.Report(">>> " + fmt::format(kMsgNameInUse, SourcePath.empty() ? longFileName : SourcePath),
                 ltImageError);
    return false;
  }
  if (existing && !replace) {
    // The same source twice is simply not added again; another file that
    // would take the name is left out, and said so.
    if (!SourcePath.empty() && existing->SourcePath() != SourcePath)
      FHost.Report(">>> " + fmt::format(kMsgNameInUse, SourcePath), ltImageError);
    return false;
  }
  // The handler may have renamed the entry onto another one of this directory.
  if (longFileName != longName) {
    if (TFEntry* other = FindEntry(Dir, longFileName); other && other != existing) return false;
  }
  std::string shortName = UpperCase(shortFileName);
  if (!NamesFitRecord(shortName, longFileName, isDirectory)) {
    ReportUnfitName(SourcePath.empty() ? Dir->Path + "\\" + longFileName : SourcePath);
    return false;
  }

  TFEntry* entry = existing;
  if (!replace) {
    entry = NewFileRecord();
    if (!entry) return false;
    Append(Dir, entry);
  } else {
    UnindexName(Dir, entry);
    if (!entry->Imported) FCompilationBytes -= RoundedSize(entry->ISOSize);
  }
  entry->LongName = longFileName;
  entry->ISOSize = entry->JolietSize = Listing.Size;
  entry->Attributes = Listing.Attr;
  entry->DateTime = dateTime;
  SetSource(entry, SourcePath);
  entry->ArchiveMode = ArchiveMode;
  // A name the handler changed is the name the user wants, in both trees.
  entry->Posix =
      PosixOf(Listing, longFileName != longName || Listing.Name.empty() ? longFileName : Listing.Name, longFileName);
  // A file identifier always holds its separator dot, even without extension.
  if (!isDirectory && shortName.find('.') == std::string::npos) shortName += '.';
  AssignUniqueShortName(Dir, entry, shortName);
  IndexName(Dir, entry);
  if (ExistingLocation != 0) {
    entry->ISOLocation = entry->JolietLocation = ExistingLocation;
    entry->Imported = true;
  } else {
    entry->ISOLocation = entry->JolietLocation = 0;
    entry->Imported = false;
    FCompilationBytes += RoundedSize(Listing.Size);
  }
  return true;
}

void TCompilation::RemoveDirectoryRecord(TDEntry* Dir) {
  FByPath.erase(Dir->Path);
  FIsoOrder.clear();
  FJolietOrder.clear();
  FDirs.Remove(Dir);
}

void TCompilation::DeleteEntry(TDEntry* Dir, TFEntry* Entry) {
  if (!Dir || !Entry) return;
  if (TDEntry* sub = Entry->Directory) {
    while (sub->FirstEntry) DeleteEntry(sub, sub->FirstEntry);
    RemoveDirectoryRecord(sub);
    Entry->Directory = nullptr;
  } else if (!Entry->Imported) {
    FCompilationBytes -= RoundedSize(Entry->ISOSize);
  }
  Unlink(Dir, Entry);
  UnindexName(Dir, Entry);
  FFiles.Remove(Entry);
}

bool TCompilation::DeleteDirectory(TDEntry* Dir) {
  if (!Dir || Dir == FRoot) return false;
  while (Dir->FirstEntry) DeleteEntry(Dir, Dir->FirstEntry);
  DeleteEntry(Dir->Parent, Dir->Self);
  return true;
}

void TCompilation::RemoveEntryByName(const std::string& DirPath, const std::string& Name) {
  TDEntry* dir = FindDirectory(DirPath);
  if (!dir) return;
  if (TFEntry* entry = FindEntry(dir, Name)) DeleteEntry(dir, entry);
}

void TCompilation::RemoveEmptyDirectories() {
  // Removing a directory can leave its parent empty; those parents are handled
  // as they appear instead of rescanning the whole table after each removal.
  std::vector<TDEntry*> pending;
  FDirs.ForEach([&](TDEntry* dir) {
    if (dir != FRoot && !dir->FirstEntry) pending.push_back(dir);
  });
  while (!pending.empty()) {
    TDEntry* dir = pending.back();
    pending.pop_back();
    TDEntry* parent = dir->Parent;
    DeleteDirectory(dir);
    if (parent != FRoot && !parent->FirstEntry) pending.push_back(parent);
  }
}

}  // namespace fornax
