#pragma once
// Engine lines that carry no name and come once per entry they concern (a
// capacity limit that every later file meets): the first is shown as it
// comes, naming its entry; the rest are counted, and one line at the end sums
// them up with the first names.

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace fornax::cli {

class TRepeatedLines {
 public:
  // Notes Text, said about Subject (may be empty); true for its first time,
  // when the caller shows it.
  bool Note(const std::string& Text, const std::string& Subject);
  // "TEXT (repeated 400,000 times; first: a, b, c)" for each text that came
  // more than once, in the order they first came.
  std::vector<std::string> Summary() const;

 private:
  struct TTally {
    std::string Text;
    int64_t Count = 0;
    std::vector<std::string> FirstSubjects;
  };
  mutable std::mutex FLock;
  std::vector<TTally> FTallies;  // few: one per distinct text
};

// 400000 -> "400,000".
std::string GroupedCount(int64_t Count);

}  // namespace fornax::cli
