#pragma once
// The command ring a TCMU back store shares with its user-space handler: the
// kernel queues SCSI commands in it, the handler answers each one in place
// and moves the tail on. This class knows the ring's layout and nothing of
// what the commands mean; a handler gives the answers.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace fornax::vrec {

// One command as the kernel queued it: its block and the data buffers (for
// data-out what the initiator sent, for data-in where the answer goes).
struct TRingCommand {
  std::span<const uint8_t> Cdb;
  std::vector<std::span<uint8_t>> Buffers;
  size_t Length() const;
};

struct TRingAnswer {
  uint8_t Status = 0;       // SCSI status: 0 good, 2 check condition, 8 busy
  uint32_t Transferred = 0; // data-in bytes answered; the rest is the residual
  std::vector<uint8_t> Sense;
  bool Unknown = false;     // the handler does not implement the command
};

using TRingHandler = std::function<TRingAnswer(const TRingCommand&)>;

// The length of a command block, from its operation code's group.
size_t CdbLength(uint8_t opcode);

class TCommandRing {
 public:
  // `base` is the start of the mapped region (the mailbox), `size` its length.
  TCommandRing(uint8_t* base, size_t size) : FBase(base), FSize(size) {}

  // Answers every command queued since the last call, in order; returns how
  // many there were. Entries that are padding or task management are passed.
  int Drain(const TRingHandler& handler);

 private:
  bool Read(size_t entryAt, TRingCommand& command, uint8_t* cdb) const;
  void Answer(size_t entryAt, const TRingHandler& handler, bool readLength);

  uint8_t* FBase;
  size_t FSize;
};

}  // namespace fornax::vrec
