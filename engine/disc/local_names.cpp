#include "engine/disc/local_names.h"

#include <algorithm>

namespace fornax {

bool IsSafeLocalComponent(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return false;
  return name.find('/') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

std::string LocalFileName(std::string_view discName) {
  std::string name(discName);
  // Only a name with something besides dots has an extension to lack: from
  // "..." the same rule would make "..".
  const bool onlyDots = std::all_of(name.begin(), name.end(), [](char c) { return c == '.'; });
  if (name.size() > 1 && name.back() == '.' && !onlyDots) name.pop_back();
  return IsSafeLocalComponent(name) ? name : std::string();
}

}  // namespace fornax
