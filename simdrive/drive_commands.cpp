// Commands about the drive itself: readiness, sense, identity, tray, mode
// pages, speeds and the buffer. Most of them work without a medium.

#include "simdrive/answers_info.h"
#include "simdrive/bytes.h"
#include "simdrive/features.h"
#include "simdrive/handlers.h"
#include "simdrive/mode_pages.h"
#include "simdrive/operations.h"

namespace fornax::sim {
namespace {

// What REQUEST SENSE reports when no command left sense behind: a condition
// that still holds.
Sense StandingCondition(const CommandContext& ctx) {
  const DriveState& s = ctx.state;
  if (s.tray_open) return sense::kNoMediumTrayOpen;
  if (!s.HasMedium()) return sense::kNoMedium;
  if (ctx.now_ms < s.faults.not_ready_until_ms) return sense::kBecomingReady;
  if (OperationRunning(s.operation, ctx.now_ms)) return OperationSense(s.operation, ctx.now_ms);
  return sense::kNone;
}

}  // namespace

Reply TestUnitReady(CommandContext&, const Command&) { return Reply::Good(); }

// Not an MMC command; old CD-ROM drives took it as REZERO UNIT, a seek to 0.
Reply RewindUnit(CommandContext&, const Command&) { return Reply::Good(); }

Reply RequestSense(CommandContext& ctx, const Command& cmd) {
  if (cmd.cdb[1] & 0x01) return Reply::Check(sense::InvalidFieldInCdb(1, 0));  // descriptor format
  Sense reported;
  if (ctx.state.unit_attention) {
    ctx.state.unit_attention = false;
    reported = sense::kMediumChanged;
  } else {
    reported = StandingCondition(ctx);
    if (reported.Good()) reported = ctx.pending_sense;
  }
  ctx.pending_sense = sense::kNone;
  const auto bytes = EncodeSense(reported);
  return Reply::Good(CutTo({bytes.begin(), bytes.end()}, cmd.cdb[4]));
}

Reply Inquiry(CommandContext& ctx, const Command& cmd) {
  if (cmd.cdb[1] & 0x01) return Reply::Check(sense::InvalidFieldInCdb(1, 0));  // no vital product data
  if (cmd.cdb[2] != 0) return Reply::Check(sense::InvalidFieldInCdb(2));
  return Reply::Good(CutTo(InquiryAnswer(ctx.state.identity), GetBe16(&cmd.cdb[3])));
}

Reply StartStopUnit(CommandContext& ctx, const Command& cmd) {
  DriveState& s = ctx.state;
  const uint8_t control = cmd.cdb[4];
  if (control & 0xF0) return Reply::Check(sense::InvalidFieldInCdb(4, 7));  // power conditions
  if (!(control & 0x02)) return Reply::Good();  // spindle start or stop
  if (OperationRunning(s.operation, ctx.now_ms)) return Reply::Check(OperationSense(s.operation, ctx.now_ms));
  if (!(control & 0x01)) {
    if (s.prevent_removal) return Reply::Check(sense::kRemovalPrevented);
    s.tray_open = true;
    s.unit_attention = false;
    return Reply::Good();
  }
  if (s.tray_open) {
    s.tray_open = false;
    s.unit_attention = s.HasMedium();
  }
  return Reply::Good();
}

Reply PreventAllowRemoval(CommandContext& ctx, const Command& cmd) {
  ctx.state.prevent_removal = (cmd.cdb[4] & 0x03) != 0;
  return Reply::Good();
}

Reply GetConfiguration(CommandContext& ctx, const Command& cmd) {
  Sense refusal;
  const Disc& disc = ctx.state.tray_open ? Disc{} : ctx.state.disc;
  auto answer = ConfigurationAnswer(disc, cmd.cdb[1] & 0x03, GetBe16(&cmd.cdb[2]), &refusal);
  if (!refusal.Good()) return Reply::Check(refusal);
  return Reply::Good(CutTo(std::move(answer), GetBe16(&cmd.cdb[7])));
}

Reply ModeSense(CommandContext& ctx, const Command& cmd) {
  const auto pc = static_cast<PageControl>(cmd.cdb[2] >> 6);
  if (pc == PageControl::kSaved) return Reply::Check(sense::kSavingNotSupported);
  if (cmd.cdb[3] != 0) return Reply::Check(sense::InvalidFieldInCdb(3));  // no subpages
  Sense refusal;
  auto answer = ModeSenseAnswer(ctx.state, cmd.cdb[2] & 0x3F, pc, &refusal);
  if (!refusal.Good()) return Reply::Check(refusal);
  return Reply::Good(CutTo(std::move(answer), GetBe16(&cmd.cdb[7])));
}

Reply ModeSelect(CommandContext& ctx, const Command& cmd) {
  if (!(cmd.cdb[1] & 0x10)) return Reply::Check(sense::InvalidFieldInCdb(1, 4));  // page format
  if (cmd.cdb[1] & 0x01) return Reply::Check(sense::InvalidFieldInCdb(1, 0));     // saving
  const uint16_t length = GetBe16(&cmd.cdb[7]);
  if (cmd.data_out.size() < length) return Reply{Completion::kTransferError, {}, {}};
  return Reply::Refused(ApplyModeSelect(ctx.state, cmd.data_out.first(length)));
}

// Never refused: the drive takes the nearest speed it has (page 2A shows it).
Reply SetCdSpeed(CommandContext& ctx, const Command& cmd) {
  ctx.state.read_speed_request = GetBe16(&cmd.cdb[2]);
  ctx.state.write_speed_request = GetBe16(&cmd.cdb[4]);
  return Reply::Good();
}

// Writes reach the disc as they arrive, so the buffer is always empty.
Reply ReadBufferCapacity(CommandContext&, const Command& cmd) {
  auto answer = BufferCapacityAnswer(cmd.cdb[1] & 0x01, kBufferBytes, kBufferBytes);
  return Reply::Good(CutTo(std::move(answer), GetBe16(&cmd.cdb[7])));
}

}  // namespace fornax::sim
