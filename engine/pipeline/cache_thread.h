#pragma once
// TCacheThread: the read-ahead cache. A worker thread assembles the byte
// stream of one image in image order (header, boot image, every source file
// padded to whole sectors, zeros up to the minimum track) and queues it as
// chunks for the writer; or it streams one existing image file.

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace fornax {

class TCompilation;
class TBurnRecord;

inline constexpr int kChunkSizeCd = 55296;   // 27 sectors
inline constexpr int kChunkSizeDvd = 65536;  // 32 sectors
inline constexpr int64_t kMinimumTrackBytes = 614400;  // 300 sectors

struct TCacheInput {
  int CacheBytes = 4194304;
  std::vector<uint8_t>* HeaderStream = nullptr;  // emptied once queued
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
};

class TCacheThread {
 public:
  // Starts the thread at once.
  explicit TCacheThread(const TCacheInput& input);
  ~TCacheThread();
  TCacheThread(const TCacheThread&) = delete;
  TCacheThread& operator=(const TCacheThread&) = delete;

  // Copies the next chunk into destination: its length, 0 at the end of the
  // data, -1 when nothing is ready yet.
  int TakeChunk(uint8_t* destination);
  void RequestAbort() { FAbortRequested = true; }
  void Lock() { FLock.lock(); }
  void Unlock() { FLock.unlock(); }
  void WaitForEnd();

  bool Primed() const { return FPrimed; }
  bool Finished() const { return FFinished; }
  int64_t CachedBytes() const { return FCachedBytes; }
  int ChunkSize() const { return FChunkSize; }
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
  };
  struct TEntry {
    std::string Path;
    int64_t Size;
    int RecordIndex = -1;  // its place in the burn record, if it has one
  };

  void Execute();
  bool QueueHeader();
  bool QueueEntries(const std::vector<TEntry>& entries);
  bool QueueFile(const TEntry& entry);
  bool QueuePadding();
  void Tail();
  void Abort();
  bool AddToStaging(const uint8_t* bytes, size_t count);
  void FlushStaging();
  size_t QueuedCount();
  bool WaitForRoom();
  void AdjustPriority(size_t queued);
  std::vector<TEntry> Entries() const;
  void NoteDeferred(const std::string& text);

  TCacheInput FInput;
  std::recursive_mutex& FLock;
  std::deque<TChunk> FChunks;
  std::vector<uint8_t> FStaging;
  size_t FFill = 0;
  const int FChunkSize;
  const size_t FCapacityChunks;
  const bool FPadToMinimum;
  int FPriorityBand = 2;
  std::atomic<bool> FDraining{false};
  std::atomic<bool> FTakeInProgress{false};
  std::atomic<bool> FAbortRequested{false};
  std::atomic<bool> FFinished{false};
  std::atomic<bool> FPrimed{false};
  std::atomic<int64_t> FCachedBytes{0};
  std::atomic<int64_t> FBytesToDeliver{0};
  std::string FCurrentFile;
  std::string FErrorText;
  std::string FDeferredError;
  std::thread FThread;
};

}  // namespace fornax
