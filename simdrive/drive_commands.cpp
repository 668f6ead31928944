// Commands about the drive itself: readiness, sense, identity, tray, mode
// pages, speeds and the buffer. Most of them work without a medium.

#include <algorithm>

#include "simdrive/answers_events.h"
#include "simdrive/answers_info.h"
#include "simdrive/bytes.h"
#include "simdrive/dispatch.h"
#include "simdrive/features.h"
#include "simdrive/handlers.h"
#include "simdrive/mode_pages.h"
#include "simdrive/operations.h"
#include "simdrive/write_buffer.h"

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
    if (!s.tray_open && s.HasMedium()) s.media_event = MediaEvent::kMediaRemoval;
    s.tray_open = true;
    s.unit_attention = false;
    return Reply::Good();
  }
  if (s.tray_open) {
    s.tray_open = false;
    s.unit_attention = s.HasMedium();
    if (s.HasMedium()) s.media_event = MediaEvent::kNewMedia;
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

Reply ModeSense6(CommandContext& ctx, const Command& cmd) {
  const auto pc = static_cast<PageControl>(cmd.cdb[2] >> 6);
  if (pc == PageControl::kSaved) return Reply::Check(sense::kSavingNotSupported);
  if (cmd.cdb[3] != 0) return Reply::Check(sense::InvalidFieldInCdb(3));  // no subpages
  Sense refusal;
  auto answer = ModeSense6Answer(ctx.state, cmd.cdb[2] & 0x3F, pc, cmd.cdb[1] & 0x08, &refusal);
  if (!refusal.Good()) return Reply::Check(refusal);
  return Reply::Good(CutTo(std::move(answer), cmd.cdb[4]));
}

namespace {

// MODE SELECT (6) and (10) alike. A list of a header and a block descriptor
// alone (what Linux sends to set 2048-byte blocks) needs no PF bit.
Reply SelectModes(CommandContext& ctx, const Command& cmd, uint32_t length, size_t header_bytes) {
  if (cmd.cdb[1] & 0x01) return Reply::Check(sense::InvalidFieldInCdb(1, 0));  // saving
  if (cmd.data_out.size() < length) return Reply{Completion::kTransferError, {}, {}, -1};
  const auto list = cmd.data_out.first(length);
  size_t descriptors = 0;
  if (list.size() >= header_bytes) descriptors = header_bytes == 4 ? list[3] : GetBe16(&list[6]);
  const bool pages = list.size() > header_bytes + descriptors || list.size() < header_bytes;
  if (!(cmd.cdb[1] & 0x10) && (pages || list.empty())) return Reply::Check(sense::InvalidFieldInCdb(1, 4));
  return Reply::Refused(ApplyModeSelect(ctx.state, list, header_bytes));
}

}  // namespace

Reply ModeSelect(CommandContext& ctx, const Command& cmd) { return SelectModes(ctx, cmd, GetBe16(&cmd.cdb[7]), 8); }

Reply ModeSelect6(CommandContext& ctx, const Command& cmd) { return SelectModes(ctx, cmd, cmd.cdb[4], 4); }

// Never refused: the drive takes the nearest speed it has (page 2A shows it).
Reply SetCdSpeed(CommandContext& ctx, const Command& cmd) {
  ctx.state.read_speed_request = GetBe16(&cmd.cdb[2]);
  ctx.state.write_speed_request = GetBe16(&cmd.cdb[4]);
  return Reply::Good();
}

// Answered in every state, with the buffer as it is now.
Reply ReadBufferCapacity(CommandContext& ctx, const Command& cmd) {
  const auto fill = static_cast<uint32_t>(std::min<uint64_t>(BufferFill(ctx.state, ctx.now_us), kBufferBytes));
  auto answer = BufferCapacityAnswer(cmd.cdb[1] & 0x01, kBufferBytes, kBufferBytes - fill);
  return Reply::Good(CutTo(std::move(answer), GetBe16(&cmd.cdb[7])));
}

// Polled only. Neither reports nor clears a unit attention; a media event
// goes out once.
Reply GetEventStatusNotification(CommandContext& ctx, const Command& cmd) {
  if (!(cmd.cdb[1] & 0x01)) return Reply::Check(sense::InvalidFieldInCdb(1, 0));  // asynchronous
  DriveState& s = ctx.state;
  EventInputs in;
  in.requested = cmd.cdb[4];
  in.media_event = s.media_event;
  in.medium_present = s.HasMedium();
  in.tray_open = s.tray_open;
  in.busy = OperationRunning(s.operation, ctx.now_ms);
  if (in.busy) {
    const int64_t left = s.operation.start_ms + s.operation.duration_ms - ctx.now_ms;
    in.busy_tenths = static_cast<uint16_t>(std::min<int64_t>((left + 99) / 100, 0xFFFF));
  }
  bool media_reported = false;
  auto answer = EventStatusAnswer(in, &media_reported);
  if (media_reported) s.media_event = MediaEvent::kNone;
  return Reply::Good(CutTo(std::move(answer), GetBe16(&cmd.cdb[7])));
}

Reply GetPerformance(CommandContext& ctx, const Command& cmd) {
  const uint16_t max = GetBe16(&cmd.cdb[8]);
  Sense refusal;
  std::vector<uint8_t> answer;
  switch (cmd.cdb[10]) {
    case 0x00: answer = PerformanceAnswer(ctx.state, cmd.cdb[1] & 0x1F, max, &refusal); break;
    case 0x03: answer = WriteSpeedAnswer(ctx.state, max); break;
    default: refusal = sense::InvalidFieldInCdb(10);
  }
  if (!refusal.Good()) return Reply::Check(refusal);
  // The allocation follows from the descriptors asked for.
  return Reply::Good(std::move(answer));
}

// The structure list works with any medium or none; the rest needs a DVD.
Reply ReadDvdStructure(CommandContext& ctx, const Command& cmd) {
  const uint8_t format = cmd.cdb[7];
  if ((cmd.cdb[1] & 0x0F) != 0) return Reply::Check(sense::InvalidFieldInCdb(1, 3));  // BD
  if (format != 0xFF)
    if (Sense gate = MediumGate(ctx, cmd.cdb[0]); !gate.Good()) return Reply::Check(gate);
  const Disc& disc = ctx.state.MediumReachable() ? ctx.state.disc : Disc{};
  Sense refusal;
  auto answer = DvdStructureAnswer(disc, cmd.cdb[6], format, &refusal);
  if (!refusal.Good()) return Reply::Check(refusal);
  return Reply::Good(CutTo(std::move(answer), GetBe16(&cmd.cdb[8])));
}

Reply MechanismStatus(CommandContext& ctx, const Command& cmd) {
  auto answer = MechanismStatusAnswer(ctx.state.tray_open, OperationRunning(ctx.state.operation, ctx.now_ms));
  return Reply::Good(CutTo(std::move(answer), GetBe16(&cmd.cdb[8])));
}

}  // namespace fornax::sim
