#pragma once
// One SCSI command as the drive receives it, its reply, and what a command
// handler may touch: the drive state and the disc's sectors.

#include <cstdint>
#include <span>
#include <vector>

#include "simdrive/drive_state.h"
#include "simdrive/sense.h"

namespace fornax::sim {

struct Command {
  std::span<const uint8_t> cdb;
  std::span<const uint8_t> data_out;  // what the host sent
  uint32_t data_in_room = 0;          // how much the host's buffer takes
};

enum class Completion : uint8_t {
  kGood,
  kCheckCondition,
  kBusy,           // target status BUSY, no sense
  kTransferError,  // the host's buffer does not hold the data the command moves
};

struct Reply {
  Completion status = Completion::kGood;
  Sense sense;
  std::vector<uint8_t> data;  // data-in, cut to the allocation length
  // Data-out bytes the command took; -1: all it was given when GOOD, none otherwise.
  int64_t taken = -1;

  static Reply Good(std::vector<uint8_t> data = {}) { return Reply{Completion::kGood, {}, std::move(data), -1}; }
  static Reply Check(const Sense& s) { return Reply{Completion::kCheckCondition, s, {}, -1}; }
  static Reply Refused(const Sense& s) { return s.Good() ? Good() : Check(s); }
};

// The disc's sectors, 2048 bytes each; blocks never written read as zeros.
class SectorStore {
 public:
  virtual ~SectorStore() = default;
  virtual bool Read(uint32_t lba, uint32_t count, uint8_t* out) = 0;
  virtual bool Write(uint32_t lba, uint32_t count, const uint8_t* data) = 0;
  virtual bool Wipe() = 0;
};

struct CommandContext {
  DriveState& state;
  SectorStore& sectors;
  int64_t now_ms = 0;
  Sense& pending_sense;  // what REQUEST SENSE reports next (per process, like an initiator's)
  int raise_signal = 0;  // a signal for this process once the state is stored
  // False in a process that serves other programs (the virtual recorder): a
  // signal fault there would stop the drive for everyone, so it never fires.
  bool signals_allowed = true;
  int64_t now_us = 0;    // the same moment as now_ms, finer (the write buffer drains by it)
  // How long the command takes after its effect is stored: the caller waits
  // that long, outside the lock (a close, flush or OPC without Immed).
  int64_t wait_ms = 0;
};

// The allocation length a CDB names, applied to an answer.
inline std::vector<uint8_t> CutTo(std::vector<uint8_t> answer, uint32_t allocation) {
  if (answer.size() > allocation) answer.resize(allocation);
  return answer;
}

}  // namespace fornax::sim
