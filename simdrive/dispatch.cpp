#include "simdrive/dispatch.h"

#include <algorithm>
#include <csignal>
#include <array>
#include <optional>

#include "simdrive/handlers.h"
#include "simdrive/operations.h"

namespace fornax::sim {
namespace {

namespace op {
constexpr uint8_t kTestUnitReady = 0x00;
constexpr uint8_t kRequestSense = 0x03;
constexpr uint8_t kInquiry = 0x12;
constexpr uint8_t kGetConfiguration = 0x46;
constexpr uint8_t kGetEventStatus = 0x4A;
}  // namespace op

using D = DataDirection;
constexpr bool kAny = true;      // works without a medium
constexpr bool kMedium = false;  // needs a medium in a closed tray

constexpr std::array<CommandEntry, 33> kCommands{{
    {0x00, 6, D::kNone, kMedium, TestUnitReady},
    {0x01, 6, D::kNone, kMedium, RewindUnit},
    {0x03, 6, D::kIn, kAny, RequestSense},
    {0x04, 6, D::kOut, kMedium, FormatUnit},
    {0x12, 6, D::kIn, kAny, Inquiry},
    {0x15, 6, D::kOut, kAny, ModeSelect6},
    {0x1A, 6, D::kIn, kAny, ModeSense6},
    {0x1B, 6, D::kNone, kAny, StartStopUnit},
    {0x1E, 6, D::kNone, kAny, PreventAllowRemoval},
    {0x23, 10, D::kIn, kMedium, ReadFormatCapacities},
    {0x25, 10, D::kIn, kMedium, ReadCapacity},
    {0x28, 10, D::kIn, kMedium, Read10},
    {0x2A, 10, D::kOut, kMedium, Write10},
    {0x35, 10, D::kNone, kMedium, SynchronizeCache},
    {0x43, 10, D::kIn, kMedium, ReadToc},
    {0x46, 10, D::kIn, kAny, GetConfiguration},
    {0x4A, 10, D::kIn, kAny, GetEventStatusNotification},
    {0x51, 10, D::kIn, kMedium, ReadDiscInformation},
    {0x52, 10, D::kIn, kMedium, ReadTrackInformation},
    {0x53, 10, D::kNone, kMedium, ReserveTrackCommand},
    {0x54, 10, D::kOut, kMedium, SendOpcInformation},
    {0x55, 10, D::kOut, kAny, ModeSelect},
    {0x5A, 10, D::kIn, kAny, ModeSense},
    {0x5B, 10, D::kNone, kMedium, CloseTrackSessionCommand},
    {0x5C, 10, D::kIn, kAny, ReadBufferCapacity},
    {0x5D, 10, D::kOut, kMedium, SendCueSheet},
    {0xA1, 12, D::kNone, kMedium, Blank},
    {0xAC, 12, D::kIn, kAny, GetPerformance},
    {0xAD, 12, D::kIn, kAny, ReadDvdStructure},
    {0xB6, 12, D::kOut, kMedium, SetStreaming},
    {0xBB, 12, D::kNone, kAny, SetCdSpeed},
    {0xBD, 12, D::kIn, kAny, MechanismStatus},
    {0xBF, 12, D::kOut, kMedium, SendDvdStructure},
}};

std::optional<Reply> BusyGate(DriveState& state, const Command& cmd) {
  const uint8_t code = cmd.cdb[0];
  // INQUIRY never meets a busy drive: identification keeps working.
  if (state.faults.busy_commands <= 0 || code == op::kInquiry) return std::nullopt;
  --state.faults.busy_commands;
  if (state.faults.busy_as_status) return Reply{Completion::kBusy, {}, {}};
  if (code == op::kRequestSense) {
    const auto bytes = EncodeSense(sense::kLongWriteInProgress);
    return Reply::Good(CutTo({bytes.begin(), bytes.end()}, cmd.cdb[4]));
  }
  return Reply::Check(sense::kLongWriteInProgress);
}

// INQUIRY, REQUEST SENSE and, by MMC, GET CONFIGURATION and GET EVENT STATUS
// NOTIFICATION neither report nor clear a unit attention.
bool ReportsUnitAttention(uint8_t code) {
  return code != op::kInquiry && code != op::kGetConfiguration && code != op::kRequestSense &&
         code != op::kGetEventStatus;
}

}  // namespace

Sense MediumGate(const CommandContext& ctx, uint8_t code) {
  const DriveState& s = ctx.state;
  if (s.tray_open) return sense::kNoMediumTrayOpen;
  if (!s.HasMedium()) return sense::kNoMedium;
  if (ctx.now_ms < s.faults.not_ready_until_ms) return sense::kBecomingReady;
  return OperationGate(s.operation, ctx.now_ms, code == op::kTestUnitReady);
}

namespace {

// The signal fault fires once; a process killed by it never sees its command run.
bool SignalGate(CommandContext& ctx, uint8_t code) {
  Faults& f = ctx.state.faults;
  if (!ctx.signals_allowed) return false;
  if (f.signal_countdown <= 0 || code != f.signal_opcode || --f.signal_countdown > 0) return false;
  ctx.raise_signal = f.signal_number;
  f.signal_opcode = 0;
  f.signal_number = 0;
  return ctx.raise_signal == SIGKILL;
}

}  // namespace

const CommandEntry* FindCommand(uint8_t opcode) {
  auto it = std::find_if(kCommands.begin(), kCommands.end(),
                         [&](const CommandEntry& c) { return c.opcode == opcode; });
  return it == kCommands.end() ? nullptr : &*it;
}

Reply Dispatch(CommandContext& ctx, const Command& cmd) {
  const uint8_t code = cmd.cdb[0];
  const CommandEntry* entry = FindCommand(code);
  if (entry == nullptr) return Reply::Check(sense::kInvalidOpcode);
  if (SignalGate(ctx, code)) return Reply::Good();
  SettleOperations(ctx.state, ctx.now_ms);
  if (auto busy = BusyGate(ctx.state, cmd)) return *busy;
  if (ctx.state.unit_attention && ReportsUnitAttention(code)) {
    ctx.state.unit_attention = false;
    return Reply::Check(sense::kMediumChanged);
  }
  if (!entry->without_medium)
    if (Sense gate = MediumGate(ctx, code); !gate.Good()) return Reply::Check(gate);
  return entry->handler(ctx, cmd);
}

}  // namespace fornax::sim
