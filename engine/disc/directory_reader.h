#pragma once
// Walks one session's directory tree, Joliet or ISO 9660, and adds what it
// finds to the compilation: directories as directories, files as entries
// that already lie on the disc. A hostile disc cannot make it loop, read out
// of bounds or write outside the compilation's tree, and no entry it adds
// points at sectors the disc does not hold or the new session will take.

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "engine/disc/disc_records.h"
#include "engine/disc/rock_ridge_reader.h"
#include "engine/disc/sector_source.h"
#include "engine/image/image_file_writer.h"

namespace fornax {

class TCompilation;
struct TDEntry;
struct TSearchRec;

inline constexpr int kMaxDirectoryDepth = 128;
// A directory larger than this (128 MiB of records) is no real directory.
inline constexpr uint32_t kMaxDirectorySectors = 65536;

class TDirectoryReader {
 public:
  TDirectoryReader(TSectorSource& source, TCompilation& compilation, TLogLine log, bool joliet);

  // The tree below the directory at `extent` into `target`; false when its
  // first sector cannot be read or lies outside the recorded area.
  bool Read(uint32_t extent, uint32_t length, TDEntry* target);
  // Told of each directory before its sectors are read: the directory of the
  // compilation it fills, its first sector and how many it spans.
  std::function<void(const TDEntry* directory, uint32_t extent, uint32_t sectors)> OnDirectory;
  // Reads the ISO 9660 tree's Rock Ridge entries (whose areas start `skip`
  // bytes into each record's system use): names, attributes, links.
  void UseRockRidge(uint8_t skip) {
    FRockRidge = true;
    FSkip = skip;
  }

 private:
  struct TPendingFile;
  // An entry by its directory and name: its path, "/a/b/name" from the
  // compilation's root, is made only for a message.
  struct TWhere {
    const TDEntry* Dir;
    const std::string& Name;
    std::string Path() const;
  };

  bool ReadDirectory(uint32_t extent, uint32_t length, TDEntry* target, int depth);
  void ReadSector(const uint8_t* sector, TDEntry* target, int depth, TPendingFile& pending);
  void Import(const TDiscRecord& record, TDEntry* target, int depth, TPendingFile& pending);
  void AddFile(const TDiscRecord& record, uint64_t size, TDEntry* target);
  void Finish(TPendingFile& pending);
  std::string NameOf(const TDiscRecord& record);
  TRockRidgeFields RockRidgeOf(const TDiscRecord& record);
  TRockRidgeFields ReadRockRidge(const TDiscRecord& record);
  // False (told) when the entry cannot be taken as its Rock Ridge entries
  // say and is left out.
  bool PutRockRidge(const TDiscRecord& record, TSearchRec& listing, const TWhere& where, uint64_t size);
  bool PutDevice(const TRockRidgeFields& fields, TSearchRec& listing, const TWhere& where);
  // Clears the setuid and setgid bits of a file about to be added, unless
  // they are kept, and notes it for the one line that names them all.
  void ClearSetuid(TSearchRec& listing, const TWhere& where);
  void ReportClearedSetuid();
  // Whether `sectors` from `extent` lie on the recorded area; told when not.
  bool Within(const TWhere& where, uint64_t bytes, uint32_t extent, uint64_t sectors);
  void Say(const std::string& text, uint8_t type = 4) { if (FLog) FLog(">>> " + text, type); }

  TSectorSource& FSource;
  const TRecordedArea FArea;
  TCompilation& FCompilation;
  TLogLine FLog;
  const bool FJoliet;
  bool FRockRidge = false;
  uint8_t FSkip = 0;
  bool FLastRead = false;  // the last record's Rock Ridge, read once
  std::string FLastUse;
  TRockRidgeFields FLastFields;
  std::set<uint32_t> FVisited;  // every directory sector read so far
  std::vector<std::string> FClearedSetuid;  // the entries whose setuid/setgid bits went
};

}  // namespace fornax
