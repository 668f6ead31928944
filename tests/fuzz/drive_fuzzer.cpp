// Fuzz target for the simulated recorder: the drive state it reads from its
// folder and the commands it answers from that state. fornax-vrecorder runs
// the drive as root over a folder any user may write, so both are untrusted.
//
// An input is a state text (what the folder's metadata holds), a line "--",
// then commands, each:
//   1 byte   bits 0-1: data direction (0 none, 1 in, 2 out, 3 in);
//            bits 2-4: how far the clock moves before it (kClockSteps)
//   CDB      as many bytes as the opcode's command has (12 for an opcode the
//            drive does not know)
//   2 bytes  data length, big-endian: with bit 15 set, the rest counts
//            blocks of 2048 bytes (at most kMaxData), else bytes
//   data     data-out counted in bytes only (a parameter list): that many
//            bytes from the input; blocks of a WRITE are zeros, not in the input
// Bytes past the end of the input read as zeros. Without the "--" line the
// whole input is the state text.
//
// For each input:
//  1. the text is decoded; a refused text must come with a reason, an accepted
//     state must pass the check of reachable states (state_check.h) and come
//     back unchanged through the codec;
//  2. the commands run one by one through the drive's dispatcher, in memory,
//     on that state, with signal faults off, as in the virtual recorder; after
//     each: an answer no longer than the allocation length its CDB names and
//     none with a CHECK CONDITION, a state that still passes the check and
//     comes back unchanged through the codec, and no block read or written
//     beyond the medium (AddressLimit).
// Hangs are caught by libFuzzer's -timeout.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "simdrive/bytes.h"
#include "simdrive/describe.h"
#include "simdrive/dispatch.h"
#include "simdrive/state_check.h"
#include "simdrive/state_codec.h"

namespace {

using namespace fornax::sim;

constexpr std::string_view kSeparator = "\n--\n";
constexpr int64_t kStartMs = 1700000000000;
constexpr int64_t kClockSteps[8] = {0, 1, 10, 100, 1000, 60000, 3600000, 100000000};
constexpr size_t kMaxCommands = 256;
constexpr uint32_t kMaxData = 1u << 20;

[[noreturn]] void Broken(const char* what, const std::string& detail = "") {
  std::fprintf(stderr, "drive_fuzzer: %s%s%s\n", what, detail.empty() ? "" : ": ", detail.c_str());
  std::abort();
}

// The disc's sectors, holding nothing (blocks read as zeros); an access
// beyond the medium of the state at that moment is a broken promise.
class BoundedSectors : public SectorStore {
 public:
  explicit BoundedSectors(const DriveState& state) : state_(state) {}
  bool Read(uint32_t lba, uint32_t count, uint8_t* out) override {
    Check("read", lba, count);
    std::memset(out, 0, size_t{count} * 2048);
    return true;
  }
  bool Write(uint32_t lba, uint32_t count, const uint8_t*) override {
    Check("write", lba, count);
    return true;
  }
  bool Wipe() override { return true; }

 private:
  void Check(const char* what, uint32_t lba, uint32_t count) const {
    const uint64_t limit = AddressLimit(state_.disc);
    if (count == 0 || uint64_t{lba} + count > limit)
      Broken("a sector access beyond the medium", std::string(what) + " " + std::to_string(lba) + "+" +
                                                      std::to_string(count) + ", limit " + std::to_string(limit));
  }
  const DriveState& state_;
};

// Reads the command list; missing bytes are zeros.
class Reader {
 public:
  explicit Reader(std::string_view bytes) : bytes_(bytes) {}
  bool AtEnd() const { return at_ >= bytes_.size(); }
  uint8_t Byte() { return at_ < bytes_.size() ? static_cast<uint8_t>(bytes_[at_++]) : 0; }
  std::string_view Take(size_t n) {
    const std::string_view taken = bytes_.substr(at_, n);
    at_ += taken.size();
    return taken;
  }

