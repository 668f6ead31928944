#include "engine/disc/verify_report.h"

#include <algorithm>
#include <fmt/format.h>

namespace fornax {
namespace {

std::string MegabytesText(int64_t bytes) { return fmt::format("{:.1f} MB", static_cast<double>(bytes) / 1e6); }

std::string Plural(int count, const char* one, const char* many) {
  return fmt::format("{} {}", count, count == 1 ? one : many);
}

}  // namespace

void AddSectorRange(std::vector<TSectorRange>& ranges, TSectorRange range) {
  if (range.Count == 0) return;
  auto at = std::lower_bound(ranges.begin(), ranges.end(), range,
                             [](const TSectorRange& a, const TSectorRange& b) { return a.First < b.First; });
  at = ranges.insert(at, range);
  // Join with the one before, then swallow the ones after while they touch.
  if (at != ranges.begin()) {
    auto before = at - 1;
    if (uint64_t{before->First} + before->Count >= at->First) {
      const uint64_t end = std::max(uint64_t{before->First} + before->Count, uint64_t{at->First} + at->Count);
      before->Count = static_cast<uint32_t>(end - before->First);
      at = ranges.erase(at) - 1;
    }
  }
  while (at + 1 != ranges.end() && uint64_t{at->First} + at->Count >= (at + 1)->First) {
    const uint64_t end = std::max(uint64_t{at->First} + at->Count, uint64_t{(at + 1)->First} + (at + 1)->Count);
    at->Count = static_cast<uint32_t>(end - at->First);
    ranges.erase(at + 1);
  }
}

std::string SectorRangesText(const std::vector<TSectorRange>& ranges) {
  if (ranges.empty()) return "";
  return (ranges.size() == 1 && ranges[0].Count == 1 ? "sector " : "sectors ") + SectorRangesList(ranges);
}

std::string SectorRangesList(const std::vector<TSectorRange>& ranges) {
  std::string text;
  for (size_t i = 0; i < ranges.size(); ++i) {
    if (i > 0) text += ", ";
    text += ranges[i].Count == 1 ? fmt::format("{}", ranges[i].First)
                                 : fmt::format("{}-{}", ranges[i].First, ranges[i].Last());
  }
  return text;
}

int TVerifyReport::Count(TVerifyProblem kind) const {
  return static_cast<int>(
      std::count_if(Problems.begin(), Problems.end(), [kind](const TFileProblem& p) { return p.Kind == kind; }));
}

void TVerifyReport::Add(TFileProblem problem) { Problems.push_back(std::move(problem)); }

void TVerifyReport::Finish() {
  std::stable_sort(Problems.begin(), Problems.end(),
                   [](const TFileProblem& a, const TFileProblem& b) { return a.Path < b.Path; });
  for (const TFileProblem& problem : Problems)
    for (const TSectorRange& range : problem.Sectors) AddSectorRange(FailedSectors, range);
}

std::string ProblemText(const TFileProblem& problem) {
  const std::string sectors = problem.Sectors.empty() ? "" : " (" + SectorRangesText(problem.Sectors) + ")";
  switch (problem.Kind) {
    case TVerifyProblem::Differs:
      return fmt::format("differs from what was written: {}{}{}", problem.Path, sectors,
                         problem.Detail.empty() ? "" : ": " + problem.Detail);
    case TVerifyProblem::Unreadable:
      return fmt::format("cannot be read from the disc: {}{}{}", problem.Path, sectors,
                         problem.Detail.empty() ? "" : ": " + problem.Detail);
    case TVerifyProblem::ChangedDuringBurn:
      return fmt::format("changed during the burn: {} (the disc holds the bytes that were sent, not the file as it is "
                         "now)",
                         problem.Path);
    case TVerifyProblem::MissingOnDisc:
      return fmt::format("not on the disc: {}", problem.Path);
    case TVerifyProblem::NotAmongSources:
      return fmt::format("on the disc but not among the sources: {}", problem.Path);
  }
  return problem.Path;
}

std::string VerifySummary(const TVerifyReport& report) {
  if (!report.Ran) return "Verify could not read the session: " + report.Error;
  const std::string checked =
      fmt::format("Verified {} ({})", Plural(report.FilesChecked, "file", "files"), MegabytesText(report.BytesChecked));
  if (report.Problems.empty()) return checked + ": all match the disc.";
  std::vector<std::string> parts;
  const auto part = [&](TVerifyProblem kind, const char* one, const char* many) {
    const int n = report.Count(kind);
    if (n > 0) parts.push_back(Plural(n, one, many));
  };
  part(TVerifyProblem::Differs, "differs", "differ");
  part(TVerifyProblem::Unreadable, "cannot be read", "cannot be read");
  part(TVerifyProblem::ChangedDuringBurn, "changed during the burn", "changed during the burn");
  part(TVerifyProblem::MissingOnDisc, "is not on the disc", "are not on the disc");
  part(TVerifyProblem::NotAmongSources, "is not among the sources", "are not among the sources");
  std::string text = checked + ": " + std::to_string(report.FilesMatching) + " match; ";
  for (size_t i = 0; i < parts.size(); ++i) text += (i > 0 ? ", " : "") + parts[i];
  if (!report.FailedSectors.empty()) text += "; failing " + SectorRangesText(report.FailedSectors);
  return text + ".";
}

std::string ImageVerifySummary(const TVerifyReport& report, int64_t sectors) {
  if (!report.Ran) return "Verify could not read the disc: " + report.Error;
  const std::string checked = fmt::format("Verified {} sectors against the image", sectors);
  if (report.Problems.empty()) return checked + ": all match.";
  return checked + ": " + SectorRangesText(report.FailedSectors) + " differ or cannot be read.";
}

}  // namespace fornax
