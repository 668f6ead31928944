#include "simdrive/media.h"

#include <array>

namespace fornax::sim {
namespace {

struct Token {
  std::string_view name;
  MediumKind kind;
};
constexpr std::array<Token, 8> kTokens{{
    {"cd-r", MediumKind::kCdR},
    {"cd-rw", MediumKind::kCdRw},
    {"dvd-r", MediumKind::kDvdR},
    {"dvd-rw", MediumKind::kDvdRw},
    {"dvd+r", MediumKind::kDvdPlusR},
    {"dvd+rw", MediumKind::kDvdPlusRw},
    {"dvd-ram", MediumKind::kDvdRam},
    {"dvd+r-dl", MediumKind::kDvdPlusRDl},
}};

// CD 1x is 176.4 kB/s; drives report these steps for 10x to 48x.
constexpr uint16_t kCdWriteSpeeds[] = {8467, 7056, 5645, 4234, 2822, 1764};
// DVD 1x is 1385 kB/s: 8x, 6x, 4x, 2.4x, 2x.
constexpr uint16_t kDvdWriteSpeeds[] = {11080, 8310, 5540, 3324, 2770};

}  // namespace

bool IsCd(MediumKind kind) { return kind == MediumKind::kCdR || kind == MediumKind::kCdRw; }
bool IsDvd(MediumKind kind) { return kind != MediumKind::kNone && !IsCd(kind); }

bool IsRewritable(MediumKind kind) {
  return kind == MediumKind::kCdRw || kind == MediumKind::kDvdRw ||
         kind == MediumKind::kDvdPlusRw || kind == MediumKind::kDvdRam;
}

bool IsBlankable(MediumKind kind) { return kind == MediumKind::kCdRw || kind == MediumKind::kDvdRw; }

bool UsesWriteParameters(MediumKind kind, bool restricted_overwrite) {
  return IsCd(kind) || kind == MediumKind::kDvdR ||
         (kind == MediumKind::kDvdRw && !restricted_overwrite);
}

bool SupportsTestWrite(MediumKind kind, bool restricted_overwrite) {
  return UsesWriteParameters(kind, restricted_overwrite);
}

Profile ProfileOf(MediumKind kind, bool restricted_overwrite) {
  switch (kind) {
    case MediumKind::kNone: return Profile::kNone;
    case MediumKind::kCdR: return Profile::kCdR;
    case MediumKind::kCdRw: return Profile::kCdRw;
    case MediumKind::kDvdR: return Profile::kDvdRSequential;
    case MediumKind::kDvdRw:
      return restricted_overwrite ? Profile::kDvdRwRestricted : Profile::kDvdRwSequential;
    case MediumKind::kDvdPlusR: return Profile::kDvdPlusR;
    case MediumKind::kDvdPlusRw: return Profile::kDvdPlusRw;
    case MediumKind::kDvdRam: return Profile::kDvdRam;
    case MediumKind::kDvdPlusRDl: return Profile::kDvdPlusRDl;
  }
  return Profile::kNone;
}

std::string_view MediumName(MediumKind kind, bool restricted_overwrite) {
  switch (kind) {
    case MediumKind::kNone: return "none";
    case MediumKind::kCdR: return "CD-R";
    case MediumKind::kCdRw: return "CD-RW";
    case MediumKind::kDvdR: return "DVD-R";
    case MediumKind::kDvdRw:
      return restricted_overwrite ? "DVD-RW (restricted overwrite)" : "DVD-RW (sequential)";
    case MediumKind::kDvdPlusR: return "DVD+R";
    case MediumKind::kDvdPlusRw: return "DVD+RW";
    case MediumKind::kDvdRam: return "DVD-RAM";
    case MediumKind::kDvdPlusRDl: return "DVD+R DL";
  }
  return "none";
}

std::optional<InsertChoice> ParseMediumName(std::string_view name) {
  if (name == "dvd-rw-ro") return InsertChoice{MediumKind::kDvdRw, true};
  if (name == "dvd-rw-seq") return InsertChoice{MediumKind::kDvdRw, false};
  if (name == "dvd-rw") return std::nullopt;  // ambiguous: the mode must be named
  auto kind = ParseMediumToken(name);
  if (!kind || *kind == MediumKind::kNone) return std::nullopt;
  return InsertChoice{*kind, false};
}

std::string_view MediumToken(MediumKind kind) {
  for (const Token& t : kTokens)
    if (t.kind == kind) return t.name;
  return "none";
}

std::optional<MediumKind> ParseMediumToken(std::string_view token) {
  if (token == "none") return MediumKind::kNone;
  for (const Token& t : kTokens)
    if (t.name == token) return t.kind;
  return std::nullopt;
}

SpeedTable SpeedsFor(MediumKind kind) {
  if (IsCd(kind)) return SpeedTable{kCdWriteSpeeds, 6, 8467, 176};
  return SpeedTable{kDvdWriteSpeeds, 5, 22160, 1385};
}

uint16_t PickSpeed(const SpeedTable& table, uint16_t requested) {
  for (int i = 0; i < table.write_count; ++i)
    if (table.write[i] <= requested) return table.write[i];
  return table.write[table.write_count - 1];
}

}  // namespace fornax::sim
