// The control interface of simdrive.h: what a test or a user does to the
// drive from outside (media, tray, faults, timing, identity, export).

#include <cstring>
#include <string>
#include <vector>

#include "simdrive/describe.h"
#include "simdrive/disc_model.h"
#include "simdrive/drive.h"
#include "simdrive/operations.h"
#include "simdrive/simdrive.h"
#include "simdrive/state_check.h"
#include "simdrive/write_buffer.h"

#define FORNAX_SIM_API extern "C" __attribute__((visibility("default")))

namespace fornax::sim {
namespace {

thread_local std::string last_error;

int Result(bool ok, const std::string& error) {
  last_error = ok ? std::string() : error;
  return ok ? 0 : -1;
}

// Runs a change of the drive state under the lock.
int Change(const std::function<bool(DriveState&, SectorFile&, std::string*)>& change) {
  std::string error;
  const bool ok = Drive::Instance().Control(
      [&](DriveState& s, SectorFile& sectors, const std::string&, std::string* e) { return change(s, sectors, e); },
      &error);
  return Result(ok, error);
}

int Fail(const std::string& error) { return Result(false, error); }

// A state holds a bounded number of faults of each kind (state_check.h).
template <class T>
bool RoomForFault(const std::vector<T>& faults, std::string* error) {
  if (faults.size() < kMaxFaultEntries) return true;
  *error = "the drive already holds " + std::to_string(kMaxFaultEntries) + " faults of this kind";
  return false;
}

bool WipeSectors(SectorFile& sectors, std::string* error) {
  if (sectors.Wipe()) return true;
  *error = "cannot clear the disc's sectors";
  return false;
}

}  // namespace
}  // namespace fornax::sim

using namespace fornax::sim;

FORNAX_SIM_API const char* fornax_sim_last_error(void) { return last_error.c_str(); }

FORNAX_SIM_API int fornax_sim_set_state_dir(const char* dir) {
  std::string error;
  return Result(Drive::Instance().SetStateDirectory(dir != nullptr ? dir : "", &error), error);
}

FORNAX_SIM_API int fornax_sim_insert(const char* kind) {
  const auto choice = ParseMediumName(kind != nullptr ? kind : "");
  if (!choice) return Fail(std::string("unknown medium kind: ") + (kind != nullptr ? kind : "(null)"));
  return Change([&](DriveState& s, SectorFile& sectors, std::string* e) {
    if (!WipeSectors(sectors, e)) return false;
    s.disc = BlankDisc(choice->kind, choice->restricted_overwrite);
    s.tray_open = false;
    s.operation = Operation{};
    s.buffer = WriteBuffer{};
    s.unit_attention = true;
    s.media_event = MediaEvent::kNewMedia;
    return true;
  });
}

FORNAX_SIM_API int fornax_sim_remove(void) {
  return Change([](DriveState& s, SectorFile& sectors, std::string* e) {
    if (!WipeSectors(sectors, e)) return false;
    if (s.HasMedium() && !s.tray_open) s.media_event = MediaEvent::kMediaRemoval;
    s.disc = Disc{};
    s.tray_open = true;
    s.operation = Operation{};
    s.buffer = WriteBuffer{};
    s.unit_attention = false;
    return true;
  });
}

FORNAX_SIM_API int fornax_sim_open_tray(void) {
  return Change([](DriveState& s, SectorFile&, std::string*) {
    if (s.HasMedium() && !s.tray_open) s.media_event = MediaEvent::kMediaRemoval;
    s.tray_open = true;
    s.unit_attention = false;
    return true;
  });
}

FORNAX_SIM_API int fornax_sim_close_tray(void) {
  return Change([](DriveState& s, SectorFile&, std::string*) {
    if (s.tray_open) {
      s.unit_attention = s.HasMedium();
      if (s.HasMedium()) s.media_event = MediaEvent::kNewMedia;
    }
    s.tray_open = false;
    return true;
  });
}

