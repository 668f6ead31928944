#pragma once
// What a burn sent to the drive, kept for its verify: for every new file of
// the compilation the hash of the bytes the read-ahead cache queued for it,
// keyed by its extent and its path in the compilation; for an image file the
// hash of every chunk. The cache thread fills it while it runs; it is read
// once that thread has ended.

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/base/content_hash.h"

namespace fornax {

class TCompilation;
struct TFEntry;

// A source file as it stood at one moment: its size and modification time.
struct TSourceStamp {
  int64_t Size = -1;
  int64_t ModifiedNs = 0;
  bool operator==(const TSourceStamp& other) const { return Size == other.Size && ModifiedNs == other.ModifiedNs; }
  bool operator!=(const TSourceStamp& other) const { return !(*this == other); }
};

// The stamp of a local file now; Size -1 when it cannot be looked at.
TSourceStamp StampOf(const std::string& path);
TSourceStamp StampOfOpen(int fd);

struct TSentFile {
  std::string DiscPath;    // "/docs/a.txt", the names of the Joliet tree
  std::string IsoPath;     // "/DOCS/A.TXT", those of the ISO 9660 tree
  std::string SourcePath;
  uint32_t Extent = 0;     // first sector on the disc (absolute)
  int64_t Size = 0;        // bytes the session gives the file
  THash128 Hash;           // of the bytes sent: zeros where the source fell short
  bool Sent = false;       // the cache queued all of it
  TSourceStamp Opened;     // the source when the cache opened it
  bool ChangedWhileRead = false;  // not the planned size, or changed while read
};

// One chunk of a streamed image file, in stream order.
struct TSentChunk {
  THash128 Hash;
  int Length = 0;
};

class TBurnRecord {
 public:
  void Clear();
  // The new files of a compilation laid out with its files from
  // `firstFileLocation`; empty files count too (nothing is sent for them).
  void Plan(const TCompilation& compilation, int32_t firstFileLocation);
  // The image file a burn streams from sector `start` in chunks of `chunkBytes`.
  void PlanImage(const std::string& path, uint32_t start, int chunkBytes);

  // The index of an entry of the compilation given to Plan; -1 for others.
  int IndexOf(const TFEntry* entry) const;
  TSentFile& File(int index) { return FFiles[static_cast<size_t>(index)]; }
  const std::vector<TSentFile>& Files() const { return FFiles; }
  void AddChunk(const THash128& hash, int length) { FChunks.push_back({hash, length}); }
  const std::vector<TSentChunk>& Chunks() const { return FChunks; }

  // Whether Plan or PlanImage was told of the last burn.
  bool Kept() const { return FKept; }
  bool ForImage() const { return !FImagePath.empty(); }
  const std::string& ImagePath() const { return FImagePath; }
  uint32_t ImageStart() const { return FImageStart; }
  int ChunkBytes() const { return FChunkBytes; }

 private:
  std::vector<TSentFile> FFiles;
  std::unordered_map<const TFEntry*, int> FByEntry;
  std::vector<TSentChunk> FChunks;
  std::string FImagePath;
  uint32_t FImageStart = 0;
  int FChunkBytes = 0;
  bool FKept = false;
};

// "/docs/a.txt": an entry's path in the compilation, by its long names (or
// by its ISO 9660 names).
std::string CompilationPath(const TFEntry& entry, bool iso = false);

}  // namespace fornax
