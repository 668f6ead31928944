#pragma once
// Random command sequences for the drive's pure dispatcher: mostly commands a
// burning program sends in a sensible order (writes at the next writable
// address, reservations, closing, cue sheets, formats, blanking, page 05),
// mixed with queries and with commands that are out of place. Each step may
// look at the state, as a host looks at the disc before it writes.

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "simdrive/command.h"

namespace fornax::sim::test {

// Every medium and recording mode the drive takes.
struct MediumChoice {
  MediumKind kind;
  bool restricted_overwrite;
  const char* name;
};
extern const std::vector<MediumChoice> kEveryMedium;

struct GeneratedStep {
  std::string what;  // for the message of a failing test
  std::vector<uint8_t> cdb;
  std::vector<uint8_t> data_out;
  uint32_t data_in_room = 0;
  int64_t advance_ms = 0;  // the clock moves on this much before the command
};

class CommandGenerator {
 public:
  explicit CommandGenerator(uint32_t seed) : rng_(seed) {}
  GeneratedStep Next(const DriveState& state);
  // Settings a control program changes between commands (border gap,
  // session at once on a disc that holds sessions): what the control
  // interface accepts, applied as it does.
  void ChangeSettings(DriveState& state);

 private:
  uint32_t Below(uint32_t n) { return n == 0 ? 0 : rng_() % n; }
  bool Percent(uint32_t p) { return Below(100) < p; }
  template <class T>
  T OneOf(std::initializer_list<T> values) {
    return values.begin()[Below(static_cast<uint32_t>(values.size()))];
  }

  GeneratedStep Write(const DriveState& s);
  GeneratedStep Close(const DriveState& s);
  GeneratedStep Reserve(const DriveState& s);
  GeneratedStep WriteParameters(const DriveState& s);
  GeneratedStep SendCue(const DriveState& s);
  GeneratedStep Format(const DriveState& s);
  GeneratedStep Blank();
  GeneratedStep Read(const DriveState& s);
  GeneratedStep Query(const DriveState& s);
  GeneratedStep Other();

  std::mt19937 rng_;
};

// A sector store in memory that holds nothing: blocks read as zeros.
class NullSectors : public SectorStore {
 public:
  bool Read(uint32_t, uint32_t count, uint8_t* out) override;
  bool Write(uint32_t, uint32_t, const uint8_t*) override { return true; }
  bool Wipe() override { return true; }
};

}  // namespace fornax::sim::test