FORNAX_SIM_API int fornax_sim_export(const char* path) {
  if (path == nullptr || *path == '\0') return Fail("no image path given");
  std::string error;
  const bool ok = Drive::Instance().Control(
      [&](DriveState& s, SectorFile&, const std::string& dir, std::string* e) {
        if (!s.HasMedium()) return *e = "no medium in the drive", false;
        return ExportImage(dir, RecordedEnd(s.disc), path, e);
      },
      &error);
  return Result(ok, error);
}

FORNAX_SIM_API int fornax_sim_describe(char* text, size_t size) {
  if (text == nullptr || size == 0) return Fail("no room for the description");
  std::string description;
  const int rc = Change([&](DriveState& s, SectorFile&, std::string*) {
    description = DescribeState(s, NowMs());
    return true;
  });
  if (rc != 0) return rc;
  const size_t n = std::min(description.size(), size - 1);
  std::memcpy(text, description.data(), n);
  text[n] = '\0';
  return n == description.size() ? 0 : Fail("the description was cut to the buffer");
}

FORNAX_SIM_API int fornax_sim_fault_busy(int commands, int target_status_busy) {
  if (commands < 0) return Fail("a negative number of commands");
  return Change([&](DriveState& s, SectorFile&, std::string*) {
    s.faults.busy_commands = commands;
    s.faults.busy_as_status = target_status_busy != 0;
    return true;
  });
}

FORNAX_SIM_API int fornax_sim_fault_write_error(uint32_t lba, uint8_t key, uint8_t asc, uint8_t ascq) {
  if (key == 0 || key > 0x0F) return Fail("a write error needs a sense key from 1 to Fh");
  return Change([&](DriveState& s, SectorFile&, std::string* e) {
    if (!RoomForFault(s.faults.write_errors, e)) return false;
    s.faults.write_errors.push_back(WriteFault{lba, key, asc, ascq});
    return true;
  });
}

FORNAX_SIM_API int fornax_sim_fault_write_error_count(uint32_t lba, uint8_t key, uint8_t asc, uint8_t ascq,
                                                      int count) {
  if (key == 0 || key > 0x0F) return Fail("a write error needs a sense key from 1 to Fh");
  if (count <= 0) return Fail("a write error for no write at all");
  return Change([&](DriveState& s, SectorFile&, std::string* e) {
    if (!RoomForFault(s.faults.write_errors, e)) return false;
    s.faults.write_errors.push_back(WriteFault{lba, key, asc, ascq, count});
    return true;
  });
}

FORNAX_SIM_API int fornax_sim_fault_read_error(uint32_t lba, uint32_t count, int times) {
  if (count == 0) return Fail("a read error for no block at all");
  if (times < 0) return Fail("a negative number of reads");
  return Change([&](DriveState& s, SectorFile&, std::string* e) {
    if (!RoomForFault(s.faults.read_errors, e)) return false;
    s.faults.read_errors.push_back(ReadFault{lba, count, times});
    return true;
  });
}

// Damage, not a fault that wears off: the stored bytes change, every read
// returns them without an error, and clearing the faults does not mend them.
FORNAX_SIM_API int fornax_sim_fault_corrupt(uint32_t lba, uint32_t count) {
  if (count == 0) return Fail("no sector to corrupt");
  return Change([&](DriveState& s, SectorFile& sectors, std::string* e) {
    if (!s.HasMedium()) return *e = "no medium in the drive", false;
    const uint32_t end = RecordedEnd(s.disc);
    if (uint64_t{lba} + count > end) {
      *e = "sectors " + std::to_string(lba) + " to " + std::to_string(uint64_t{lba} + count - 1) +
           " are not all recorded (the disc holds sectors up to " + std::to_string(end) + ")";
      return false;
    }
    std::vector<uint8_t> sector(2048);
    for (uint32_t i = 0; i < count; ++i) {
      if (!sectors.Read(lba + i, 1, sector.data())) return *e = "cannot read the stored sector", false;
      for (uint8_t& byte : sector) byte ^= 0xA5;  // every byte changes, zeros included
      if (!sectors.Write(lba + i, 1, sector.data())) return *e = "cannot store the corrupted sector", false;
    }
    return true;
  });
}

