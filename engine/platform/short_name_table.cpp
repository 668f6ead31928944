#include "engine/platform/short_name_table.h"

#include <algorithm>
#include <stdexcept>

#include "engine/base/text.h"
#include "engine/platform/short_names.h"

namespace fornax {

std::string TShortNameTable::Alias(const std::string& LongName) {
  const TShortNameBase base = ShortNameBase(LongName);
  // Every candidate depends only on the first six stem characters (the most a
  // tail leaves) and the extension. Names are only ever added, so the tails a
  // series has passed stay taken and the first free one is still the one
  // MakeShortName would find.
  const std::string series = base.Stem.substr(0, 6) + "." + base.Extension;
  uint64_t& next = nextTail_.try_emplace(series, 1).first->second;
  for (; next <= kMaxShortNameTail; ++next) {
    std::string candidate = ShortNameWithTail(base.Stem, base.Extension, next);
    if (taken_.insert(candidate).second) {
      ++next;
      return candidate;
    }
  }
  throw std::length_error("no free short name for " + LongName);
}

TFolderShortNames AssignShortNames(const std::vector<std::string>& Names) {
  TShortNameTable table(Names.size());
  TFolderShortNames result;
  result.reserve(Names.size());
  std::vector<const std::string*> needAlias;
  for (const std::string& name : Names) {
    const std::string longName = MakeLongName(name);
    if (IsShortNameValid(longName)) {
      table.Reserve(UpperCase(longName));
      result.emplace(name, std::string());
    } else {
      needAlias.push_back(&name);
    }
  }
  // std::string compares as unsigned bytes, the order FindFile can rebuild.
  std::sort(needAlias.begin(), needAlias.end(),
            [](const std::string* a, const std::string* b) { return *a < *b; });
  for (const std::string* name : needAlias) result.emplace(*name, table.Alias(MakeLongName(*name)));
  return result;
}

}  // namespace fornax
