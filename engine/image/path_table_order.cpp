#include "engine/image/path_table_order.h"

#include <algorithm>
#include <unordered_map>

#include "engine/image/entries.h"
#include "engine/image/iso_names.h"

namespace fornax {

// Sorting by (parent number, identifier) and renumbering until the numbers no
// longer move settles on a breadth-first walk that takes each directory's
// children in identifier order; the walk reaches that order directly.
std::vector<TDEntry*> OrderForPathTables(const std::vector<TDEntry*>& directories) {
  std::vector<TDEntry*> order;
  if (directories.empty()) return order;
  TDEntry* root = directories.front();

  struct TChild {
    std::string Key;
    TDEntry* Dir;
  };
  std::unordered_map<TDEntry*, std::vector<TChild>> children;
  for (size_t i = 1; i < directories.size(); ++i) {
    TDEntry* dir = directories[i];
    children[dir->Parent].push_back({DirectoryIdentifier(*dir, false, TTree::Iso), dir});
  }

  order.reserve(directories.size());
  order.push_back(root);
  for (size_t next = 0; next < order.size(); ++next) {
    const auto it = children.find(order[next]);
    if (it == children.end()) continue;
    std::vector<TChild>& kids = it->second;
    std::stable_sort(kids.begin(), kids.end(),
                     [](const TChild& a, const TChild& b) { return a.Key < b.Key; });
    for (const TChild& kid : kids) order.push_back(kid.Dir);
  }
  for (size_t i = 0; i < order.size(); ++i) order[i]->Number = static_cast<int32_t>(i + 1);
  return order;
}

}  // namespace fornax
