#include "engine/platform/short_name_table.h"

#include <algorithm>
#include <stdexcept>

#include "engine/base/text.h"
#include "engine/platform/short_names.h"

namespace fornax {

std::string TShortNameTable::Alias(const std::string& LongName, bool isDirectory) {
  const TShortNameBase base = ShortNameBase(LongName, isDirectory);
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

TFolderShortNames AssignShortNames(const std::vector<TFolderItemName>& Items) {
  TShortNameTable table(Items.size());
  TFolderShortNames result;
  result.reserve(Items.size());
  std::vector<const TFolderItemName*> needAlias;
  for (const TFolderItemName& item : Items) {
    const std::string longName = MakeLongName(item.Name);
    if (IsShortNameValid(longName, item.IsDirectory)) {
      table.Reserve(UpperCase(longName));
      result.emplace(item.Name, std::string());
    } else {
      needAlias.push_back(&item);
    }
  }
  // std::string compares as unsigned bytes, the order FindFile can rebuild.
  std::sort(needAlias.begin(), needAlias.end(),
            [](const TFolderItemName* a, const TFolderItemName* b) { return a->Name < b->Name; });
  for (const TFolderItemName* item : needAlias)
    result.emplace(item->Name, table.Alias(MakeLongName(item->Name), item->IsDirectory));
  return result;
}

TFolderShortNames AssignShortNames(const std::vector<std::string>& Names) {
  std::vector<TFolderItemName> items;
  items.reserve(Names.size());
  for (const std::string& name : Names) items.push_back({name, false});
  return AssignShortNames(items);
}

}  // namespace fornax
