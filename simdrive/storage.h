#pragma once
// The files of the state directory:
//   lock       held with flock around every command and control call
//   state      the metadata (state_codec.h) in two slots, see StateFile
//   disc.data  the disc's sectors, sector N at byte N x 2048, sparse
// Sector data is always written before the metadata that claims it.
//
// The folder may belong to someone else than the process (a drive run as
// root on a user's folder): it is opened once, never through a symbolic
// link, and every file in it is opened, made and renamed relative to that
// descriptor, without following a link and only when it is a regular file
// of one name. Whatever is put in the folder, the process reads, writes and
// makes nothing outside it, and a folder moved or swapped afterwards changes
// nothing.

#include <sys/types.h>

#include <cstdint>
#include <string>

#include "simdrive/command.h"

namespace fornax::sim {

// $FORNAX_SIMDRIVE_DIR, else $XDG_STATE_HOME/fornax/simdrive, else
// ~/.local/state/fornax/simdrive.
std::string DefaultStateDirectory();
bool MakeDirectories(const std::string& path, std::string* error);

std::string LockPath(const std::string& dir);
std::string StatePath(const std::string& dir);
std::string DataPath(const std::string& dir);

// The sector file. It stays open for the life of the process (reopened
// after a fork or a change of directory).
class SectorFile : public SectorStore {
 public:
  SectorFile() = default;
  SectorFile(const SectorFile&) = delete;
  SectorFile& operator=(const SectorFile&) = delete;
  ~SectorFile() override;
  // `folder` is the state directory's descriptor, `dir` its path for messages.
  bool Open(int folder, const std::string& dir, std::string* error);
  void Close();
  bool Read(uint32_t lba, uint32_t count, uint8_t* out) override;
  bool Write(uint32_t lba, uint32_t count, const uint8_t* data) override;
  // Only asks for the wipe: the drive empties the file once the state that
  // no longer claims its sectors is stored (see Drive::RunSession).
  bool Wipe() override;
  bool TakeWipeRequest();
  bool Truncate();
  // Copies the sectors to disc.data.corrupt (holes stay holes), beside a
  // refused state set aside: whatever the state was, the disc's bytes are
  // not lost. A copy, not a rename: other processes keep this file open.
  bool KeepCopy(std::string* error);

 private:
  void ReserveAhead(off_t at, off_t end);

  int folder_ = -1;  // the state directory's, owned by it
  std::string dir_;
  int fd_ = -1;
  bool wipe_requested_ = false;
  off_t written_end_ = 0;   // where this process's last write ended
  off_t reserved_end_ = 0;  // blocks up to here were reserved by this process
};

// The metadata file "state": a 4 KiB header and two 1 MiB slots (sparse)
// that each hold the whole state as text (state_codec.h), mapped shared. A
// store writes the slot not in use and then the header's 8-byte generation,
// whose lowest bit names the slot in force: a process that dies at any point leaves either the old generation
// (and its slot, untouched) or the new one. Loading compares the generation
// (and instance, a number each new file gets) with what this process last
// saw, so the text is decoded only when another process changed the drive.
//
// No fsync anywhere: the guarantee is against the death of a process, not of
// the machine. Data written with pwrite is in the page cache, which every
// process sees and which outlives the writer, so ordering the writes (sectors,
// then the slot, then the generation) is all that is needed.
class StateFile {
 public:
  enum class Loaded { kUnchanged, kText, kMissing, kUnreadable };

  StateFile() = default;
  StateFile(const StateFile&) = delete;
  StateFile& operator=(const StateFile&) = delete;
  ~StateFile();
  // `folder` stays the state directory's (StateDirectory owns it).
  bool Open(int folder, const std::string& dir, std::string* error);
  void Close();
  // kText: *text is the state stored by another process (or a state of the
  // format before the slots); kUnchanged: what this process saw last.
  Loaded Load(std::string* text, std::string* error);
  bool Store(const std::string& text, std::string* error);
  // False after loading a state of the format before the slots.
  bool InSlots() const { return valid_; }
  // Keeps an unreadable metadata file aside as state.corrupt.
  void SetAside();

 private:
  bool Reopen(std::string* error);
  bool Create(const std::string& text, std::string* error);
  void CloseFile();
  void Unmap();

  std::string dir_;
  int folder_ = -1;
  int fd_ = -1;
  uint8_t* map_ = nullptr;  // the whole file, shared: header and slots
  bool valid_ = false;  // the open file has a header of this format
  uint64_t instance_ = 0, generation_ = 0;
};

// Everything of one state directory a process keeps open: the folder, the
// lock file, the metadata and the sectors. Opened on first use; reopened in a
// child after fork (an inherited flock descriptor would be shared with the
// parent) and when the folder was removed (it is then made again).
class StateDirectory {
 public:
  bool Ensure(const std::string& dir, std::string* error);
  void Close();
  // An exclusive flock on "lock", which orders the processes.
  bool Lock(std::string* error);
  void Unlock();
  StateFile& state() { return state_; }
  SectorFile& sectors() { return sectors_; }

 private:
  bool FolderRemoved() const;

  std::string dir_;
  uint64_t forks_ = 0;  // forks of the process when opened (see Ensure)
  int folder_fd_ = -1;
  int lock_fd_ = -1;
  StateFile state_;
  SectorFile sectors_;
};

// Copies sectors [0, blocks) of the data file into a flat image, leaving
// holes where nothing was recorded. The data file is opened as the drive
// opens it (see above).
bool ExportImage(const std::string& dir, uint32_t blocks, const std::string& path, std::string* error);

}  // namespace fornax::sim
