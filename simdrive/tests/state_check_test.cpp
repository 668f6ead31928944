// The states the drive takes back from its metadata file: every state its
// own commands make, and none that breaks one of their rules; and answers
// that stay bounded for a state that would.

#include "simdrive/state_check.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>

#include "command_generator.h"
#include "simdrive/answers_toc.h"
#include "simdrive/bytes.h"
#include "simdrive/disc_model.h"
#include "simdrive/dispatch.h"
#include "simdrive/state_codec.h"

namespace fornax::sim::test {
namespace {

constexpr int64_t kStartMs = 1700000000000;

// A drive in memory: the pure dispatcher on a state, with a clock of its own.
struct MemoryDrive {
  DriveState state = FreshDriveState();
  NullSectors sectors;
  Sense pending;
  int64_t now_ms = kStartMs;

  Reply Run(const GeneratedStep& step) {
    now_ms += step.advance_ms;
    CommandContext ctx{state, sectors, now_ms, pending};
    ctx.now_us = now_ms * 1000;
    ctx.signals_allowed = false;
    const Reply reply = Dispatch(ctx, Command{step.cdb, step.data_out, step.data_in_room});
    pending = reply.status == Completion::kCheckCondition ? reply.sense : sense::kNone;
    return reply;
  }
};

std::string Recent(const std::vector<std::string>& history) {
  std::string text;
  for (size_t i = history.size() > 12 ? history.size() - 12 : 0; i < history.size(); ++i) text += "\n  " + history[i];
  return text;
}

// What a sequence should get to at least once, so that the property is
// proved on states deep in the model and not only on blank discs.
std::set<std::string> Reached(const DriveState& s, int64_t now_ms) {
  const Disc& d = s.disc;
  std::set<std::string> reached;
  if (d.closed_sessions >= 2) reached.insert("two sessions");
  if (d.complete) reached.insert("a complete disc");
  if (d.cue.Active()) reached.insert("a session at once under way");
  if (d.disc_type != 0) reached.insert("a session written at once");
  for (const Track& t : d.tracks)
    if (t.reserved && !t.closed) reached.insert("a reserved track being filled");
  if (d.test_offset > 0) reached.insert("a test write");
  if (d.intermediate) reached.insert("an intermediate DVD-RW");
  if (d.background == BackgroundFormat::kRunning) reached.insert("a background format");
  if (d.minimally_blanked) reached.insert("a minimally blanked DVD-RW");
  if (s.operation.kind != OperationKind::kNone && now_ms < s.operation.start_ms + s.operation.duration_ms)
    reached.insert("an operation in progress");
  return reached;
}

TEST(ReachableStates, EveryStateTheCommandsMakeIsTakenBackAsItIs) {
  std::set<std::string> reached;
  for (size_t medium = 0; medium < kEveryMedium.size(); ++medium) {
    const MediumChoice& m = kEveryMedium[medium];
    for (uint32_t seed = 1; seed <= 24; ++seed) {
      CommandGenerator generator(seed * 1000 + static_cast<uint32_t>(medium));
      MemoryDrive drive;
      drive.state.disc = BlankDisc(m.kind, m.restricted_overwrite);
      std::vector<std::string> history;
      for (int step = 0; step < 400; ++step) {
        if (step % 100 == 0) generator.ChangeSettings(drive.state);
        const GeneratedStep next = generator.Next(drive.state);
        drive.Run(next);
        history.push_back(next.what);
        ASSERT_EQ(StateFault(drive.state), "") << m.name << ", seed " << seed << ", after" << Recent(history);
        DriveState back;
        std::string error;
        ASSERT_TRUE(DecodeState(EncodeState(drive.state), &back, &error)) << error;
        ASSERT_TRUE(back == drive.state) << m.name << ", seed " << seed << ": the codec changed\n"
                                         << EncodeState(drive.state) << "into\n"
                                         << EncodeState(back);
        reached.merge(Reached(drive.state, drive.now_ms));
      }
    }
  }
  for (const char* deep :
       {"two sessions", "a complete disc", "a session at once under way", "a session written at once",
        "a reserved track being filled", "a test write", "an intermediate DVD-RW", "a background format",
        "a minimally blanked DVD-RW", "an operation in progress"})
    EXPECT_TRUE(reached.count(deep)) << "the generator never got to " << deep;
}

// One rule broken in a state the commands made, and the key of the line at fault.
struct Breakage {
  const char* key;
  std::function<bool(DriveState&)> apply;  // false: the state has nothing to break this way
};

bool Sequential(const DriveState& s) { return IsSequential(s.disc); }

// A one-track session at once from the invisible track, numbered `number`
// after the disc's last track and with its lead-out `late` blocks after the
// track's end; false where the disc does not take one.
bool AddCue(DriveState& s, uint8_t number, int32_t late) {
  Disc& d = s.disc;
  const bool busy = d.complete || d.open_recorded > 0 || d.tracks.size() > 90 ||
                    std::any_of(d.tracks.begin(), d.tracks.end(), [](const Track& t) { return !t.closed; });
  if (busy || d.cue.Active()) return false;
  const auto start = static_cast<int32_t>(d.open_start);
  d.cue.tracks = {CueTrack{static_cast<uint8_t>(d.tracks.size() + number), 4, start, start, start + 300}};
  d.cue.lead_out = start + 300 + late;
  d.cue.next = start;
  return true;
}

const std::vector<Breakage>& Breakages() {
  static const std::vector<Breakage> all{
      {"identity.vendor", [](DriveState& s) { return s.identity.vendor += '\x7F', true; }},
      {"identity.product", [](DriveState& s) { return s.identity.product.assign(kMaxIdentityBytes + 1, 'P'), true; }},
      {"page05", [](DriveState& s) { return s.page05[6] = 1, true; }},
      {"page05", [](DriveState& s) { return s.page05[0] = 0x45, true; }},
      {"fault.busy", [](DriveState& s) { return s.faults.busy_commands = -1, true; }},
      {"fault.write-error",
       [](DriveState& s) {
         return s.faults.write_errors.push_back({7, 0, 0, 0, 0}), true;
       }},
      {"fault.write-error",
       [](DriveState& s) {
         return s.faults.write_errors.assign(kMaxFaultEntries + 1, {7, 3, 0x0C, 0, 0}), true;
       }},
      {"fault.read-error",
       [](DriveState& s) {
         return s.faults.read_errors.push_back({7, 0, 0}), true;
       }},
      {"fault.signal", [](DriveState& s) { return s.faults.signal_countdown = 2, true; }},
      {"fault.not-ready-until", [](DriveState& s) { return s.faults.not_ready_until_ms = -5, true; }},
      {"fault.write-speed", [](DriveState& s) { return s.faults.write_speed_kbps = -1, true; }},
      {"durations", [](DriveState& s) { return s.durations.close_ms = -1, true; }},
      {"duration.opc", [](DriveState& s) { return s.durations.opc_ms = -1, true; }},
      {"operation",
       [](DriveState& s) {
         return s.operation = {OperationKind::kNone, 0, 7}, true;
       }},
      {"operation",
       [](DriveState& s) {
         return s.operation = {OperationKind::kBlank, kStartMs, int64_t{1} << 40}, true;
       }},
      {"buffer",
       [](DriveState& s) {
         return s.buffer = {5, 0}, s.faults.write_speed_kbps == 0;
       }},
      {"buffer",
       [](DriveState& s) {
         return s.faults.write_speed_kbps = 100, s.buffer = {uint64_t{1} << 40, 0}, true;
       }},
      {"border-gap", [](DriveState& s) { return s.border_gap = kMaxBorderGap + 1, true; }},
      {"unit-attention", [](DriveState& s) { return s.tray_open = s.unit_attention = true; }},
      {"refused-state", [](DriveState& s) { return s.refused_state = "why\x01", true; }},
      {"medium", [](DriveState& s) { return s.disc.kind = MediumKind::kNone, !(s.disc == Disc{}); }},
      {"disc.restricted-overwrite",
       [](DriveState& s) { return s.disc.restricted_overwrite = true, s.disc.kind != MediumKind::kDvdRw; }},
      {"disc.minimally-blanked", [](DriveState& s) { return s.disc.minimally_blanked = true, !Sequential(s); }},
      {"disc.formatted", [](DriveState& s) { return s.disc.formatted = true, Sequential(s); }},
      {"disc.formatted", [](DriveState& s) { return s.disc.formatted_blocks = geometry::kDvdRw + 16, !Sequential(s); }},
      {"disc.intermediate", [](DriveState& s) { return s.disc.grow_nwa = 16, s.disc.kind != MediumKind::kDvdRw; }},
      {"disc.background",
       [](DriveState& s) {
         return s.disc.background = BackgroundFormat::kRunning, s.disc.kind != MediumKind::kDvdPlusRw;
       }},
      {"disc.closed-sessions",
       [](DriveState& s) {
         return s.disc.closed_sessions = static_cast<uint16_t>(s.disc.tracks.size() + 1), Sequential(s);
       }},
      {"disc.closed-sessions", [](DriveState& s) { return s.disc.closed_sessions = 1, !Sequential(s); }},
      {"disc.complete", [](DriveState& s) { return s.disc.complete = true, Sequential(s) && s.disc.tracks.empty(); }},
      {"track 1",
       [](DriveState& s) { return !s.disc.tracks.empty() && (s.disc.tracks[0].recorded = s.disc.tracks[0].size + 1); }},
      {"track 1", [](DriveState& s) { return !s.disc.tracks.empty() && (s.disc.tracks[0].cd_mode = 16); }},
      {"track 2",
       [](DriveState& s) {
         return s.disc.tracks.size() > 1 && (s.disc.tracks[1].start = s.disc.tracks[0].start, true);
       }},
      {"track",
       [](DriveState& s) {
         return s.disc.tracks.push_back(Track{0, 16, 16, 1, false, true, 4}), !Sequential(s);
       }},
      {"disc.open",
       [](DriveState& s) {
         const Disc& d = s.disc;
         if (!Sequential(s) || d.complete || d.open_start >= UsableEnd(d)) return false;
         return s.disc.open_recorded = UsableEnd(d) - d.open_start + 1, true;
       }},
      {"disc.open",
       [](DriveState& s) {
         const Disc& d = s.disc;
         return !d.tracks.empty() && !d.complete &&
                (s.disc.open_start = d.tracks.back().start + d.tracks.back().size - 1);
       }},
      {"cue", [](DriveState& s) { return !IsCd(s.disc.kind) && AddCue(s, 1, 0); }},
      {"cue.track 1", [](DriveState& s) { return IsCd(s.disc.kind) && AddCue(s, 2, 0); }},
      {"cue", [](DriveState& s) { return IsCd(s.disc.kind) && AddCue(s, 1, 16); }},
      {"disc.written-end",
       [](DriveState& s) { return s.disc.written_end = static_cast<uint32_t>(AddressLimit(s.disc)) + 1, true; }},
      {"disc.test-offset",
       [](DriveState& s) {
         return s.disc.test_offset = static_cast<uint32_t>(AddressLimit(s.disc)) + 1, !s.disc.complete;
       }},
      {"disc.type", [](DriveState& s) { return s.disc.disc_type = 0x20, !IsCd(s.disc.kind); }},
  };
  return all;
}

// States the generator's sequences go through, on every medium.
std::vector<DriveState> SampleStates() {
  std::vector<DriveState> states;
  for (size_t medium = 0; medium < kEveryMedium.size(); ++medium) {
    for (uint32_t seed = 1; seed <= 3; ++seed) {
      CommandGenerator generator(seed * 7919 + static_cast<uint32_t>(medium));
      MemoryDrive drive;
      drive.state.disc = BlankDisc(kEveryMedium[medium].kind, kEveryMedium[medium].restricted_overwrite);
      for (int step = 1; step <= 300; ++step) {
        if (step % 100 == 1) generator.ChangeSettings(drive.state);
        drive.Run(generator.Next(drive.state));
        if (step % 25 == 0) states.push_back(drive.state);
      }
    }
  }
  return states;
}

TEST(ReachableStates, AStateBrokenInOneFieldIsRefusedWithThatFieldNamed) {
  const auto states = SampleStates();
  std::map<std::string, int> refused;
  for (const DriveState& state : states) {
    ASSERT_EQ(StateFault(state), "");
    for (const Breakage& b : Breakages()) {
      DriveState broken = state;
      if (!b.apply(broken)) continue;
      DriveState decoded;
      std::string error;
      EXPECT_FALSE(DecodeState(EncodeState(broken), &decoded, &error)) << b.key << " broken in\n" << EncodeState(state);
      EXPECT_EQ(error.rfind(std::string(b.key) + ":", 0), 0u) << "refused for another reason: " << error;
      ++refused[b.key];
    }
  }
  for (const Breakage& b : Breakages()) EXPECT_GT(refused[b.key], 0) << "no sampled state could be broken in " << b.key;
}

TEST(ReachableStates, StateTextLargerThanTheDriveStoresIsRefusedUnread) {
  DriveState back;
  std::string error;
  const std::string text = std::string(kStateMagic) + "\n" + std::string(kMaxStateBytes, '\n');
  EXPECT_FALSE(DecodeState(text, &back, &error));
  EXPECT_NE(error.find("larger"), std::string::npos) << error;
}

// Discs the check refuses, straight into the answers: they stay bounded and
// within their tables (the first two made the full TOC loop for ever and the
// session info read past the end of the TOC).
TEST(ReachableStates, TocAnswersOfDiscsNoCommandMakesStayBounded) {
  const auto cd_with = [](uint16_t closed_sessions, std::vector<Track> tracks) {
    Disc d = BlankDisc(MediumKind::kCdR, false);
    d.closed_sessions = closed_sessions;
    d.tracks = std::move(tracks);
    d.open_start = 20000;
    return d;
  };
  const Track one{0, 302, 300, 1, false, true, 4};
  const Disc discs[] = {cd_with(65535, {one}), cd_with(3, {one}),
                        cd_with(2, {one, {12000, 302, 300, 1, false, true, 4}}),
                        cd_with(65535, {one, {12000, 302, 300, 65535, false, true, 4}})};
  for (const Disc& disc : discs) {
    DriveState state = FreshDriveState();
    state.disc = disc;
    EXPECT_NE(StateFault(state), "");
    Sense refusal;
    const auto full = FullTocAnswer(disc, 0, &refusal);
    // At most A0, A1, A2, B0 and C0 for each session that holds a track, and the tracks.
    EXPECT_LE(full.size(), 4 + 11 * 6 * disc.tracks.size()) << "entries for sessions without tracks";
    const Toc toc = BuildToc(disc);
    const auto info = SessionInfoAnswer(toc, false, &refusal);
    ASSERT_EQ(info.size(), 12u);
    const bool names_a_track = std::any_of(toc.tracks.begin(), toc.tracks.end(), [&](const TocTrack& t) {
      return t.number == info[6] && t.start == GetBe32(&info[8]);
    });
    EXPECT_TRUE(names_a_track) << "session info names track " << int{info[6]};
  }
}

}  // namespace
}  // namespace fornax::sim::test
