#include "engine/platform/listing_read_ahead.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstddef>
#include <memory>
#include <system_error>
#include <vector>

namespace fornax {

TListingReadAhead::TListingReadAhead(const std::string& Path, TListOptions Options) : FOptions(Options) {
  TOpenFolder root = TOpenFolder::Open(Path);
  struct stat info {};
  if (!root.IsOpen() || ::fstat(root.Descriptor(), &info) != 0) {
    FDone = true;
    return;
  }
  const TKey key{static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino)};
  FWalked.insert(key);
  // Marked before the thread starts, so that the scan's first question waits
  // for the root's listing instead of reading the root itself.
  FReading = key;
  try {
    FThread = std::thread([this, key, folder = std::move(root), Path]() mutable {
      Walk(std::move(folder), Path, key);
      {
        std::lock_guard<std::mutex> lock(FLock);
        FReading.reset();
        FDone = true;
      }
      FChanged.notify_all();
    });
  } catch (const std::system_error&) {
    // No thread to be had: the scan reads every folder itself.
    FReading.reset();
    FDone = true;
  }
}

TListingReadAhead::~TListingReadAhead() {
  {
    std::lock_guard<std::mutex> lock(FLock);
    FStop = true;
  }
  FCancel = true;
  FChanged.notify_all();
  if (FThread.joinable()) FThread.join();
}

size_t TListingReadAhead::Queued() {
  std::lock_guard<std::mutex> lock(FLock);
  return FQueue.size();
}

bool TListingReadAhead::WaitForRoom(std::unique_lock<std::mutex>& lock) {
  FChanged.wait(lock, [this] {
    return FStop || FQueue.empty() || (FQueue.size() < kMostListings && FQueuedItems < kMostItems);
  });
  return !FStop;
}

// Depth first, in the listing's order, as the scan goes: the folders still
// to list wait on a stack with their parents kept open, so that the walk
// always knows which folder it will queue next (FReading), and the scan
// waits for that one rather than reading it twice.
void TListingReadAhead::Walk(TOpenFolder Root, const std::string& Path, TKey Key) {
  struct TPending {
    std::shared_ptr<TOpenFolder> Parent;
    std::string Name, Path;
    TKey Key;
  };
  std::vector<TPending> pending;
  auto folder = std::make_shared<TOpenFolder>(std::move(Root));
  std::string path = Path;
  TKey key = Key;
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(FLock);
      if (!WaitForRoom(lock)) return;
    }
    TReadFolder read = ReadFolder(*folder, &FCancel, FOptions, TFolderNaming::NameLater);
    if (read.Read.Cut) return;
    // A scan that waits for this folder has nothing else to do: the names
    // are its part then, and the walk goes on to the next folder.
    bool scanWaits = false;
    {
      std::lock_guard<std::mutex> lock(FLock);
      scanWaits = FScanWaits;
    }
    if (!scanWaits) NameFolder(read);
    const size_t before = pending.size();
    std::vector<TKey> passed;
    // The folders among the entries are the folders among the listing's items.
    for (const TFolderEntry& entry : read.Read.Entries) {
      if (entry.Kind != TEntryKind::Folder) continue;
      const TKey child{static_cast<uint64_t>(entry.Info.st_dev), static_cast<uint64_t>(entry.Info.st_ino)};
      // Another file system is the scan's to look at (it may refuse it, or
      // hang); a folder reached twice is never entered again.
      if (child.first != key.first) passed.push_back(child);
      else if (FWalked.insert(child).second) pending.push_back({folder, entry.Name, ChildPath(path, entry.Name), child});
    }
    std::reverse(pending.begin() + static_cast<std::ptrdiff_t>(before), pending.end());
    {
      std::lock_guard<std::mutex> lock(FLock);
      if (FStop) return;
      FPassed.insert(passed.begin(), passed.end());
      FQueuedItems += read.Read.Entries.size();
      FQueue.push_back({key.first, key.second, std::move(read)});
      FReading = pending.empty() ? std::nullopt : std::optional<TKey>(pending.back().Key);
    }
    FChanged.notify_all();
    // The next folder that opens; one that does not, the scan cannot enter.
    for (;;) {
      if (pending.empty()) return;
      TPending next = std::move(pending.back());
      pending.pop_back();
      TOpenFolder child = next.Parent->OpenChild(next.Name);
      if (child.IsOpen()) {
        folder = std::make_shared<TOpenFolder>(std::move(child));
        path = std::move(next.Path);
        key = next.Key;
        break;
      }
      std::lock_guard<std::mutex> lock(FLock);
      FReading = pending.empty() ? std::nullopt : std::optional<TKey>(pending.back().Key);
    }
  }
}

std::optional<TReadFolder> TListingReadAhead::Take(uint64_t Device, uint64_t Inode) {
  const TKey key{Device, Inode};
  std::unique_lock<std::mutex> lock(FLock);
  for (;;) {
    const auto found = std::find_if(FQueue.begin(), FQueue.end(), [&](const TReadListing& queued) {
      return queued.Device == Device && queued.Inode == Inode;
    });
    if (found != FQueue.end()) {
      // Whatever was queued before it, the scan has passed (or left out).
      for (auto passed = FQueue.begin(); passed != found; ++passed) FQueuedItems -= passed->Folder.Read.Entries.size();
      TReadFolder listing = std::move(found->Folder);
      FQueuedItems -= listing.Read.Entries.size();
      FQueue.erase(FQueue.begin(), found + 1);
      ++FHits;
      lock.unlock();
      FChanged.notify_all();
      return listing;
    }
    if (FReading == key) {
      // The walk lists that folder next: what it queued before comes before
      // it, so the scan has passed it, and it must not keep the walk waiting
      // for room.
      if (!FQueue.empty()) {
        FQueue.clear();
        FQueuedItems = 0;
        FChanged.notify_all();
      }
      FScanWaits = true;
      FChanged.wait(lock);
      FScanWaits = false;
      continue;
    }
    break;
  }
  ++FMisses;
  // A folder the walk chose to leave to the scan says nothing about the
  // walk's place. Any other miss means the walk is behind the scan (or went
  // where the scan did not): what it queued is stale, and would only hold it
  // back.
  if (FPassed.count(key) == 0) {
    FQueue.clear();
    FQueuedItems = 0;
    lock.unlock();
    FChanged.notify_all();
  }
  return std::nullopt;
}

}  // namespace fornax
