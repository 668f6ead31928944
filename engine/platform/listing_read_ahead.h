#pragma once
// The folders of a tree read ahead of a scan, on a thread of their own.
//
// A scan spends about a third of its time in the kernel reading folders and
// examining their entries, and the rest making the compilation's entries from
// them. While the scan makes the entries of one folder, the read-ahead reads
// the folders the scan will enter next (their entries and short names, see
// ReadFolder): it walks the tree below the root in the scan's own order (a
// folder, then each of its subfolders in the order they were read, depth
// first) and keeps a bounded queue of folders read.
//
// It never decides anything for the scan: a folder the scan asks for that is
// not ready (another file system, a folder swapped meanwhile, a walk that
// fell behind) is simply not there, and the scan reads the folder itself.

#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>

#include "engine/platform/dir_listing.h"
#include "engine/platform/open_folder.h"

namespace fornax {

class TListingReadAhead {
 public:
  // Starts at once with the folder at Path (with or without a trailing "/"),
  // reading each folder as ReadFolder(folder, nullptr, Options) does; the
  // scan makes the listing (ListingOf), so that the two threads share the work.
  TListingReadAhead(const std::string& Path, TListOptions Options);
  ~TListingReadAhead();
  TListingReadAhead(const TListingReadAhead&) = delete;
  TListingReadAhead& operator=(const TListingReadAhead&) = delete;

  // The folder (Device, Inode) as read: waits while the read-ahead is
  // reading that very folder; nothing when it is not queued. Folders queued
  // before it are dropped, as the scan has passed them. A folder the scan
  // had to wait for may come without its short names (ListingOf makes
  // them): the waiting thread does that part while the walk reads on.
  std::optional<TReadFolder> Take(uint64_t Device, uint64_t Inode);

  // How far the walk may run ahead of the scan: enough to cover the time the
  // scan spends on a folder's entries, little next to the compilation itself.
  // One listing is always let through, however many items it has.
  static constexpr size_t kMostListings = 256;
  static constexpr size_t kMostItems = 50000;

  // Listings handed out, asked for but not there, and queued now (for tests).
  int Hits() const { return FHits; }
  int Misses() const { return FMisses; }
  size_t Queued();

 private:
  struct TReadListing {
    uint64_t Device, Inode;
    TReadFolder Folder;
  };
  using TKey = std::pair<uint64_t, uint64_t>;

  void Walk(TOpenFolder Root, const std::string& Path, TKey Key);
  bool WaitForRoom(std::unique_lock<std::mutex>& lock);

  const TListOptions FOptions;
  std::mutex FLock;
  std::condition_variable FChanged;
  std::deque<TReadListing> FQueue;
  size_t FQueuedItems = 0;
  std::optional<TKey> FReading;  // the folder the walk queues next
  bool FScanWaits = false;       // the scan waits for FReading
  std::set<TKey> FWalked;        // the walk's own: a folder reached twice is not walked again
  std::set<TKey> FPassed;        // folders on other file systems, left to the scan
  bool FStop = false;
  bool FDone = false;
  std::atomic<bool> FCancel{false};
  int FHits = 0, FMisses = 0;
  std::thread FThread;
};

}  // namespace fornax
