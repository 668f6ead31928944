#include "cli/repeated_lines.h"

#include <algorithm>

#include <fmt/format.h>

namespace fornax::cli {
namespace {

constexpr size_t kNamedSubjects = 3;

std::string JoinedSubjects(const std::vector<std::string>& subjects) {
  std::string joined;
  for (const std::string& subject : subjects) joined += (joined.empty() ? "" : ", ") + subject;
  return joined;
}

}  // namespace

bool TRepeatedLines::Note(const std::string& Text, const std::string& Subject) {
  std::lock_guard<std::mutex> guard(FLock);
  auto tally = std::find_if(FTallies.begin(), FTallies.end(), [&](const TTally& t) { return t.Text == Text; });
  const bool first = tally == FTallies.end();
  if (first) tally = FTallies.insert(FTallies.end(), TTally{Text, 0, {}});
  ++tally->Count;
  if (!Subject.empty() && tally->FirstSubjects.size() < kNamedSubjects) tally->FirstSubjects.push_back(Subject);
  return first;
}

std::vector<std::string> TRepeatedLines::Summary() const {
  std::lock_guard<std::mutex> guard(FLock);
  std::vector<std::string> lines;
  for (const TTally& tally : FTallies) {
    if (tally.Count < 2) continue;
    std::string line = fmt::format("{} (repeated {} times", tally.Text, GroupedCount(tally.Count));
    if (!tally.FirstSubjects.empty()) line += "; first: " + JoinedSubjects(tally.FirstSubjects);
    lines.push_back(line + ")");
  }
  return lines;
}

std::string GroupedCount(int64_t Count) {
  std::string digits = std::to_string(Count < 0 ? -Count : Count);
  for (size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, ",");
  return (Count < 0 ? "-" : "") + digits;
}

}  // namespace fornax::cli
