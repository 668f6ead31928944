#include "engine/pipeline/cache_thread.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fmt/format.h>

#include "engine/base/content_hash.h"
#include "engine/base/messages.h"
#include "engine/base/sector.h"
#include "engine/image/compilation.h"
#include "engine/base/pacing.h"
#include "engine/pipeline/burn_record.h"
#include "engine/pipeline/thread_priority.h"

namespace fornax {
namespace {

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Reads up to count bytes, through interrupted and short reads; fewer only at
// the end of the file or on an error (error set then).
size_t ReadFully(int fd, uint8_t* into, size_t count, bool& error) {
  size_t done = 0;
  while (done < count) {
    const ssize_t n = ::read(fd, into + done, count - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = true;
      break;
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return done;
}

}  // namespace

TCacheThread::TCacheThread(const TCacheInput& input)
    : FInput(input),
      FLock(*input.CacheLock),
      FChunkSize(input.ChunkSize),
      FCapacityChunks(static_cast<size_t>(input.CacheBytes / input.ChunkSize)),
      FPadToMinimum(input.WritePostGap && input.ImageFileName.empty() && input.TotalBytes < kMinimumTrackBytes) {
  FStaging.assign(static_cast<size_t>(FChunkSize), 0);
  FBytesToDeliver = input.TotalBytes;
  FThread = std::thread([this] { Execute(); });
}

TCacheThread::~TCacheThread() {
  FAbortRequested = true;
  WaitForEnd();
}

void TCacheThread::WaitForEnd() {
  if (FThread.joinable()) FThread.join();
}

std::string TCacheThread::CurrentFile() const {
  std::lock_guard<std::recursive_mutex> lock(FLock);
  return FCurrentFile;
}

std::string TCacheThread::ErrorText() const {
  std::lock_guard<std::recursive_mutex> lock(FLock);
  return FErrorText;
}

void TCacheThread::SetErrorText(const std::string& text) {
  std::lock_guard<std::recursive_mutex> lock(FLock);
  FErrorText = text;
}

std::string TCacheThread::DeferredError() const {
  std::lock_guard<std::recursive_mutex> lock(FLock);
  return FDeferredError;
}

void TCacheThread::NoteDeferred(const std::string& text) {
  std::lock_guard<std::recursive_mutex> lock(FLock);
  if (FDeferredError.empty()) FDeferredError = text;
}

int TCacheThread::TakeChunk(uint8_t* destination) {
  if (FFinished && (FBytesToDeliver <= 0 || QueuedCount() == 0)) return 0;
  while (FDraining) {
    if (FAbortRequested) return 0;
    SleepMs(1);
  }
  std::lock_guard<std::recursive_mutex> lock(FLock);
  if (FChunks.empty()) return FFinished ? 0 : -1;
  FTakeInProgress = true;
  TChunk chunk = std::move(FChunks.front());
  FChunks.pop_front();
  const int length = static_cast<int>(chunk.Data.size());
  std::memcpy(destination, chunk.Data.data(), chunk.Data.size());
  FCachedBytes -= length;
  FBytesToDeliver -= length;
  FTakeInProgress = false;
  return length;
}

size_t TCacheThread::QueuedCount() {
  std::lock_guard<std::recursive_mutex> lock(FLock);
  return FChunks.size();
}

void TCacheThread::FlushStaging() {
  if (FFill == 0) return;
  if (FInput.Record && FInput.Record->ForImage())
    FInput.Record->AddChunk(HashBytes(FStaging.data(), FFill), static_cast<int>(FFill));
  TChunk chunk;
  chunk.Data.assign(FStaging.begin(), FStaging.begin() + static_cast<ptrdiff_t>(FFill));
  {
    std::lock_guard<std::recursive_mutex> lock(FLock);
    FChunks.push_back(std::move(chunk));
    FCachedBytes += static_cast<int64_t>(FFill);
  }
  FFill = 0;
}

void TCacheThread::AdjustPriority(size_t queued) {
  const size_t c = FCapacityChunks;
  const int band = queued < c / 4 ? 3 : queued < c / 2 ? 2 : 1;
  if (band == FPriorityBand) return;
  FPriorityBand = band;
  SetCurrentThreadPriority(band == 3 ? TThreadPriority::Normal
                           : band == 2 ? TThreadPriority::Lower
                                       : TThreadPriority::Lowest);
}

// Holds the producer while the queue is full; false when an abort came.
bool TCacheThread::WaitForRoom() {
  size_t queued = QueuedCount();
  AdjustPriority(queued);
  while (queued + 1 >= FCapacityChunks) {
    if (FPriorityBand != 0) {
      FPriorityBand = 0;
      SetCurrentThreadPriority(TThreadPriority::Idle);
    }
    if (FAbortRequested) return false;
    FPrimed = true;
    SleepMs(1);
    queued = QueuedCount();
  }
  return !FAbortRequested;
}

// Every chunk but the stream's last is full, so a writer that always sends
// whole chunks keeps every later sector in its place.
bool TCacheThread::AddToStaging(const uint8_t* bytes, size_t count) {
  while (count > 0) {
    const size_t piece = std::min(count, FStaging.size() - FFill);
    if (bytes) {
      std::memcpy(FStaging.data() + FFill, bytes, piece);
      bytes += piece;
    } else {
      std::memset(FStaging.data() + FFill, 0, piece);
    }
    FFill += piece;
    count -= piece;
    if (FFill == FStaging.size()) {
      FlushStaging();
      if (!WaitForRoom()) return false;
    }
  }
  return true;
}

std::vector<TCacheThread::TEntry> TCacheThread::Entries() const {
  std::vector<TEntry> entries;
  if (!FInput.ImageFileName.empty()) {
    entries.push_back({FInput.ImageFileName, FInput.ImageFileBytes});
    return entries;
  }
  if (!FInput.BootImageFile.empty())
    entries.push_back({FInput.BootImageFile, FInput.BootImageBytes});
  if (FInput.Compilation) {
    FInput.Compilation->Files().ForEach([&](const TFEntry* e) {
      if (e->IsDirectory() || (e->Attributes & 0x10) || e->Imported || e->SourcePath.empty() || e->ISOSize == 0)
        return;
      entries.push_back({e->SourcePath, e->ISOSize, FInput.Record ? FInput.Record->IndexOf(e) : -1});
    });
  }
  return entries;
}

bool TCacheThread::QueueHeader() {
  std::vector<uint8_t>& header = *FInput.HeaderStream;
  if (!AddToStaging(header.data(), header.size())) return false;
  header.clear();
  header.shrink_to_fit();
  return true;
}

// Copies exactly the planned bytes of one source, then zeros to the end of
// its last sector. A source that is shorter, longer or unreadable part way
// keeps its planned place: zeros stand in for what is missing.
bool TCacheThread::QueueFile(const TEntry& entry) {
  {
    std::lock_guard<std::recursive_mutex> lock(FLock);
    FCurrentFile = entry.Path;
  }
  const int fd = ::open(entry.Path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    std::lock_guard<std::recursive_mutex> lock(FLock);
    FErrorText = fmt::format(kMsgCantOpenFile, entry.Path);
    FFinished = true;
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) == 0 && st.st_size != entry.Size) NoteDeferred(fmt::format(kMsgSourceChanged, entry.Path));
  TSentFile* sent = entry.RecordIndex >= 0 ? &FInput.Record->File(entry.RecordIndex) : nullptr;
  TContentHash hash;
  if (sent) sent->Opened = StampOfOpen(fd);
  int64_t remaining = entry.Size;
  bool readError = false, ended = false;
  while (remaining > 0 && !ended && !readError) {
    const size_t want = static_cast<size_t>(std::min<int64_t>(remaining, static_cast<int64_t>(FStaging.size() - FFill)));
    const size_t got = ReadFully(fd, FStaging.data() + FFill, want, readError);
    if (sent) hash.Update(FStaging.data() + FFill, got);
    if (got < want) ended = true;
    FFill += got;
    remaining -= static_cast<int64_t>(got);
    if (FFill == FStaging.size()) {
      FlushStaging();
      if (!WaitForRoom()) {
        ::close(fd);
        return false;
      }
    }
  }
  if (sent) {
    // The stream holds zeros where the source fell short: so does the hash.
    hash.UpdateZeros(static_cast<size_t>(remaining));
    sent->Hash = hash.Digest();
    sent->Sent = true;
    sent->ChangedWhileRead = sent->Opened.Size != entry.Size || StampOfOpen(fd) != sent->Opened;
  }
  ::close(fd);
  if (readError) NoteDeferred(fmt::format(kMsgCantReadFile, entry.Path));
  else if (remaining > 0) NoteDeferred(fmt::format(kMsgSourceChanged, entry.Path));
  const int64_t tail = remaining + (RoundUpToSector(entry.Size) - entry.Size);
  return AddToStaging(nullptr, static_cast<size_t>(tail));
}

bool TCacheThread::QueueEntries(const std::vector<TEntry>& entries) {
  for (const TEntry& entry : entries) {
    if (FAbortRequested) return false;
    if (!QueueFile(entry)) return false;
  }
  return true;
}

bool TCacheThread::QueuePadding() {
  if (!FPadToMinimum) return true;
  const int64_t pad = kMinimumTrackBytes - FInput.TotalBytes;
  FBytesToDeliver += pad;
  return AddToStaging(nullptr, static_cast<size_t>(pad));
}

void TCacheThread::Abort() {
  while (FTakeInProgress) SleepMs(10);
  FDraining = true;
  std::lock_guard<std::recursive_mutex> lock(FLock);
  FChunks.clear();
  FCachedBytes = 0;
  if (FErrorText.empty()) FErrorText = kMsgAbortedByUser;
  FFinished = true;
}

void TCacheThread::Tail() {
  FPrimed = true;
  for (;;) {
    if (FBytesToDeliver <= 0) {
      // Everything was taken; the writer joins this thread, so it can end now.
      FFinished = true;
      return;
    }
    if (FAbortRequested) {
      while (FTakeInProgress) SleepMs(10);
      FDraining = true;
      FFinished = true;
      return;
    }
    SleepMs(10);
  }
}

void TCacheThread::Execute() {
  SetCurrentThreadPriority(TThreadPriority::Lower);
  FCachedBytes = 0;
  const bool imageMode = !FInput.ImageFileName.empty();
  bool ok = imageMode || QueueHeader();
  ok = ok && QueueEntries(Entries());
  ok = ok && (imageMode || QueuePadding());
  if (ok) FlushStaging();  // the stream's last chunk, the only one not full
  if (!ok) {
    if (!FFinished) Abort();  // a source that could not be opened finished already
    return;
  }
  Tail();
}

}  // namespace fornax
