#pragma once
// TCacheThread: the read-ahead cache. A worker thread assembles the byte
// stream of one image in image order (header, boot image, every source file
// padded to whole sectors, zeros up to the minimum track) and queues it as
// chunks for the writer; or it streams one existing image file; or, for a
// new regular image file, writes the compilation into it itself.

#include <sys/stat.h>
#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/image/header_builder.h"

namespace fornax {

class TCompilation;
class TBurnRecord;

inline constexpr int kChunkSizeCd = 55296;   // 27 sectors
inline constexpr int kChunkSizeDvd = 65536;  // 32 sectors
inline constexpr int64_t kMinimumTrackBytes = 614400;  // 300 sectors

struct TCacheInput {
  int64_t CacheBytes = 4194304;
  THeaderSource Header;  // made as it is queued, never held whole
  // Its length, as laid out (0: not known). A direct write that knows it
  // copies the files while the header is still being made.
  int64_t HeaderBytes = 0;
  const TCompilation* Compilation = nullptr;     // its file table, in table order
  int64_t TotalBytes = 0;
  int32_t BootImageSectors = 0;
  std::string BootImageFile;
  int64_t BootImageBytes = 0;  // the boot file's size when the layout was made
  bool WritePostGap = true;
  int ChunkSize = kChunkSizeDvd;
  std::recursive_mutex* CacheLock = nullptr;
  std::string ImageFileName;  // set: stream this file and nothing else
  int64_t ImageFileBytes = 0;  // its size when the write was started
  // Set: the hash of what is queued for every planned file (or every chunk
  // of an image file) goes there, for the verify after the write.
  TBurnRecord* Record = nullptr;
  // A new, empty regular image file: the compilation is written straight
  // into it at its planned offsets (the kernel copies file data from file to
  // file) instead of being queued as chunks. Left open for the caller.
  int DirectTarget = -1;
  std::string DirectTargetName;  // its name, for messages
};

class TCacheThread {
 public:
  // Starts the thread at once.
  explicit TCacheThread(const TCacheInput& input);
  ~TCacheThread();
  TCacheThread(const TCacheThread&) = delete;
  TCacheThread& operator=(const TCacheThread&) = delete;

  // Hands over the next chunk by exchanging buffers: `buffer` (the one the
  // caller got last time, or an empty one) goes back to the cache and comes
  // back holding the chunk, at least ChunkBufferBytes() long. Returns the
  // chunk's length, 0 at the end of the data (or after an abort, with the
  // error text set), -1 when nothing came within waitMs.
  int TakeChunk(std::vector<uint8_t>& buffer, int waitMs = 0);
  void RequestAbort();
  void Lock() { FLock.lock(); }
  void Unlock() { FLock.unlock(); }
  void WaitForEnd();
  // Waits up to waitMs for the queue to be primed (or the thread to end).
  bool WaitPrimed(int waitMs);
  // Waits up to waitMs for the thread to have queued (or written) everything.
  bool WaitFinished(int waitMs);

  bool Primed() const { return FPrimed; }
  bool Finished() const { return FFinished; }
  int64_t CachedBytes() const { return FCachedBytes; }
  int ChunkSize() const { return FChunkSize; }
  size_t ChunkBufferBytes() const { return FBufferBytes; }
  bool Direct() const { return FInput.DirectTarget >= 0; }
  // Direct writes: bytes of the image accounted for so far, and its length
  // once everything is written.
  int64_t DirectProgress() const { return FDirectProgress; }
  int64_t DirectLength() const { return FDirectPosition; }
  const std::string& ImageFileName() const { return FInput.ImageFileName; }
  // Read and written under the cache lock.
  std::string CurrentFile() const;
  std::string ErrorText() const;
  void SetErrorText(const std::string& text);
  // A source that no longer matched its planned size, or could not be read
  // to its end: the stream kept its layout with zeros, but the write must not
  // count as a success. Empty while all sources were read as planned.
  std::string DeferredError() const;

 private:
  struct TChunk {
    std::vector<uint8_t> Data;
    size_t Length = 0;
  };
  struct TEntry {
    std::string Path;
    int64_t Size;
    int RecordIndex = -1;  // its place in the burn record, if it has one
    // The folder it lies in (shared by the folder's entries), and where its
    // name begins in Path; none for a path of its own (the boot image).
    const std::string* Folder = nullptr;
    size_t NameAt = 0;
  };
  // The folder a copier opened its last source in: the next source of the
  // same folder is opened relative to it, without looking its path up again.
  class TSourceFolder {
   public:
    TSourceFolder() = default;
    ~TSourceFolder();
    TSourceFolder(const TSourceFolder&) = delete;
    TSourceFolder& operator=(const TSourceFolder&) = delete;
    // The descriptor of Folder, or -1 when it cannot be opened.
    int Open(const std::string* Folder);

   private:
    const std::string* FFolder = nullptr;
    int FDescriptor = -1;
  };

  // A source opened for copying: its descriptor (-1 when it could not be
  // opened) and what fstat said of it, if it could say.
  struct TOpenSource {
    int Descriptor = -1;
    bool Known = false;
    struct stat Info {};
  };

  void Execute();
  bool QueueHeader();
  bool QueueEntries(const std::vector<TEntry>& entries);
  bool QueueFile(const TEntry& entry, TSourceFolder& folder);
  bool WriteEntriesDirect(const std::vector<TEntry>& entries, bool withHeader);
  bool CopyFileDirect(const TEntry& entry, TSourceFolder& folder, int64_t at, bool mapAhead);
  void NoteCurrentFile(const std::string& path);
  TOpenSource OpenSource(const TEntry& entry, TSourceFolder& folder);
  bool QueuePadding();
  void Abort();
  void EndWith(bool primed);
  bool AddBytes(const uint8_t* bytes, size_t count);
  bool HaveBuffer();
  void PushChunk();
  bool WaitForRoom();
  void AdjustPriority(size_t queued);
  std::vector<TEntry> Entries() const;
  void NoteDeferred(const std::string& text);
  void Failed(const std::string& text);

  TCacheInput FInput;
  std::recursive_mutex& FLock;
  // The queue: chunks ready for the writer and buffers it gave back. The
  // producer reads source files straight into the chunk it fills.
  mutable std::mutex FQueueLock;
  std::condition_variable FChunkReady;  // a chunk queued, or the end
  std::condition_variable FRoomMade;    // room to refill the queue, or an abort
  std::condition_variable FStateChanged;  // primed or finished
  std::deque<TChunk> FChunks;
  std::vector<std::vector<uint8_t>> FSpare;
  std::vector<uint8_t> FFilling;
  size_t FFill = 0;
  const int FChunkSize;
  const size_t FBufferBytes;
  const size_t FCapacityChunks;
  const size_t FRefillAt;     // a full queue is refilled from this many chunks
  bool FRoomWanted = false;   // the producer waits for room (under FQueueLock)
  const bool FPadToMinimum;
  int FPriorityBand = 2;
  std::atomic<bool> FAbortRequested{false};
  std::atomic<bool> FFinished{false};
  std::atomic<bool> FPrimed{false};
  std::atomic<int64_t> FCachedBytes{0};
  std::atomic<int64_t> FDirectProgress{0};
  std::atomic<int64_t> FDirectPosition{0};
  dev_t FTargetDevice = 0;  // the direct target, never read as a source
  ino_t FTargetInode = 0;
  std::string FCurrentFile;
  std::string FErrorText;
  std::string FDeferredError;
  std::thread FThread;
};

}  // namespace fornax
