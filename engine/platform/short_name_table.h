#pragma once
// The 8.3 aliases of one folder, made so that no two items share one and so
// that the same folder always gives the same aliases, whatever order the file
// system lists it in.

#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace fornax {

// Names in use in one folder, handing out aliases as MakeShortName would.
class TShortNameTable {
 public:
  explicit TShortNameTable(size_t expectedNames = 0) { taken_.reserve(expectedNames); }

  void Reserve(const std::string& upperName) { taken_.insert(upperName); }
  bool IsTaken(const std::string& upperName) const { return taken_.count(upperName) != 0; }

  // MakeShortName(LongName) against the names in use; the alias is then in use.
  // Remembers how far each alias series got, so that thousands of names with the
  // same beginning do not each probe all the tails before theirs.
  std::string Alias(const std::string& LongName, bool isDirectory = false);

 private:
  std::unordered_set<std::string> taken_;
  std::unordered_map<std::string, uint64_t> nextTail_;
};

// Raw name -> alias for every item of a folder; the alias is empty when the
// item's long name already is 8.3. Names that already are 8.3 are reserved
// first, the others get aliases in byte order of their raw names.
using TFolderShortNames = std::unordered_map<std::string, std::string>;
struct TFolderItemName {
  std::string Name;
  bool IsDirectory = false;
};
TFolderShortNames AssignShortNames(const std::vector<TFolderItemName>& Items);
// The same for a folder of files only.
TFolderShortNames AssignShortNames(const std::vector<std::string>& Names);

}  // namespace fornax
