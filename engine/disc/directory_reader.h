#pragma once
// Walks one session's directory tree, Joliet or ISO 9660, and adds what it
// finds to the compilation: directories as directories, files as entries
// that already lie on the disc. A hostile disc cannot make it loop, read out
// of bounds or write outside the compilation's tree.

#include <cstdint>
#include <functional>
#include <set>
#include <string>

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
  // first sector cannot be read.
  bool Read(uint32_t extent, uint32_t length, TDEntry* target) { return ReadDirectory(extent, length, target, 0); }
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

  bool ReadDirectory(uint32_t extent, uint32_t length, TDEntry* target, int depth);
  void ReadSector(const uint8_t* sector, TDEntry* target, int depth, TPendingFile& pending);
  void Import(const TDiscRecord& record, TDEntry* target, int depth, TPendingFile& pending);
  void AddFile(const TDiscRecord& record, uint64_t size, TDEntry* target);
  void Finish(TPendingFile& pending);
  std::string NameOf(const TDiscRecord& record);
  TRockRidgeFields RockRidgeOf(const TDiscRecord& record);
  TRockRidgeFields ReadRockRidge(const TDiscRecord& record);
  void PutRockRidge(const TDiscRecord& record, TSearchRec& listing);
  void Say(const std::string& text) { if (FLog) FLog(">>> " + text, 4); }

  TSectorSource& FSource;
  TCompilation& FCompilation;
  TLogLine FLog;
  const bool FJoliet;
  bool FRockRidge = false;
  uint8_t FSkip = 0;
  bool FLastRead = false;  // the last record's Rock Ridge, read once
  std::string FLastUse;
  TRockRidgeFields FLastFields;
  std::set<uint32_t> FVisited;  // every directory sector read so far
};

}  // namespace fornax
