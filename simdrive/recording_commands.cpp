// Reading and recording: READ (10), WRITE (10), SYNCHRONIZE CACHE, CLOSE
// TRACK/SESSION, RESERVE TRACK and the preparation commands before a write.

#include <algorithm>
#include <cctype>

#include "simdrive/bytes.h"
#include "simdrive/cue_sheet.h"
#include "simdrive/disc_model.h"
#include "simdrive/handlers.h"
#include "simdrive/mode_pages.h"
#include "simdrive/operations.h"
#include "simdrive/recording.h"
#include "simdrive/write_buffer.h"

namespace fornax::sim {
namespace {

constexpr uint32_t kBlockBytes = 2048;
constexpr uint8_t kTimeStampFormat = 0x0F;
constexpr size_t kTimeStampBytes = 22;
constexpr size_t kPerformanceDescriptorBytes = 28;

Reply TransferError() { return Reply{Completion::kTransferError, {}, {}}; }

bool TestWriting(const DriveState& s) {
  return DecodeWriteParameters(s.page05).test_write &&
         SupportsTestWrite(s.disc.kind, s.disc.restricted_overwrite);
}

// A CD is written track at once (or in packets), or session at once after a
// cue sheet; raw needs raw blocks this drive does not take.
Sense CdWriteModeRefusal(const DriveState& s) {
  if (!IsCd(s.disc.kind)) return sense::kNone;
  const WriteParameters w = DecodeWriteParameters(s.page05);
  if (w.write_type > 1) return sense::kCommandSequenceError;  // session at once without a cue sheet
  if (w.block_type != 8 && w.block_type != 10) return sense::kIllegalModeForTrack;
  return sense::kNone;
}

// A fault set for a number of writes wears off after them.
Sense InjectedWriteError(DriveState& s, uint32_t lba, uint32_t count) {
  auto& faults = s.faults.write_errors;
  for (auto f = faults.begin(); f != faults.end(); ++f) {
    if (f->lba < lba || f->lba - lba >= count) continue;
    const Sense fault = sense::WithInformation(sense::Make(f->key, f->asc, f->ascq), f->lba);
    if (f->remaining > 0 && --f->remaining == 0) faults.erase(f);
    return fault;
  }
  return sense::kNone;
}

// A read fault set for a number of reads wears off after them; the sense
// names the first faulty block the read covers.
Sense InjectedReadError(DriveState& s, uint32_t lba, uint32_t count) {
  auto& faults = s.faults.read_errors;
  for (auto f = faults.begin(); f != faults.end(); ++f) {
    const uint64_t from = std::max<uint64_t>(f->lba, lba);
    if (from >= std::min<uint64_t>(uint64_t{f->lba} + f->count, uint64_t{lba} + count)) continue;
    const Sense fault = sense::WithInformation(sense::kUnrecoveredReadError, static_cast<uint32_t>(from));
    if (f->remaining > 0 && --f->remaining == 0) faults.erase(f);
    return fault;
  }
  return sense::kNone;
}

// A write the buffer cannot take now: "long write in progress", nothing taken.
Reply BufferFull() {
  Reply r = Reply::Check(sense::kLongWriteInProgress);
  r.taken = 0;
  return r;
}

// The blocks go into the buffer; a write larger than the whole buffer keeps
// the host waiting while the excess drains.
void TakeIntoBuffer(CommandContext& ctx, uint32_t count) {
  ctx.wait_ms = std::max(ctx.wait_ms, BufferTake(ctx.state, uint64_t{count} * kBlockBytes, ctx.now_us));
}

bool BufferRefuses(const CommandContext& ctx, uint32_t count) {
  return !BufferFits(ctx.state, uint64_t{count} * kBlockBytes, ctx.now_us);
}

// In test-write mode a write is checked where the simulated recording has got
// to, and nothing reaches the disc.
Reply SimulatedTestWrite(CommandContext& ctx, uint32_t lba, uint32_t count) {
  Disc& disc = ctx.state.disc;
  if (lba < disc.test_offset) return Reply::Check(sense::kInvalidAddressForWrite);
  const Sense refusal = CheckWrite(disc, lba - disc.test_offset, disc.test_offset + count);
  if (!refusal.Good()) return Reply::Check(refusal);
  if (BufferRefuses(ctx, count)) return BufferFull();
  TakeIntoBuffer(ctx, count);
  disc.test_offset += count;
  return Reply::Good();
}

// Session at once: the blocks of the cue sheet in one run from its first
// address (negative LBAs are the pre-gap, which reaches no sector of the
// file); the last one closes the session.
Reply SessionAtOnceWrite(CommandContext& ctx, const Command& cmd, uint32_t lba, uint32_t count) {
  DriveState& s = ctx.state;
  CueSheet& cue = s.disc.cue;
  const auto first = static_cast<int32_t>(lba);
  if (first != cue.next) return Reply::Check(sense::kInvalidAddressForWrite);
  if (int64_t{first} + count > cue.lead_out) return Reply::Check(sense::LbaOutOfRange(lba));
  if (BufferRefuses(ctx, count)) return BufferFull();
  if (Sense fault = InjectedWriteError(s, lba, count); !fault.Good()) return Reply::Check(fault);
  const bool test = TestWriting(s);
  const uint32_t skip = first < 0 ? std::min<uint32_t>(count, static_cast<uint32_t>(-first)) : 0;
  if (!test && count > skip &&
      !ctx.sectors.Write(static_cast<uint32_t>(first + static_cast<int32_t>(skip)), count - skip,
                         cmd.data_out.data() + size_t{skip} * kBlockBytes))
    return Reply::Check(sense::WithInformation(sense::kWriteError, lba));
  TakeIntoBuffer(ctx, count);
  cue.next += static_cast<int32_t>(count);
  if (cue.next == cue.lead_out) {
    if (test)
      cue = CueSheet{};  // a simulation fixes nothing
    else
      FinishSessionAtOnce(s.disc, DecodeWriteParameters(s.page05).multisession, s.border_gap);
  }
  return Reply::Good();
}

// Closing takes the drive's close time when it changed the disc, after the
// buffer is written out: at once with Immed (the drive goes on in the
// background), else before the answer.
void TakeCloseTime(CommandContext& ctx, bool immediate, bool changed) {
  if (!changed) return;
  const int64_t ms = BufferDrainMs(ctx.state, ctx.now_us) + ctx.state.durations.close_ms;
  TakeTime(ctx, OperationKind::kClose, ms, immediate);
}

bool AllDigits(std::span<const uint8_t> text) {
  return std::all_of(text.begin(), text.end(), [](uint8_t c) { return std::isdigit(c) != 0; });
}

}  // namespace

Reply Read10(CommandContext& ctx, const Command& cmd) {
  const uint32_t lba = GetBe32(&cmd.cdb[2]);
  const uint32_t count = GetBe16(&cmd.cdb[7]);
  if (count == 0) return Reply::Good();
  const uint32_t stop = FirstUnreadable(ctx.state.disc, lba, count);
  if (stop != lba + count) return Reply::Check(sense::LbaOutOfRange(stop));
  if (Sense fault = InjectedReadError(ctx.state, lba, count); !fault.Good()) return Reply::Check(fault);
  if (cmd.data_in_room < static_cast<uint64_t>(count) * kBlockBytes) return TransferError();
  std::vector<uint8_t> data(static_cast<size_t>(count) * kBlockBytes);
  if (!ctx.sectors.Read(lba, count, data.data()))
    return Reply::Check(sense::WithInformation(sense::kUnrecoveredReadError, lba));
  return Reply::Good(std::move(data));
}

Reply Write10(CommandContext& ctx, const Command& cmd) {
  DriveState& s = ctx.state;
  const uint32_t lba = GetBe32(&cmd.cdb[2]);
  const uint32_t count = GetBe16(&cmd.cdb[7]);
  if (count == 0) return Reply::Good();
  if (cmd.data_out.size() < static_cast<uint64_t>(count) * kBlockBytes) return TransferError();
  if (s.disc.cue.Active() && IsCd(s.disc.kind) && DecodeWriteParameters(s.page05).write_type == 2)
    return SessionAtOnceWrite(ctx, cmd, lba, count);
  // A session at once under way (page 05 changed after its first block):
  // its blocks are the only ones the disc takes until it is written.
  if (s.disc.cue.Active()) return Reply::Check(sense::kCommandSequenceError);
  if (Sense refusal = CdWriteModeRefusal(s); !refusal.Good()) return Reply::Check(refusal);
  if (TestWriting(s)) return SimulatedTestWrite(ctx, lba, count);
  if (Sense refusal = CheckWrite(s.disc, lba, count); !refusal.Good()) return Reply::Check(refusal);
  if (BufferRefuses(ctx, count)) return BufferFull();
  if (Sense fault = InjectedWriteError(s, lba, count); !fault.Good()) return Reply::Check(fault);
  if (!ctx.sectors.Write(lba, count, cmd.data_out.data()))
    return Reply::Check(sense::WithInformation(sense::kWriteError, lba));
  TakeIntoBuffer(ctx, count);
  RecordWrite(s.disc, lba, count, DecodeWriteParameters(s.page05).track_mode);
  return Reply::Good();
}

Reply SynchronizeCache(CommandContext& ctx, const Command& cmd) {
  DriveState& s = ctx.state;
  // A session at once ends with its last block, not before: nothing is fixed.
  if (s.disc.cue.Active()) return Reply::Check(sense::kCommandSequenceError);
  if (TestWriting(s))
    s.disc.test_offset = 0;
  else
    FlushCache(s.disc);
  const int64_t drain_ms = BufferDrainMs(s, ctx.now_us);
  // With Immed the drive answers at once and finishes writing meanwhile;
  // without, the answer comes once the buffer is empty.
  if (cmd.cdb[1] & 0x02)
    StartOperation(s, OperationKind::kFlush, drain_ms + s.durations.close_ms, ctx.now_ms);
  else
    TakeTime(ctx, OperationKind::kFlush, drain_ms, false);
  return Reply::Good();
}

Reply CloseTrackSessionCommand(CommandContext& ctx, const Command& cmd) {
  DriveState& s = ctx.state;
  const bool immediate = cmd.cdb[1] & 0x01;
  const uint8_t function = cmd.cdb[2] & 0x07;
  const uint32_t track = GetBe16(&cmd.cdb[4]);
  if (s.disc.cue.Active()) return Reply::Check(sense::kCommandSequenceError);
  Disc closed = s.disc;
  const uint8_t multisession = DecodeWriteParameters(s.page05).multisession;
  const Sense refusal = CloseTrackSession(closed, function, track, multisession, s.border_gap);
  if (!refusal.Good()) return Reply::Check(refusal);
  if (TestWriting(s)) {
    s.disc.test_offset = 0;
    return Reply::Good();
  }
  const bool changed = !(closed == s.disc);
  s.disc = std::move(closed);
  TakeCloseTime(ctx, immediate, changed);
  return Reply::Good();
}

Reply ReserveTrackCommand(CommandContext& ctx, const Command& cmd) {
  if (cmd.cdb[1] & 0x01) return Reply::Check(sense::InvalidFieldInCdb(1, 0));  // reservation by LBA
  if (ctx.state.disc.cue.Active()) return Reply::Check(sense::kCommandSequenceError);
  Disc reserved = ctx.state.disc;
  const Sense refusal = ReserveTrack(reserved, GetBe32(&cmd.cdb[5]));
  if (!refusal.Good()) return Reply::Check(refusal);
  if (!TestWriting(ctx.state)) ctx.state.disc = std::move(reserved);
  return Reply::Good();
}

// OPC takes the drive its time (the command waits; others see 02/04/07).
Reply SendOpcInformation(CommandContext& ctx, const Command& cmd) {
  if (cmd.data_out.size() < GetBe16(&cmd.cdb[7])) return TransferError();
  if (cmd.cdb[1] & 0x01) TakeTime(ctx, OperationKind::kOpc, ctx.state.durations.opc_ms, false);
  return Reply::Good();
}

Reply SendCueSheet(CommandContext& ctx, const Command& cmd) {
  DriveState& s = ctx.state;
  Disc& disc = s.disc;
  const uint32_t size = GetBe24(&cmd.cdb[6]);
  if (cmd.data_out.size() < size) return TransferError();
  if (!IsCd(disc.kind) || DecodeWriteParameters(s.page05).write_type != 2)
    return Reply::Check(sense::kCommandSequenceError);
  if (disc.complete) return Reply::Check(sense::kCannotWriteMedium);
  // Nothing of an earlier cue written yet: the new sheet replaces it.
  if (disc.cue.Active() && disc.cue.next != disc.cue.tracks.front().first)
    return Reply::Check(sense::kCommandSequenceError);
  // A track being written at once or a reserved track not yet full (the
  // session could not be closed after it), or a disc that holds sessions
  // (real drives differ; allowed by fornax_sim_allow_sao_on_appendable).
  const bool track_open = std::any_of(disc.tracks.begin(), disc.tracks.end(), [](const Track& t) { return !t.closed; });
  if (disc.open_recorded > 0 || track_open || (HasAnyData(disc) && !s.sao_on_appendable))
    return Reply::Check(sense::kCommandSequenceError);
  CueSheet cue;
  if (Sense refusal = ParseCueSheet(disc, cmd.data_out.first(size), &cue); !refusal.Good())
    return Reply::Check(refusal);
  cue.disc_type = s.page05[8];
  disc.cue = std::move(cue);
  return Reply::Good();
}

Reply SetStreaming(CommandContext& ctx, const Command& cmd) {
  if (cmd.cdb[8] != 0) return Reply::Check(sense::InvalidFieldInCdb(8));  // only performance
  const uint16_t length = GetBe16(&cmd.cdb[9]);
  if (length < kPerformanceDescriptorBytes) return Reply::Check(sense::kParameterListLength);
  if (cmd.data_out.size() < length) return TransferError();
  const uint8_t* d = cmd.data_out.data();
  const uint32_t write_kb = GetBe32(d + 20);
  const uint32_t write_ms = GetBe32(d + 24);
  // Addresses beyond the disc are clamped, not refused; the speed asked for
  // becomes the nearest the drive has.
  if (write_kb > 0 && write_ms > 0) {
    const uint64_t kbps = static_cast<uint64_t>(write_kb) * 1000 / write_ms;
    ctx.state.write_speed_request = static_cast<uint16_t>(std::min<uint64_t>(kbps, 0xFFFF));
  }
  return Reply::Good();
}

Reply SendDvdStructure(CommandContext& ctx, const Command& cmd) {
  const MediumKind kind = ctx.state.disc.kind;
  const bool dvd_minus = kind == MediumKind::kDvdR || kind == MediumKind::kDvdRw;
  if (cmd.cdb[7] != kTimeStampFormat || !dvd_minus) return Reply::Check(sense::InvalidFieldInCdb(7));
  const uint16_t length = GetBe16(&cmd.cdb[8]);
  if (cmd.data_out.size() < length) return TransferError();
  if (length < kTimeStampBytes) return Reply::Check(sense::kParameterListLength);
  const auto list = cmd.data_out.first(length);
  if (GetBe16(list.data()) != kTimeStampBytes - 2 || !AllDigits(list.subspan(8, 14)))
    return Reply::Check(sense::kInvalidFieldInParameters);
  return Reply::Good();
}

}  // namespace fornax::sim
