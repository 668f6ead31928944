#pragma once
// Everything the drive remembers between commands: the disc in it, the tray,
// the write parameters page, the speeds, the injected faults and a long
// operation that is running. This is what the metadata file holds; it is a
// plain value so that answers are computed from it by pure functions.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "simdrive/media.h"

namespace fornax::sim {

// A track of a sequential disc other than the invisible one: closed, or
// reserved and still being filled.
struct Track {
  uint32_t start = 0;
  uint32_t size = 0;      // blocks it occupies: the reservation, or the final length
  uint32_t recorded = 0;  // blocks written from its start
  uint16_t session = 1;
  bool reserved = false;  // made by RESERVE TRACK
  bool closed = false;
  uint8_t cd_mode = 4;  // CD track mode of page 05 when written: 4 uninterrupted, 5 incremental
                        // (session at once: the cue's CTL)

  bool operator==(const Track&) const = default;
};

enum class BackgroundFormat : uint8_t { kNone, kSuspended, kRunning, kDone };

// One track a cue sheet announced for a session-at-once write (SEND CUE
// SHEET): its first block (INDEX 0, the pre-gap, or INDEX 1), its start
// (INDEX 1) and where the next entry begins.
struct CueTrack {
  uint8_t number = 1;
  uint8_t control = 4;  // CTL of the cue entry: 4 data, 6 data with copy permitted
  int32_t first = 0;
  int32_t start = 0;
  int32_t end = 0;
  bool operator==(const CueTrack&) const = default;
};

// A session-at-once write in progress: the host writes every block from the
// cue's first address to its lead-out in one run; the drive closes the
// session by itself when the last one is in.
struct CueSheet {
  std::vector<CueTrack> tracks;  // empty: no cue sheet sent
  int32_t next = 0;              // the block the next WRITE must start at
  int32_t lead_out = 0;
  uint8_t disc_type = 0;  // page 05 session format: 00h, 10h CD-I, 20h XA
  bool Active() const { return !tracks.empty(); }
  bool operator==(const CueSheet&) const = default;
};

struct Disc {
  MediumKind kind = MediumKind::kNone;
  bool restricted_overwrite = false;  // DVD-RW mode

  // Sequential recording. The highest track of a disc that is not complete
  // is the invisible (or incomplete) track; it is not in `tracks`.
  std::vector<Track> tracks;
  uint32_t open_start = 0;
  uint32_t open_recorded = 0;
  uint8_t open_cd_mode = 4;
  uint16_t closed_sessions = 0;
  bool complete = false;

  // Overwritable recording (DVD+RW, DVD-RAM, DVD-RW restricted overwrite).
  bool formatted = false;
  uint32_t formatted_blocks = 0;
  bool intermediate = false;  // DVD-RW after a quick or grow format, until CLOSE SESSION
  uint32_t grow_nwa = 0;      // where an intermediate DVD-RW grows
  BackgroundFormat background = BackgroundFormat::kNone;
  int64_t background_end_ms = 0;
  bool minimally_blanked = false;  // DVD-RW: incremental writing is no longer offered

  uint32_t written_end = 0;  // one past the highest block that holds data
  uint32_t test_offset = 0;  // blocks simulated past the NWA in test-write mode
  uint8_t disc_type = 0;     // CD: session format of the sessions written at once (full TOC A0)

  CueSheet cue;

  bool operator==(const Disc&) const = default;
};

struct Identity {
  std::string vendor = "FORNAX";
  std::string product = "VIRTUAL RECORDER";
  std::string revision = "SIM1";
  bool operator==(const Identity&) const = default;
};

struct WriteFault {
  uint32_t lba = 0;
  uint8_t key = 0, asc = 0, ascq = 0;
  int remaining = 0;  // writes it still fails; 0: every one
  bool operator==(const WriteFault&) const = default;
};

// READ (10) covering any of `count` blocks from `lba` fails with 03/11/00.
struct ReadFault {
  uint32_t lba = 0;
  uint32_t count = 1;
  int remaining = 0;  // reads it still fails; 0: every one
  bool operator==(const ReadFault&) const = default;
};

struct Faults {
  int busy_commands = 0;
  bool busy_as_status = true;  // BUSY status, else CHECK CONDITION 02/04/08
  std::vector<WriteFault> write_errors;
  std::vector<ReadFault> read_errors;
  int64_t not_ready_until_ms = 0;
  int write_speed_kbps = 0;  // the speed the buffer drains at; 0: as fast as possible
  // The process that sends the n-th command of this opcode gets the signal
  // before the drive runs it (SIGINT: it still runs; SIGKILL: never).
  uint8_t signal_opcode = 0;
  int signal_countdown = 0;
  int signal_number = 0;
  bool operator==(const Faults&) const = default;
};

struct Durations {
  int blank_ms = 100;
  int format_ms = 100;
  int close_ms = 50;
  int opc_ms = 50;  // SEND OPC INFORMATION with DoOPC
  bool operator==(const Durations&) const = default;
};

enum class OperationKind : uint8_t { kNone, kBlank, kFormat, kClose, kFlush, kOpc };

struct Operation {
  OperationKind kind = OperationKind::kNone;
  int64_t start_ms = 0;
  int64_t duration_ms = 0;
  bool operator==(const Operation&) const = default;
};

inline constexpr int kPage05Bytes = 52;  // page code, length 32h and 50 bytes of parameters

// The drive's write buffer: what it holds at a moment; it drains at the
// write speed (faults.write_speed_kbps) from then on.
struct WriteBuffer {
  uint64_t fill_bytes = 0;
  int64_t at_us = 0;
  bool operator==(const WriteBuffer&) const = default;
};

// GET EVENT STATUS NOTIFICATION media events, reported once each.
enum class MediaEvent : uint8_t { kNone = 0, kEjectRequest = 1, kNewMedia = 2, kMediaRemoval = 3 };

struct DriveState {
  Identity identity;
  bool tray_open = false;
  bool prevent_removal = false;
  bool unit_attention = false;
  std::array<uint8_t, kPage05Bytes> page05{};
  uint16_t read_speed_request = 0xFFFF;
  uint16_t write_speed_request = 0xFFFF;
  Faults faults;
  Durations durations;
  uint32_t border_gap = geometry::kDefaultBorderGap;
  Operation operation;
  WriteBuffer buffer;
  MediaEvent media_event = MediaEvent::kNone;
  bool sao_on_appendable = false;  // SEND CUE SHEET also on a disc that holds sessions
  // The sector file still holds an earlier disc's sectors: it is emptied
  // right after this state is stored, and by whoever finds the flag set.
  bool wipe_pending = false;
  // The sentence saying why the state this drive found stored was refused
  // (set aside, the drive started afresh); shown until the drive is reset.
  std::string refused_state;
  Disc disc;

  bool HasMedium() const { return disc.kind != MediumKind::kNone; }
  bool MediumReachable() const { return HasMedium() && !tray_open; }
  bool operator==(const DriveState&) const = default;
};

// A fresh drive: default identity, no faults, a blank DVD+R in a closed tray.
DriveState FreshDriveState();
// The write parameters page as the drive starts: TAO, data mode 1 blocks,
// buffer-underrun protection on, no multi-session.
std::array<uint8_t, kPage05Bytes> DefaultPage05();
// A new medium of a kind, as bought (a restricted-overwrite DVD-RW fully formatted).
Disc BlankDisc(MediumKind kind, bool restricted_overwrite);

}  // namespace fornax::sim