 private:
  std::string_view bytes_;
  size_t at_ = 0;
};

// The most an answer may hold: what its CDB allows; 0 for commands that
// move no data to the host.
uint64_t AllocationLength(const std::vector<uint8_t>& c) {
  switch (c[0]) {
    case 0x03:
    case 0x1A: return c[4];            // REQUEST SENSE, MODE SENSE (6)
    case 0x12: return GetBe16(&c[3]);  // INQUIRY
    case 0x25: return 8;               // READ CAPACITY
    case 0x28: return uint64_t{GetBe16(&c[7])} * 2048;
    case 0xAC: return 8 + 16 * uint64_t{GetBe16(&c[8])};  // GET PERFORMANCE: descriptors
    case 0xAD:
    case 0xBD: return GetBe16(&c[8]);  // READ DVD STRUCTURE, MECHANISM STATUS
    case 0x23:
    case 0x43:
    case 0x46:
    case 0x4A:
    case 0x51:
    case 0x52:
    case 0x5A:
    case 0x5C: return GetBe16(&c[7]);
    default: return 0;
  }
}

void CheckState(const DriveState& state, const char* when) {
  if (std::string fault = StateFault(state); !fault.empty()) Broken(when, fault);
  const std::string text = EncodeState(state);
  DriveState back;
  std::string error;
  if (!DecodeState(text, &back, &error)) Broken("the codec refuses a state it wrote", error + "\n" + text);
  if (!(back == state)) Broken("the codec changes a state", text);
}

struct FuzzCommand {
  std::vector<uint8_t> cdb;
  std::vector<uint8_t> data_out;
  uint32_t data_in_room = 0;
  int64_t advance_ms = 0;
};

FuzzCommand NextCommand(Reader& in) {
  FuzzCommand c;
  const uint8_t head = in.Byte();
  const uint8_t direction = head & 0x03;
  c.advance_ms = kClockSteps[(head >> 2) & 0x07];
  const uint8_t opcode = in.Byte();
  const CommandEntry* entry = FindCommand(opcode);
  c.cdb.assign(entry != nullptr ? entry->cdb_length : 12, 0);
  c.cdb[0] = opcode;
  for (size_t i = 1; i < c.cdb.size(); ++i) c.cdb[i] = in.Byte();
  const uint16_t length_field = static_cast<uint16_t>((in.Byte() << 8) | in.Byte());
  const bool blocks = length_field & 0x8000;
  const auto data = static_cast<uint32_t>(
      std::min<uint64_t>(blocks ? uint64_t{length_field & 0x7FFFu} * 2048 : length_field, kMaxData));
  if (direction == 2) {
    c.data_out.assign(data, 0);
    const std::string_view given = blocks ? std::string_view() : in.Take(data);
    if (!given.empty()) std::memcpy(c.data_out.data(), given.data(), given.size());
  } else if (direction != 0) {
    c.data_in_room = data;
  }
  return c;
}

void RunCommand(DriveState& state, SectorStore& sectors, Sense& pending, int64_t& now_ms, const FuzzCommand& c) {
  now_ms += c.advance_ms;
  CommandContext ctx{state, sectors, now_ms, pending};
  ctx.now_us = now_ms * 1000;
  ctx.signals_allowed = false;
  const Reply reply = Dispatch(ctx, Command{c.cdb, c.data_out, c.data_in_room});
  pending = reply.status == Completion::kCheckCondition ? reply.sense : sense::kNone;
  if (reply.status != Completion::kGood && !reply.data.empty()) Broken("data with a failed command");
  const uint64_t allowed = AllocationLength(c.cdb);
  if (reply.data.size() > allowed)
    Broken("an answer beyond its allocation length", "opcode " + std::to_string(c.cdb[0]) + ": " +
                                                         std::to_string(reply.data.size()) + " > " +
                                                         std::to_string(allowed));
  if (c.cdb[0] == 0x28 && reply.data.size() > c.data_in_room) Broken("READ data beyond the host's buffer");
  if (ctx.raise_signal != 0) Broken("a signal fault fired in a process that turned them off");
  CheckState(state, "a command left a state the drive cannot reach");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const size_t split = input.find(kSeparator);
  const std::string text(input.substr(0, split == std::string_view::npos ? input.size() : split + 1));
  const std::string_view commands =
      split == std::string_view::npos ? std::string_view() : input.substr(split + kSeparator.size());

  DriveState state;
  std::string error;
  if (!DecodeState(text, &state, &error)) {
    if (error.empty()) Broken("a state refused without a reason");
    return 0;
  }
  CheckState(state, "the decoder took a state the drive cannot reach");
  int64_t now_ms = kStartMs;
  if (DescribeState(state, now_ms).empty()) Broken("an empty description");

  BoundedSectors sectors(state);
  Sense pending;
  Reader in(commands);
  for (size_t n = 0; n < kMaxCommands && !in.AtEnd(); ++n) RunCommand(state, sectors, pending, now_ms, NextCommand(in));
  DescribeState(state, now_ms);
  return 0;
}
