#pragma once
// The write parameters mode page (05h) the engine sets before writing and
// before asking about a medium's space.

#include <array>
#include <cstdint>

namespace fornax {

inline constexpr int kWriteParametersPageSize = 54;

struct TWriteParametersInput {
  bool TestWrite = false;
  bool UnderrunProtection = false;
  uint8_t MediumCode = 0;
  bool NextSessionAllowed = false;
  bool FinalizeDisc = false;
  bool LinkSizeQuirk = false;
  bool DriveHasUnderrunProtection = false;  // capability set
  bool DriveHasTestWrite = false;           // capability set
  bool PageSaysBufferUnderrunFree = false;  // page 2Ah byte 4 bit 7
  // A DVD-R or sequential DVD-RW border about to be closed for good: no
  // further session (the multi-session field is what the close obeys).
  bool CloseDisc = false;
};

// The page to send, made from the drive's current page (from its page code
// byte on) and the write's choices.
std::array<uint8_t, kWriteParametersPageSize> BuildWriteParametersPage(
    const uint8_t* currentPage, const TWriteParametersInput& in);

}  // namespace fornax
