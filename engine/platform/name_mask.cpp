#include <string_view>

#include "engine/base/text.h"
#include "engine/platform/dir_listing.h"

namespace fornax {
namespace {

std::u32string Characters(std::string_view text) {
  std::u32string out;
  out.reserve(text.size());
  size_t pos = 0;
  while (pos < text.size()) out += DecodeUtf8(text, pos);
  return out;
}

// Wildcard match that backtracks only to the last "*": linear in practice and
// never exponential, whatever mask a user types.
bool Matches(std::u32string_view name, std::u32string_view mask) {
  size_t n = 0, m = 0;
  size_t starMask = std::u32string_view::npos, starName = 0;
  while (n < name.size()) {
    if (m < mask.size() && (mask[m] == U'?' || mask[m] == name[n])) {
      ++n;
      ++m;
    } else if (m < mask.size() && mask[m] == U'*') {
      starMask = m++;
      starName = n;
    } else if (starMask != std::u32string_view::npos) {
      m = starMask + 1;
      n = ++starName;
    } else {
      return false;
    }
  }
  while (m < mask.size() && mask[m] == U'*') ++m;
  return m == mask.size();
}

}  // namespace

bool MatchesMask(const std::string& Name, const std::string& Mask) {
  if (Mask.empty() || Mask == "*" || Mask == "*.*") return true;
  return Matches(Characters(UpperCase(Name)), Characters(UpperCase(Mask)));
}

}  // namespace fornax
