#pragma once
// The media the recorder takes: their profiles, sizes and the few traits that
// decide how they are recorded. A DVD-RW is one physical kind whose profile
// follows its recording mode (sequential or restricted overwrite).

#include <cstdint>
#include <optional>
#include <string_view>

namespace fornax::sim {

enum class MediumKind : uint8_t {
  kNone,
  kCdR,
  kCdRw,
  kDvdR,
  kDvdRw,
  kDvdPlusR,
  kDvdPlusRw,
  kDvdRam,
  kDvdPlusRDl,
};

enum class Profile : uint16_t {
  kNone = 0x0000,
  kCdRom = 0x0008,
  kCdR = 0x0009,
  kCdRw = 0x000A,
  kDvdRom = 0x0010,
  kDvdRSequential = 0x0011,
  kDvdRam = 0x0012,
  kDvdRwRestricted = 0x0013,
  kDvdRwSequential = 0x0014,
  kDvdPlusRw = 0x001A,
  kDvdPlusR = 0x001B,
  kDvdPlusRDl = 0x002B,
};

// Every profile the drive can work with, in the descending order drives list
// them in the profile-list feature.
inline constexpr Profile kDriveProfiles[] = {
    Profile::kDvdPlusRDl,       Profile::kDvdPlusR,        Profile::kDvdPlusRw,
    Profile::kDvdRwSequential,  Profile::kDvdRwRestricted, Profile::kDvdRam,
    Profile::kDvdRSequential,   Profile::kDvdRom,          Profile::kCdRw,
    Profile::kCdR,              Profile::kCdRom,
};

namespace geometry {
// ATIP of an 80-minute CD-R/RW: lead-in 97:26:66, last possible lead-out 79:59:74.
inline constexpr int32_t kCdLeadInStart = -11634;
inline constexpr uint32_t kCdLeadOutStart = 359849;
inline constexpr uint32_t kCdRunOut = 2;
inline constexpr uint32_t kCdPreGap = 150;
inline constexpr uint32_t kCdMinimumTrack = 300;  // four seconds; shorter tracks are padded
inline constexpr uint32_t kCdFirstSessionGap = 11400;  // lead-out 6750 + lead-in 4500 + pre-gap 150
inline constexpr uint32_t kCdLaterSessionGap = 6900;   // lead-out 2250 + lead-in 4500 + pre-gap 150
inline constexpr uint32_t kCdFirstLeadOut = 6750;
inline constexpr uint32_t kCdLaterLeadOut = 2250;
inline constexpr uint32_t kDvdRBlank = 2298496;  // one blank RZone, before any border
inline constexpr uint32_t kDvdRBordered = 2297888;
inline constexpr uint32_t kDvdRw = 2297888;
inline constexpr uint32_t kDvdPlus = 2295104;
inline constexpr uint32_t kDvdPlusRDl = 4173824;
inline constexpr uint32_t kDvdRam = 2236704;
inline constexpr uint32_t kDvdRamAlternative = 2295072;
inline constexpr uint32_t kDvdRamSpare1 = 2226976;
inline constexpr uint32_t kDvdRamSpare2 = 2217248;
inline constexpr uint32_t kDefaultBorderGap = 28688;
inline constexpr uint32_t kDvdPlusSessionGap = 2048;
inline constexpr uint32_t kDvdLinkGap = 16;  // between incremental RZones of one border
inline constexpr uint32_t kEccBlock = 16;
inline constexpr uint16_t kDvdPlusRDlSessionLimit = 127;
inline constexpr uint32_t kDvdPlusRDlMinimumRoom = 65 * kEccBlock;
}  // namespace geometry

bool IsCd(MediumKind kind);
bool IsDvd(MediumKind kind);
// The erasable bit of READ DISC INFORMATION.
bool IsRewritable(MediumKind kind);
// Media that take BLANK.
bool IsBlankable(MediumKind kind);
// Media whose page 05 write parameters the drive checks and obeys.
bool UsesWriteParameters(MediumKind kind, bool restricted_overwrite);
// Media on which the test-write bit of page 05 simulates the recording.
bool SupportsTestWrite(MediumKind kind, bool restricted_overwrite);

Profile ProfileOf(MediumKind kind, bool restricted_overwrite);
// The name for descriptions ("DVD+R DL").
std::string_view MediumName(MediumKind kind, bool restricted_overwrite);

// The names of the control interface: "cd-r", "dvd-rw-ro", ...
struct InsertChoice {
  MediumKind kind = MediumKind::kNone;
  bool restricted_overwrite = false;
};
std::optional<InsertChoice> ParseMediumName(std::string_view name);
std::string_view MediumToken(MediumKind kind);
std::optional<MediumKind> ParseMediumToken(std::string_view token);

// Write and read speeds in kB/s (k = 1000) that the drive offers for a
// medium family, fastest first.
struct SpeedTable {
  const uint16_t* write = nullptr;
  int write_count = 0;
  uint16_t max_read = 0;
  uint16_t one_x = 0;  // the 1x speed of the family, the slowest the drive reads at
};
SpeedTable SpeedsFor(MediumKind kind);
// The speed the drive takes for a request: the fastest one not above it,
// or the slowest when the request is below all (FFFFh = the fastest).
uint16_t PickSpeed(const SpeedTable& table, uint16_t requested);

}  // namespace fornax::sim
