#pragma once
// Closing what a write leaves open on a disc: the CLOSE TRACK/SESSION
// commands each medium takes, and the repair of a session that an
// interrupted or failed write (or another program) did not close.

#include <cstdint>
#include <vector>

namespace fornax {

struct TCloseStep {
  bool Immediate = false;
  uint8_t Function = 0;  // 1 track, 2 session, 3 DVD+RW format end, 6 finalize
  uint8_t Track = 0;
  // A drive may refuse to close a track that holds nothing; the session
  // close that follows is what counts.
  bool Optional = false;
  bool operator==(const TCloseStep&) const = default;
};

// The commands that end a session written on a medium whose open track is
// `track`; with `finalize` the last of them closes the disc. `cdImmediate`
// is the drive's choice of the Immed bit for a CD's close.
std::vector<TCloseStep> SessionCloseSteps(uint8_t medium, uint8_t track, bool finalize, bool cdImmediate);

enum class TCloseOutcome {
  NothingOpen,     // every session was closed already (and the disc, if asked)
  Closed,          // an open track or session was closed, or the disc finalized
  CannotFinalize,  // the medium cannot be finalized in its state
  Failed,          // the drive refused; its reason is the device's last error
};

}  // namespace fornax
