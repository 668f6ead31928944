// FORMAT UNIT and BLANK: they replace the disc at once and keep the drive
// busy for the configured time, in the background with the Immed bit (else
// the command waits that long, outside the lock).

#include "simdrive/format_unit.h"
#include "simdrive/handlers.h"
#include "simdrive/operations.h"

namespace fornax::sim {

Reply FormatUnit(CommandContext& ctx, const Command& cmd) {
  if (!(cmd.cdb[1] & 0x10)) return Reply::Check(sense::InvalidFieldInCdb(1, 4));  // a list is required
  if ((cmd.cdb[1] & 0x07) != 1) return Reply::Check(sense::InvalidFieldInCdb(1, 2));
  if (cmd.cdb[3] != 0 || cmd.cdb[4] != 0) return Reply::Check(sense::InvalidFieldInCdb(3));
  FormatRequest request;
  if (Sense s = ParseFormatList(cmd.data_out, &request); !s.Good()) return Reply::Check(s);
  const int ms = ctx.state.durations.format_ms;
  Disc formatted = ctx.state.disc;
  // A DVD+RW format goes on in the background for as long again.
  const FormatResult result = ApplyFormat(formatted, request, ctx.now_ms, 2 * int64_t{ms});
  if (!result.refusal.Good()) return Reply::Check(result.refusal);
  if (result.wipes_data && !ctx.sectors.Wipe()) return Reply::Check(sense::kInternalTargetFailure);
  ctx.state.disc = std::move(formatted);
  if (result.foreground) TakeTime(ctx, OperationKind::kFormat, ms, request.immediate);
  return Reply::Good();
}

Reply Blank(CommandContext& ctx, const Command& cmd) {
  Disc blanked = ctx.state.disc;
  if (Sense s = ApplyBlank(blanked, cmd.cdb[1] & 0x07); !s.Good()) return Reply::Check(s);
  if (!ctx.sectors.Wipe()) return Reply::Check(sense::kInternalTargetFailure);
  ctx.state.disc = std::move(blanked);
  TakeTime(ctx, OperationKind::kBlank, ctx.state.durations.blank_ms, cmd.cdb[1] & 0x10);
  return Reply::Good();
}

}  // namespace fornax::sim
