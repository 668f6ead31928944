#include "engine/pipeline/cache_thread.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <system_error>
#include <fmt/format.h>

#include "engine/base/content_hash.h"
#include "engine/base/messages.h"
#include "engine/base/sector.h"
#include "engine/image/compilation.h"
#include "engine/image/extent_copy.h"
#include "engine/base/pacing.h"
#include "engine/pipeline/burn_record.h"
#include "engine/pipeline/thread_priority.h"

namespace fornax {
namespace {

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

// A copier's share of the direct write at a time.
constexpr size_t kDirectRunFiles = 32;
constexpr int64_t kDirectRunBytes = 4 << 20;

}  // namespace

TCacheThread::TCacheThread(const TCacheInput& input)
    : FInput(input),
      FLock(*input.CacheLock),
      FChunkSize(input.ChunkSize),
      // A DVD writer pads the last chunk to a whole 32-sector unit in place.
      FBufferBytes(static_cast<size_t>(std::max(input.ChunkSize, kChunkSizeDvd))),
      // Room for two chunks at least: the producer waits while one more
      // would fill the queue.
      FCapacityChunks(static_cast<size_t>(std::max<int64_t>(2, input.CacheBytes / input.ChunkSize))),
      FRefillAt(FCapacityChunks - 1 - std::max<size_t>(1, FCapacityChunks / 4)),
      FPadToMinimum(input.WritePostGap && input.ImageFileName.empty() && input.TotalBytes < kMinimumTrackBytes) {
  FThread = std::thread([this] { Execute(); });
}

TCacheThread::~TCacheThread() {
  RequestAbort();
  WaitForEnd();
}

void TCacheThread::WaitForEnd() {
  if (FThread.joinable()) FThread.join();
}

void TCacheThread::RequestAbort() {
  {
    std::lock_guard<std::mutex> queue(FQueueLock);
    FAbortRequested = true;
  }
  FRoomMade.notify_all();
  FChunkReady.notify_all();
}

bool TCacheThread::WaitPrimed(int waitMs) {
  std::unique_lock<std::mutex> queue(FQueueLock);
  return FStateChanged.wait_for(queue, std::chrono::milliseconds(waitMs), [this] { return FPrimed || FFinished; });
}

bool TCacheThread::WaitFinished(int waitMs) {
  std::unique_lock<std::mutex> queue(FQueueLock);
  return FStateChanged.wait_for(queue, std::chrono::milliseconds(waitMs), [this] { return FFinished.load(); });
}

std::string TCacheThread::CurrentFile() const {
  std::lock_guard<std::recursive_mutex> lock(FLock);
  return FCurrentFile;
}

void TCacheThread::NoteCurrentFile(const std::string& path) {
  std::lock_guard<std::recursive_mutex> lock(FLock);
  FCurrentFile = path;
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

// An error that ends the stream; an earlier text (the writer's) is kept.
void TCacheThread::Failed(const std::string& text) {
  std::lock_guard<std::recursive_mutex> lock(FLock);
  if (FErrorText.empty()) FErrorText = text;
}

int TCacheThread::TakeChunk(std::vector<uint8_t>& buffer, int waitMs) {
  std::unique_lock<std::mutex> queue(FQueueLock);
  if (buffer.size() == FBufferBytes) FSpare.push_back(std::move(buffer));
  buffer.clear();
  if (waitMs > 0)
    FChunkReady.wait_for(queue, std::chrono::milliseconds(waitMs),
                         [this] { return !FChunks.empty() || FFinished || FAbortRequested; });
  if (FAbortRequested) {
    // What is queued is let go; the end of an aborted stream is never
    // mistaken for the end of the data.
    queue.unlock();
    Failed(kMsgAbortedByUser);
    return 0;
  }
  if (FChunks.empty()) return FFinished ? 0 : -1;
  TChunk chunk = std::move(FChunks.front());
  FChunks.pop_front();
  buffer = std::move(chunk.Data);
  const int length = static_cast<int>(chunk.Length);
  FCachedBytes -= length;
  const bool wake = FRoomWanted && FChunks.size() <= FRefillAt;
  if (wake) FRoomWanted = false;
  queue.unlock();
  if (wake) FRoomMade.notify_one();
  return length;
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
// Once full it waits until a quarter of the queue is free again, not just
// one chunk: the writer then wakes it once in many chunks rather than at
// every chunk it takes, and it refills the room in one go.
bool TCacheThread::WaitForRoom() {
  std::unique_lock<std::mutex> queue(FQueueLock);
  AdjustPriority(FChunks.size());
  if (FChunks.size() + 1 >= FCapacityChunks && !FAbortRequested) {
    if (FPriorityBand != 0) {
      FPriorityBand = 0;
      SetCurrentThreadPriority(TThreadPriority::Idle);
    }
    if (!FPrimed) {
      FPrimed = true;
      FStateChanged.notify_all();
    }
    FRoomWanted = true;
    FRoomMade.wait(queue, [this] { return FChunks.size() <= FRefillAt || FAbortRequested; });
  }
  return !FAbortRequested;
}

// The chunk being filled: a buffer the writer gave back, or a new one.
bool TCacheThread::HaveBuffer() {
  if (!FFilling.empty()) return true;
  if (!WaitForRoom()) return false;
  std::lock_guard<std::mutex> queue(FQueueLock);
  if (!FSpare.empty()) {
    FFilling = std::move(FSpare.back());
    FSpare.pop_back();
  } else {
    FFilling.assign(FBufferBytes, 0);
  }
  FFill = 0;
  return true;
}

void TCacheThread::PushChunk() {
  if (FFill == 0) return;
  if (FInput.Record && FInput.Record->ForImage())
    FInput.Record->AddChunk(HashBytes(FFilling.data(), FFill), static_cast<int>(FFill));
  {
    std::lock_guard<std::mutex> queue(FQueueLock);
    FChunks.push_back({std::move(FFilling), FFill});
    FCachedBytes += static_cast<int64_t>(FFill);
  }
  FChunkReady.notify_one();
  FFilling.clear();
  FFill = 0;
}

// Every chunk but the stream's last is full, so a writer that always sends
// whole chunks keeps every later sector in its place. Null bytes: zeros.
bool TCacheThread::AddBytes(const uint8_t* bytes, size_t count) {
  const size_t chunk = static_cast<size_t>(FChunkSize);
  while (count > 0) {
    if (!HaveBuffer()) return false;
    const size_t piece = std::min(count, chunk - FFill);
    if (bytes) {
      std::memcpy(FFilling.data() + FFill, bytes, piece);
      bytes += piece;
    } else {
      std::memset(FFilling.data() + FFill, 0, piece);
    }
    FFill += piece;
    count -= piece;
    if (FFill == chunk) PushChunk();
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
      // An empty file has nothing to read: its path is not even made.
      if (e->ISOSize == 0 || e->IsDirectory() || (e->Attributes & 0x10) || e->Imported) return;
      std::string path = e->SourcePath();
      if (path.empty()) return;
      const size_t nameAt = e->SourceFolder ? e->SourceFolder->size() + 1 : 0;
      entries.push_back({std::move(path), e->ISOSize, FInput.Record ? FInput.Record->IndexOf(e) : -1,
                         e->SourceFolder, nameAt});
    });
  }
  return entries;
}

bool TCacheThread::QueueHeader() {
  if (!FInput.Header) return true;
  bool ok = true;
  // Direct: the header goes from the start of the image, while the files
  // may already be copied behind it.
  int64_t at = FDirectPosition;
  const auto direct = [this, &ok, &at](const uint8_t* bytes, size_t length) {
    if (FAbortRequested) ok = false;
    for (size_t done = 0; ok && done < length;) {
      const ssize_t n = ::pwrite(FInput.DirectTarget, bytes + done, length - done,
                                 static_cast<off_t>(at + static_cast<int64_t>(done)));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        Failed(fmt::format(kMsgCantWriteFile, FInput.DirectTargetName, std::strerror(n == 0 ? ENOSPC : errno)));
        ok = false;
        return;
      }
      done += static_cast<size_t>(n);
    }
    at += static_cast<int64_t>(length);
    FDirectProgress.fetch_add(static_cast<int64_t>(length), std::memory_order_relaxed);
  };
  // After a failure or an abort the rest of the header is made but dropped.
  const auto queued = [this, &ok](const uint8_t* bytes, size_t length) {
    if (ok) ok = AddBytes(bytes, length);
  };
  try {
    if (Direct()) {
      FInput.Header(direct);
      FDirectPosition = at;
    } else {
      FInput.Header(queued);
    }
  } catch (const std::exception& e) {
    // A header that does not match its layout is a fault of the engine; it
    // ends this write, not the program.
    Failed(e.what());
    return false;
  }
  return ok;
}

