#pragma once
// One walk of a folder tree: which folders it enters, and when it stops.

#include <atomic>
#include <cstdint>
#include <set>
#include <string>
#include <utility>

#include "engine/platform/open_folder.h"

namespace fornax {

// Why a walk does not enter a folder.
enum class TFolderRefusal {
  None,              // entered
  Unreadable,        // the system refused it (Reason says why)
  SystemFileSystem,  // it lies on a kernel interface file system (Reason names it)
  ReachedTwice       // the walk entered it already: a second mount, or a loop
};

struct TEnteredFolder {
  TOpenFolder Folder;  // open when Refusal is None
  TFolderRefusal Refusal = TFolderRefusal::None;
  std::string Reason;
  uint64_t Device = 0;  // identity of the folder
  uint64_t Inode = 0;

  bool Entered() const { return Refusal == TFolderRefusal::None; }
};

// A walk enters each folder once, by (device, inode), so that a bind mount or
// a folder mounted inside itself neither repeats nor loops; it never enters a
// folder on a system file system (see system_file_systems.h); and it never
// goes through a symbolic link below its root: a subfolder is opened relative
// to its parent and never through a link (links to folders come as
// TEntryKind::LinkToFolder, for the caller to report). The root, which the
// user named, is followed when it is a link, as a command line's arguments
// are: the user asked for what the name shows.
//
// A walk belongs to the thread that runs it. The cancel flag is the one thing
// another thread may touch meanwhile: setting it makes Cancelled() true, and
// the caller stops at its next entry.
class TFolderWalk {
 public:
  explicit TFolderWalk(const std::atomic<bool>* Cancel = nullptr) : FCancel(Cancel) {}

  TEnteredFolder EnterRoot(const std::string& Path);
  // The subfolder Name of Parent, whose listing gave it Device and Inode.
  TEnteredFolder EnterChild(const TEnteredFolder& Parent, const std::string& Name,
                            uint64_t Device, uint64_t Inode);

  bool Cancelled() const { return FCancel != nullptr && FCancel->load(std::memory_order_relaxed); }
  const std::atomic<bool>* CancelFlag() const { return FCancel; }

 private:
  TEnteredFolder Refused(TFolderRefusal refusal, std::string reason) const;
  void Record(TEnteredFolder& folder);

  const std::atomic<bool>* FCancel;
  std::set<std::pair<uint64_t, uint64_t>> FEntered;
};

}  // namespace fornax
