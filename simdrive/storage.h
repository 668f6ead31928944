#pragma once
// The files of the state directory:
//   lock       held with flock around every command and control call
//   state      the metadata (state_codec.h), replaced by write-to-temp + rename
//   disc.data  the disc's sectors, sector N at byte N x 2048, sparse
// Sector data always reaches the disk before the metadata that claims it.

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

// An exclusive flock on the directory's lock file for its lifetime.
class DirectoryLock {
 public:
  DirectoryLock() = default;
  DirectoryLock(const DirectoryLock&) = delete;
  DirectoryLock& operator=(const DirectoryLock&) = delete;
  ~DirectoryLock();
  bool Acquire(const std::string& dir, std::string* error);

 private:
  int fd_ = -1;
};

// The sector file, opened for one locked call.
class SectorFile : public SectorStore {
 public:
  SectorFile() = default;
  SectorFile(const SectorFile&) = delete;
  SectorFile& operator=(const SectorFile&) = delete;
  ~SectorFile() override;
  bool Open(const std::string& dir, std::string* error);
  bool Read(uint32_t lba, uint32_t count, uint8_t* out) override;
  bool Write(uint32_t lba, uint32_t count, const uint8_t* data) override;
  bool Wipe() override;
  // Makes written sectors durable; a no-op when nothing was written.
  bool Sync();

 private:
  int fd_ = -1;
  bool dirty_ = false;
};

// Reads the metadata; *exists is false (and true returned) when there is none.
bool ReadStateFile(const std::string& dir, std::string* text, bool* exists, std::string* error);
bool WriteStateFile(const std::string& dir, const std::string& text, std::string* error);
// Keeps an unreadable metadata file beside the new one to be looked at.
void SetAsideStateFile(const std::string& dir);

// Copies sectors [0, blocks) of the data file into a flat image, leaving
// holes where nothing was recorded.
bool ExportImage(const std::string& dir, uint32_t blocks, const std::string& path, std::string* error);

}  // namespace fornax::sim