FORNAX_SIM_API int fornax_sim_fault_signal(uint8_t opcode, int nth, int signal_number) {
  if (nth <= 0 || signal_number <= 0 || signal_number >= 65) return Fail("a signal fault needs n > 0 and a signal");
  return Change([&](DriveState& s, SectorFile&, std::string*) {
    s.faults.signal_opcode = opcode;
    s.faults.signal_countdown = nth;
    s.faults.signal_number = signal_number;
    return true;
  });
}

FORNAX_SIM_API int fornax_sim_allow_signal_faults(int allow) {
  Drive::Instance().AllowSignalFaults(allow != 0);
  return Result(true, "");
}

FORNAX_SIM_API int fornax_sim_fault_not_ready(int milliseconds) {
  if (milliseconds < 0) return Fail("a negative time");
  return Change([&](DriveState& s, SectorFile&, std::string*) {
    s.faults.not_ready_until_ms = NowMs() + milliseconds;
    return true;
  });
}

FORNAX_SIM_API int fornax_sim_set_write_speed(int kilobytes_per_second) {
  if (kilobytes_per_second < 0) return Fail("a negative speed");
  return Change([&](DriveState& s, SectorFile&, std::string*) {
    // What the buffer holds now drains at the new speed from now on.
    const int64_t now = NowUs();
    s.buffer = WriteBuffer{BufferFill(s, now), now};
    s.faults.write_speed_kbps = kilobytes_per_second;
    if (kilobytes_per_second == 0) s.buffer = WriteBuffer{};
    return true;
  });
}

FORNAX_SIM_API int fornax_sim_set_durations(int blank_ms, int format_ms, int close_ms) {
  if (blank_ms < 0 || format_ms < 0 || close_ms < 0) return Fail("a negative duration");
  return Change([&](DriveState& s, SectorFile&, std::string*) {
    s.durations.blank_ms = blank_ms;
    s.durations.format_ms = format_ms;
    s.durations.close_ms = close_ms;
    return true;
  });
}

FORNAX_SIM_API int fornax_sim_set_opc_duration(int milliseconds) {
  if (milliseconds < 0) return Fail("a negative duration");
  return Change([&](DriveState& s, SectorFile&, std::string*) {
    s.durations.opc_ms = milliseconds;
    return true;
  });
}

FORNAX_SIM_API int fornax_sim_allow_sao_on_appendable(int allow) {
  return Change([&](DriveState& s, SectorFile&, std::string*) {
    s.sao_on_appendable = allow != 0;
    return true;
  });
}

FORNAX_SIM_API int fornax_sim_set_border_gap(uint32_t blocks) {
  if (blocks > kMaxBorderGap) return Fail("a border gap larger than a whole DVD-R");
  return Change([&](DriveState& s, SectorFile&, std::string*) {
    s.border_gap = blocks;
    return true;
  });
}

FORNAX_SIM_API int fornax_sim_set_identity(const char* vendor, const char* product, const char* revision) {
  if (vendor == nullptr || product == nullptr || revision == nullptr) return Fail("identity fields missing");
  for (const char* field : {vendor, product, revision})
    if (!IsPlainText(field, kMaxIdentityBytes))
      return Fail("an identity field must be printable ASCII of at most " + std::to_string(kMaxIdentityBytes) +
                  " characters");
  return Change([&](DriveState& s, SectorFile&, std::string*) {
    s.identity = Identity{vendor, product, revision};
    return true;
  });
}

FORNAX_SIM_API int fornax_sim_clear_faults(void) {
  return Change([](DriveState& s, SectorFile&, std::string*) {
    const int64_t now = NowUs();
    s.buffer = WriteBuffer{BufferFill(s, now), now};
    s.faults = Faults{};
    s.durations = Durations{};
    s.sao_on_appendable = false;
    if (s.faults.write_speed_kbps == 0) s.buffer = WriteBuffer{};
    s.identity = Identity{};
    s.border_gap = geometry::kDefaultBorderGap;
    return true;
  });
}

FORNAX_SIM_API int fornax_sim_reset(void) {
  return Change([](DriveState& s, SectorFile& sectors, std::string* e) {
    if (!WipeSectors(sectors, e)) return false;
    s = FreshDriveState();
    return true;
  });
}
