#pragma once
// The outcome of a verify and its texts: which files of the disc match what
// they should hold, which differ, cannot be read or are missing, and which
// sectors failed.

#include <cstdint>
#include <string>
#include <vector>

namespace fornax {

// Sectors [First, First + Count).
struct TSectorRange {
  uint32_t First = 0;
  uint32_t Count = 0;
  uint32_t Last() const { return First + Count - 1; }
  bool operator==(const TSectorRange& other) const { return First == other.First && Count == other.Count; }
};

// Adds a range to a sorted list of ranges, joining it with the ranges it
// touches or overlaps.
void AddSectorRange(std::vector<TSectorRange>& ranges, TSectorRange range);
// "17-20, 40"
std::string SectorRangesList(const std::vector<TSectorRange>& ranges);
// "sector 17", "sectors 17-20, 40"
std::string SectorRangesText(const std::vector<TSectorRange>& ranges);

enum class TVerifyProblem {
  Differs,             // the disc gives other bytes than it should
  Unreadable,          // the drive could not read all of it
  ChangedDuringBurn,   // the disc holds what was sent, the source is other now
  MissingOnDisc,       // written or given, but the session has no such file
  NotAmongSources,     // on the disc, but no local file answers to it
};

struct TFileProblem {
  std::string Path;
  TVerifyProblem Kind = TVerifyProblem::Differs;
  std::vector<TSectorRange> Sectors;  // where it differs or failed, when known
  std::string Detail;                 // the drive's reason for a failed read
};

struct TVerifyReport {
  bool Ran = false;        // the session could be read at all
  std::string Error;       // why it could not
  int Session = 0;
  int FilesChecked = 0;    // files compared, whatever the outcome
  int FilesMatching = 0;
  int64_t BytesChecked = 0;
  std::vector<TFileProblem> Problems;       // sorted by path
  std::vector<TSectorRange> FailedSectors;  // unreadable or differing, merged

  bool Passed() const { return Ran && Problems.empty(); }
  int Count(TVerifyProblem kind) const;
  void Add(TFileProblem problem);
  // Sorts the problems by path and gathers their sectors.
  void Finish();
};

// One line per problem, e.g. "differs from what was written: /a/b.txt (sector 310)".
std::string ProblemText(const TFileProblem& problem);
// "Verified 12 files (3.4 MB): all match the disc." or what went wrong, in one line.
std::string VerifySummary(const TVerifyReport& report);
// The same for an image file compared sector by sector (no files).
std::string ImageVerifySummary(const TVerifyReport& report, int64_t sectors);

}  // namespace fornax
