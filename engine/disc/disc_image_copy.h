#pragma once
// Reading a disc into an image file: where its sessions' recorded sectors
// lie, which of them go where in the image, and the copy itself, in large
// reads that are tried again and then taken sector by sector, so that only
// the sectors that cannot be read are lost (they stay zeros in the image).

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/disc/sector_map.h"
#include "engine/disc/sector_source.h"

namespace fornax {

class TSCSIDevice;

// Where a session's recorded sectors lie on the disc in the drive: from the
// start of its first track to the end of what its last track holds (the next
// writable address of a track still open). A drive without track information
// tells it from its table of contents: the last session up to the lead-out,
// an earlier one up to where its file system says it ends. False when the
// drive tells neither.
bool RecordedSessionExtent(TSCSIDevice& device, int session, TSectorSpan& extent);

// `Count` sectors read from disc sector `DiscFirst` go to image sector `ImageFirst`.
struct TImagePiece {
  uint32_t DiscFirst = 0;
  uint32_t Count = 0;
  uint64_t ImageFirst = 0;
  bool operator==(const TImagePiece&) const = default;
};

struct TImagePlan {
  std::vector<TImagePiece> Pieces;  // in the order they are read
  uint64_t ImageSectors = 0;        // the image's size; what no piece fills is zeros (a hole)
  uint64_t SectorsToRead() const;
};

// The whole disc: sector N of the disc at sector N of the image, as far as
// the last session reaches; what lies between sessions (a CD's lead-out and
// lead-in) stays zeros.
TImagePlan WholeDiscPlan(const std::vector<TSectorSpan>& sessions);

// One session as an image of its own. Its file system's directory records,
// path tables and descriptors hold absolute sector numbers of the disc, so
// nothing is moved: every sector of the session stays at its own number in
// the image, which is as large as the disc up to the session's end. What the
// session's file system uses below its start (files an imported session
// shows again, lying in earlier sessions) is copied to its own place too.
// The rest below the start would be zeros; readers look for the descriptors
// at sector 16, so the session's first `headSectors` (its system area and
// its descriptor set, 16 + the descriptors) are copied to sector 0 as well.
// Refused, with the reason, when the session starts before those sectors end
// (only a first session can, and it starts at 0) or when what it uses below
// its start lies where its descriptors go.
bool SessionImagePlan(const TSectorSpan& session, uint32_t headSectors, const TSectorSet& usedBelow, TImagePlan& plan,
                      std::string& refusal);

struct TCopySettings {
  uint32_t ChunkSectors = 32;  // sectors a read asks for
  int ChunkTries = 3;          // a chunk is read up to this many times,
  int SectorTries = 3;         // then each of its sectors up to this many times
};

class TDiscImageCopy {
 public:
  // Reads through `source` into `fd`, a file open for writing and empty.
  TDiscImageCopy(TSectorSource& source, int fd, TCopySettings settings = {});

  // After a failed read: whether its reason ends the copy (the disc is gone).
  std::function<bool()> ReadEndsCopy;
  // Looked at before each read: true stops the copy.
  std::function<bool()> Cancelled;
  // Lines worth telling while the copy runs: sectors read one by one.
  std::function<void(const std::string&)> OnNote;

  // Copies the plan's pieces and gives the file the image's size. False when
  // the copy had to stop (the file cannot be written, the disc is gone, it
  // was cancelled); Error() says why. Unreadable sectors do not stop it.
  bool Run(const TImagePlan& plan);

  const std::string& Error() const { return FError; }
  // The disc sectors that could not be read (they are zeros in the image).
  const TSectorSet& Unreadable() const { return FUnreadable; }
  // Sectors of the plan dealt with so far, read or not; safe from another thread.
  uint64_t SectorsDone() const { return FDone.load(); }
  uint64_t UnreadableCount() const { return FUnreadableCount.load(); }
  // Reads that failed and then succeeded when tried again.
  int RecoveredReads() const { return FRecovered; }

 private:
  bool CopyPiece(const TImagePiece& piece);
  // Reads `count` sectors from `lba` into the buffer, trying again; the
  // sectors that stay unreadable are zeros and go into the set.
  bool ReadChunk(uint32_t lba, uint32_t count);
  bool TryRead(uint32_t lba, uint32_t count, int tries, uint8_t* out, bool& fatal);
  bool WriteAt(uint64_t imageSector, const uint8_t* data, uint32_t sectors);
  bool Stopped();

  TSectorSource& FSource;
  const int FFd;
  TCopySettings FSettings;
  std::vector<uint8_t> FBuffer;
  TSectorSet FUnreadable;
  std::atomic<uint64_t> FDone{0};
  std::atomic<uint64_t> FUnreadableCount{0};
  int FRecovered = 0;
  std::string FError;
};

}  // namespace fornax
