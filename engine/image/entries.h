#pragma once
// The two record types of a compilation: TDEntry, one per directory, and
// TFEntry, one per file and one per subdirectory (a subdirectory is also an
// entry of its parent's list, besides its TDEntry).

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

#include "engine/base/date_time.h"
#include "engine/image/compilation_index.h"

namespace fornax {

struct TFEntry;

// What a Rock Ridge tree tells of an entry besides its data: taken from the
// source's lstat, or from the Rock Ridge records of an imported session. Held
// in every entry, so the rare parts (a name the Joliet tree cannot hold, a
// link's target, a device's numbers) live apart and cost nothing for the
// entries without them.
struct TPosixAttributes {
  uint32_t Mode = 0;  // st_mode: file type and permission bits; 0 when nothing is recorded
  uint32_t Uid = 0, Gid = 0;
  int64_t Modified = 0, Accessed = 0, Changed = 0;  // seconds since the Unix epoch

  TPosixAttributes() = default;
  TPosixAttributes(TPosixAttributes&&) = default;
  TPosixAttributes& operator=(TPosixAttributes&&) = default;
  TPosixAttributes(const TPosixAttributes& other) { *this = other; }
  TPosixAttributes& operator=(const TPosixAttributes& other) {
    Mode = other.Mode;
    Uid = other.Uid;
    Gid = other.Gid;
    Modified = other.Modified;
    Accessed = other.Accessed;
    Changed = other.Changed;
    Rare = other.Rare ? std::make_unique<const TRareParts>(*other.Rare) : nullptr;
    return *this;
  }

  explicit operator bool() const { return Mode != 0; }
  // The name as the file system has it when the entry's LongName differs
  // from it; empty otherwise.
  const std::string& Name() const { return Rare ? Rare->Name : NoName(); }
  const std::string& LinkTarget() const { return Rare ? Rare->LinkTarget : NoName(); }
  // A character or block device's numbers (st_rdev), when it is one.
  bool IsDevice() const { return Rare && Rare->Device; }
  uint32_t DeviceMajor() const { return Rare ? Rare->Major : 0; }
  uint32_t DeviceMinor() const { return Rare ? Rare->Minor : 0; }
  void SetNames(std::string name, std::string linkTarget) {
    if (!Rare && name.empty() && linkTarget.empty()) return;  // most entries
    TRareParts parts = Rare ? *Rare : TRareParts{};
    parts.Name = std::move(name);
    parts.LinkTarget = std::move(linkTarget);
    Keep(std::move(parts));
  }
  void SetDevice(uint32_t major, uint32_t minor) {
    TRareParts parts = Rare ? *Rare : TRareParts{};
    parts.Device = true;
    parts.Major = major;
    parts.Minor = minor;
    Keep(std::move(parts));
  }

 private:
  struct TRareParts {
    std::string Name;
    std::string LinkTarget;
    bool Device = false;
    uint32_t Major = 0, Minor = 0;
  };
  void Keep(TRareParts parts) {
    if (parts.Name.empty() && parts.LinkTarget.empty() && !parts.Device) Rare.reset();
    else Rare = std::make_unique<const TRareParts>(std::move(parts));
  }
  static const std::string& NoName() {
    static const std::string none;
    return none;
  }
  std::unique_ptr<const TRareParts> Rare;
};

struct TDEntry {
  std::string ShortName;   // ISO 9660 identifier (upper case)
  std::string LongName;    // Joliet name
  int64_t ISOSize = 0;     // bytes of the ISO 9660 extent (layout)
  int64_t JolietSize = 0;  // bytes of the Joliet extent (layout)
  std::string Path;        // upper-case path from the root: "\" for the root, "\DOCS\2004" below it
  int32_t ISOLocation = 0;     // sector relative to the ISO directory area (layout)
  int32_t JolietLocation = 0;  // sector relative to the Joliet directory area (layout)
  int32_t Number = 0;          // 1-based position in the path tables
  // With Rock Ridge: where the continuation areas of its records start, in
  // bytes from the start of the tree's continuation area (layout).
  int64_t ContinuationAt = 0;
  TDEntry* Parent = nullptr;   // the root is its own parent
  TFEntry* FirstEntry = nullptr;

  // Bookkeeping of the compilation; not part of what is written.
  TFEntry* LastEntry = nullptr;  // appends without walking the list
  TFEntry* Self = nullptr;       // the entry that stands for this directory in its parent
  size_t TableSlot = 0;
  TNameIndex ByName;     // by upper-case long name
  TNameIndex ByIsoName;  // by ISO identifier key
  std::unordered_map<std::string, uint64_t> TailHints;  // see MakeUniqueShortName
  std::string SourceFolder;  // the local folder it was made from; empty for the others
};

struct TFEntry {
  std::string ShortName;  // ISO 9660 identifier without version suffix, upper case
  std::string LongName;   // Joliet name
  // The local source file is SourceName in the folder *SourceFolder (shared
  // by the files of one folder: a scan of many files keeps each folder's path
  // once); both empty for directories and imported entries. SourceName is
  // empty too when it is LongName, as it is for most files: whatever renames
  // an entry with a source must spell its SourceName out first.
  const std::string* SourceFolder = nullptr;
  std::string SourceName;  // a whole path when it names no folder
  TDateTime DateTime = 0;
  int64_t ISOSize = 0;         // file size, or the subdirectory's ISO extent size
  int64_t JolietSize = 0;      // file size, or the subdirectory's Joliet extent size
  int32_t ISOLocation = 0;     // relative to the first file location (new files), to the
  int32_t JolietLocation = 0;  // directory area (subdirectories), absolute when Imported
  uint8_t Attributes = 0;      // directory 0x10, hidden 0x02, archive 0x20
  bool Imported = false;       // lies on the disc already, at the absolute ISOLocation
  bool ArchiveMode = false;    // added by a folder scan in archive-only mode
  uint32_t TableSlot = 0;      // bookkeeping of the compilation, as below
  TDEntry* Directory = nullptr;  // the directory this entry stands for, if any
  TFEntry* Next = nullptr;
  // Recorded only while Rock Ridge is asked for.
  TPosixAttributes Posix;

  // Bookkeeping of the compilation; not part of what is written.
  TFEntry* Prev = nullptr;
  TDEntry* Owner = nullptr;  // the directory whose list holds this entry

  bool IsDirectory() const { return Directory != nullptr; }
  bool HasSource() const { return SourceFolder != nullptr || !SourceName.empty(); }
  // The local source file's path; empty for directories and imported entries.
  std::string SourcePath() const {
    if (!SourceFolder) return SourceName;
    return *SourceFolder + '/' + (SourceName.empty() ? LongName : SourceName);
  }
  // The name the Rock Ridge tree gives it.
  const std::string& PosixName() const { return Posix.Name().empty() ? LongName : Posix.Name(); }
  // A symbolic link recorded as one: no data, only its target.
  bool IsSymbolicLink() const { return !Posix.LinkTarget().empty(); }
};

}  // namespace fornax
