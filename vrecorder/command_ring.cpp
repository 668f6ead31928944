#include "vrecorder/command_ring.h"

#include <algorithm>
#include <cstring>

#include "vrecorder/tcmu_layout.h"

namespace fornax::vrec {
namespace {

constexpr uint8_t kStatusCheckCondition = 0x02;
constexpr size_t kLongestCdb = 16;

// The ring's fields are packed and written by the kernel: read and written
// by copying, never through a misaligned pointer.
template <typename T>
T Get(const uint8_t* at) {
  T value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

template <typename T>
void Put(uint8_t* at, T value) {
  std::memcpy(at, &value, sizeof value);
}

uint32_t* Word(uint8_t* base, size_t offset) { return reinterpret_cast<uint32_t*>(base + offset); }

// Fixed-format sense 05/24/00, for an entry the handler cannot be given.
std::vector<uint8_t> InvalidFieldSense() {
  std::vector<uint8_t> sense(18, 0);
  sense[0] = 0x70;
  sense[2] = 0x05;
  sense[7] = 10;
  sense[12] = 0x24;
  return sense;
}

}  // namespace

size_t TRingCommand::Length() const {
  size_t total = 0;
  for (const auto& b : Buffers) total += b.size();
  return total;
}

size_t CdbLength(uint8_t opcode) {
  switch (opcode >> 5) {
    case 0: return 6;
    case 1:
    case 2: return 10;
    case 4: return 16;
    case 5: return 12;
    default: return 10;  // reserved and vendor groups: the usual length
  }
}

// The command block and the buffers of an entry, checked against the mapped
// region: an entry that points outside it is refused, never followed.
bool TCommandRing::Read(size_t entryAt, TRingCommand& command, uint8_t* cdb) const {
  const uint8_t* entry = FBase + entryAt;
  const uint64_t cdbAt = Get<uint64_t>(entry + FORNAX_TCMU_REQ_CDB_OFFSET);
  const uint32_t count = Get<uint32_t>(entry + FORNAX_TCMU_REQ_IOV_COUNT);
  const size_t tableAt = entryAt + FORNAX_TCMU_REQ_IOV;
  if (cdbAt >= FSize || tableAt > FSize || count > (FSize - tableAt) / FORNAX_TCMU_IOV_BYTES) return false;
  const size_t length = std::min({CdbLength(FBase[cdbAt]), kLongestCdb, FSize - static_cast<size_t>(cdbAt)});
  std::memcpy(cdb, FBase + cdbAt, length);
  command.Cdb = std::span<const uint8_t>(cdb, length);
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* iov = FBase + tableAt + i * FORNAX_TCMU_IOV_BYTES;
    const uint64_t offset = Get<uint64_t>(iov), bytes = Get<uint64_t>(iov + 8);
    if (offset > FSize || bytes > FSize - offset) return false;
    command.Buffers.emplace_back(FBase + offset, bytes);
  }
  return true;
}

void TCommandRing::Answer(size_t entryAt, const TRingHandler& handler, bool readLength) {
  // The answer takes the request's place: everything is read first.
  TRingCommand command;
  uint8_t cdb[kLongestCdb] = {};
  TRingAnswer answer;
  if (Read(entryAt, command, cdb)) {
    answer = handler(command);
  } else {
    answer.Status = kStatusCheckCondition;
    answer.Sense = InvalidFieldSense();
  }
  uint8_t* entry = FBase + entryAt;
  std::memset(entry + FORNAX_TCMU_RSP_STATUS, 0, FORNAX_TCMU_RSP_SENSE + FORNAX_TCMU_SENSE_BYTES - FORNAX_TCMU_RSP_STATUS);
  entry[FORNAX_TCMU_RSP_STATUS] = answer.Status;
  std::memcpy(entry + FORNAX_TCMU_RSP_SENSE, answer.Sense.data(),
              std::min<size_t>(answer.Sense.size(), FORNAX_TCMU_SENSE_BYTES));
  uint8_t flags = entry[FORNAX_TCMU_ENTRY_UFLAGS];
  if (readLength) {
    Put<uint32_t>(entry + FORNAX_TCMU_RSP_READ_LEN, answer.Transferred);
    flags |= FORNAX_TCMU_UFLAG_READ_LEN;
  }
  if (answer.Unknown) flags |= FORNAX_TCMU_UFLAG_UNKNOWN_OP;
  entry[FORNAX_TCMU_ENTRY_UFLAGS] = flags;
}

int TCommandRing::Drain(const TRingHandler& handler) {
  const uint32_t ringAt = Get<uint32_t>(FBase + FORNAX_TCMU_MAILBOX_RING_OFFSET);
  const uint32_t ringSize = Get<uint32_t>(FBase + FORNAX_TCMU_MAILBOX_RING_SIZE);
  if (ringSize == 0 || ringAt > FSize || ringSize > FSize - ringAt) return 0;
  const bool readLength = Get<uint16_t>(FBase + FORNAX_TCMU_MAILBOX_FLAGS) & FORNAX_TCMU_FLAG_READ_LEN;
  uint32_t tail = __atomic_load_n(Word(FBase, FORNAX_TCMU_MAILBOX_TAIL), __ATOMIC_ACQUIRE);
  const uint32_t head = __atomic_load_n(Word(FBase, FORNAX_TCMU_MAILBOX_HEAD), __ATOMIC_ACQUIRE);
  int answered = 0;
  while (tail != head && tail < ringSize) {
    const size_t entryAt = ringAt + tail;
    const uint32_t lenOp = Get<uint32_t>(FBase + entryAt + FORNAX_TCMU_ENTRY_LEN_OP);
    const uint32_t length = lenOp & ~uint32_t{FORNAX_TCMU_OP_MASK};
    if (length == 0 || length > ringSize) break;  // a ring the kernel would never write
    if ((lenOp & FORNAX_TCMU_OP_MASK) == FORNAX_TCMU_OP_CMD) {
      Answer(entryAt, handler, readLength);
      ++answered;
    }
    tail = (tail + length) % ringSize;
  }
  __atomic_store_n(Word(FBase, FORNAX_TCMU_MAILBOX_TAIL), tail, __ATOMIC_RELEASE);
  return answered;
}

}  // namespace fornax::vrec