TCacheThread::TSourceFolder::~TSourceFolder() {
  if (FDescriptor >= 0) ::close(FDescriptor);
}

int TCacheThread::TSourceFolder::Open(const std::string* Folder) {
  if (Folder == FFolder) return FDescriptor;
  if (FDescriptor >= 0) ::close(FDescriptor);
  FFolder = Folder;
  FDescriptor = ::open(Folder->c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  return FDescriptor;
}

// A source that cannot be opened ends the write; one whose size is not the
// size it was added with is copied all the same, and the end report says so.
TCacheThread::TOpenSource TCacheThread::OpenSource(const TEntry& entry, TSourceFolder& folder) {
  NoteCurrentFile(entry.Path);
  TOpenSource opened;
  // A folder that does not open leaves the whole path to say why.
  const int in = entry.Folder ? folder.Open(entry.Folder) : -1;
  opened.Descriptor = in >= 0 ? ::openat(in, entry.Path.c_str() + entry.NameAt, O_RDONLY | O_CLOEXEC)
                              : ::open(entry.Path.c_str(), O_RDONLY | O_CLOEXEC);
  if (opened.Descriptor < 0) {
    Failed(fmt::format(kMsgCantOpenFile, entry.Path));
    return opened;
  }
  opened.Known = ::fstat(opened.Descriptor, &opened.Info) == 0;
  if (opened.Known && opened.Info.st_size != entry.Size) NoteDeferred(fmt::format(kMsgSourceChanged, entry.Path));
  return opened;
}

// Straight from the source into the image at the file's planned offset `at`;
// the rest of its extent stays a hole of the new file, which reads as zeros.
bool TCacheThread::CopyFileDirect(const TEntry& entry, TSourceFolder& folder, int64_t at, bool mapAhead) {
  const TOpenSource opened = OpenSource(entry, folder);
  const int source = opened.Descriptor;
  if (source < 0) return false;
  const struct stat& st = opened.Info;
  const bool known = opened.Known;
  if (known && FTargetInode != 0 && st.st_dev == FTargetDevice && st.st_ino == FTargetInode) {
    ::close(source);
    Failed(fmt::format(kMsgImageAmongSources, FInput.DirectTargetName));
    return false;
  }
  bool ok = true;
  try {
    const TExtentCopy copy = CopyExtent(source, known ? st.st_size : entry.Size, FInput.DirectTarget, at, entry.Size,
                                        true, &FDirectProgress, &FAbortRequested, mapAhead);
    ok = !copy.Cancelled;
    if (ok && (copy.Shrunk || copy.Grown)) NoteDeferred(fmt::format(kMsgSourceChanged, entry.Path));
  } catch (const ESourceReadError&) {
    NoteDeferred(fmt::format(kMsgCantReadFile, entry.Path));
  } catch (const EStreamError& e) {
    Failed(fmt::format(kMsgCantWriteFile, FInput.DirectTargetName, e.what()));
    ok = false;
  }
  ::close(source);
  return ok;
}

// Every file's offset is fixed by the layout, so the files need not be
// copied in order: two copiers take runs of them in turn, and while one waits
// in the kernel (a path looked up, a file opened, read or closed) the other
// copies. The first failure or an abort stops both. A few large files are
// copied by one copier, which has the next part of the file read in by another
// thread meanwhile: two copiers into one file only wait for each other.
//
// withHeader: the header is still to be made, and its length is known. With
// two copiers, the second makes it first (it is the longer task on few
// cores), while the first copies the files behind it; one copier makes it
// before the files.
bool TCacheThread::WriteEntriesDirect(const std::vector<TEntry>& entries, bool withHeader) {
  std::vector<int64_t> offsets(entries.size());
  const bool twoCopiers = entries.size() > kDirectRunFiles;
  int64_t position = withHeader ? FDirectPosition + FInput.HeaderBytes : FDirectPosition.load();
  for (size_t i = 0; i < entries.size(); ++i) {
    offsets[i] = position;
    position += RoundUpToSector(entries[i].Size);
  }
  std::atomic<size_t> next{0};
  std::atomic<bool> stopped{false};
  const bool mapAhead = !twoCopiers && CopiesThroughPageCache(FInput.DirectTarget);
  const auto copier = [&] {
    TSourceFolder folder;
    for (;;) {
      // A run of small files, or one large file: about the same work each.
      const size_t first = next.load();
      size_t end = first;
      for (int64_t bytes = 0; end < entries.size() && end - first < kDirectRunFiles && bytes < kDirectRunBytes; ++end)
        bytes += entries[end].Size;
      if (end == first) return;
      size_t expected = first;
      if (!next.compare_exchange_strong(expected, end)) continue;
      for (size_t i = first; i < end; ++i) {
        if (stopped || FAbortRequested) return;
        if (!CopyFileDirect(entries[i], folder, offsets[i], mapAhead)) {
          stopped = true;
          return;
        }
      }
    }
  };
  const int64_t headerEnd = offsets.empty() ? position : offsets.front();
  const auto header = [&] {
    if (!QueueHeader()) stopped = true;
    else if (FDirectPosition != headerEnd) {
      // The layout and the header disagree: files were copied to the wrong place.
      Failed(fmt::format("the header took {} bytes, its layout {}", FDirectPosition.load(), headerEnd));
      stopped = true;
    }
  };
  std::thread second;
  if (twoCopiers) {
    try {
      second = std::thread([&, makeHeader = withHeader] {
        if (makeHeader) header();
        if (!stopped) copier();
      });
      withHeader = false;
    } catch (const std::system_error&) {
      // No second thread to be had: one copier does it all.
    }
  }
  if (withHeader) header();
  if (!stopped) copier();
  if (second.joinable()) second.join();
  if (stopped || FAbortRequested) return false;
  FDirectPosition = position;
  FDirectProgress = position;
  return true;
}

// Copies exactly the planned bytes of one source, then zeros to the end of
// its last sector. A source that is shorter, longer or unreadable part way
// keeps its planned place: zeros stand in for what is missing.
bool TCacheThread::QueueFile(const TEntry& entry, TSourceFolder& folder) {
  const int fd = OpenSource(entry, folder).Descriptor;
  if (fd < 0) return false;
  // Read ahead of the copy: the kernel fetches the next pieces of the file
  // while the last one is handed over.
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  TSentFile* sent = entry.RecordIndex >= 0 ? &FInput.Record->File(entry.RecordIndex) : nullptr;
  TContentHash hash;
  if (sent) sent->Opened = StampOfOpen(fd);
  int64_t remaining = entry.Size;
  bool readError = false, ended = false;
  const size_t chunk = static_cast<size_t>(FChunkSize);
  while (remaining > 0 && !ended && !readError) {
    if (!HaveBuffer()) {
      ::close(fd);
      return false;
    }
    const size_t want = static_cast<size_t>(std::min<int64_t>(remaining, static_cast<int64_t>(chunk - FFill)));
    const size_t got = ReadFully(fd, FFilling.data() + FFill, want, readError);
    if (sent) hash.Update(FFilling.data() + FFill, got);
    if (got < want) ended = true;
    FFill += got;
    remaining -= static_cast<int64_t>(got);
    if (FFill == chunk) PushChunk();
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
  return AddBytes(nullptr, static_cast<size_t>(tail));
}

bool TCacheThread::QueueEntries(const std::vector<TEntry>& entries) {
  TSourceFolder folder;
  for (const TEntry& entry : entries) {
    if (FAbortRequested) return false;
    if (!QueueFile(entry, folder)) return false;
  }
  return true;
}

bool TCacheThread::QueuePadding() {
  if (!FPadToMinimum) return true;
  const int64_t pad = kMinimumTrackBytes - FInput.TotalBytes;
  if (Direct()) {
    FDirectPosition += pad;
    FDirectProgress = FDirectPosition.load();
    return true;
  }
  return AddBytes(nullptr, static_cast<size_t>(pad));
}

// Marks the end of the thread's work and wakes whoever waits for it.
void TCacheThread::EndWith(bool primed) {
  {
    std::lock_guard<std::mutex> queue(FQueueLock);
    if (primed) FPrimed = true;
    FFinished = true;
  }
  FStateChanged.notify_all();
  FChunkReady.notify_all();
}

void TCacheThread::Abort() {
  {
    std::lock_guard<std::mutex> queue(FQueueLock);
    FChunks.clear();
    FSpare.clear();
    FCachedBytes = 0;
  }
  Failed(kMsgAbortedByUser);
  EndWith(false);
}

void TCacheThread::Execute() {
  // A cache that feeds a drive yields to the writer while it is ahead; one
  // that writes the image itself is the only worker and keeps its priority.
  if (!Direct()) SetCurrentThreadPriority(TThreadPriority::Lower);
  FCachedBytes = 0;
  if (Direct()) {
    struct stat target {};
    if (::fstat(FInput.DirectTarget, &target) == 0) {
      FTargetDevice = target.st_dev;
      FTargetInode = target.st_ino;
    }
    // Nothing to prime: the writer follows the progress from the start.
    std::lock_guard<std::mutex> queue(FQueueLock);
    FPrimed = true;
  }
  FStateChanged.notify_all();
  const bool imageMode = !FInput.ImageFileName.empty();
  // A direct write that knows the header's length makes it along with the files.
  const bool headerWithFiles = Direct() && FInput.Header && FInput.HeaderBytes > 0;
  bool ok = imageMode || headerWithFiles || QueueHeader();
  ok = ok && (Direct() ? WriteEntriesDirect(Entries(), headerWithFiles) : QueueEntries(Entries()));
  ok = ok && (imageMode || QueuePadding());
  if (ok) PushChunk();  // the stream's last chunk, the only one not full
  if (!ok) {
    // A source that could not be opened, or a failed write, set its text.
    if (ErrorText().empty() || FAbortRequested) Abort();
    else EndWith(false);
    return;
  }
  EndWith(true);
}

}  // namespace fornax
