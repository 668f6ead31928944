// Compilation and layout benchmark: builds large compilations from synthetic
// directory listings (no files on disk) and times adding the entries, laying
// them out and building the header, with the peak memory of the process.
//
//   fornax_layout_bench [--scale S] [--only tree|folder]
//
// tree    600,000 entries in 20,000 folders (the root and 19,999 folders a few
//         levels deep, 580,001 files spread over them): adding, PrepareImage +
//         BuildHeader, total and peak RSS. Targets: total < 10 s, peak < 1 GiB.
// folder  100,000 files added to one folder. Target: adding < 2 s.
//
// The listings are made the way a directory search makes them — each folder's
// 8.3 aliases come from AssignShortNames over all its items — one folder at a
// time, as a scan holds them. Making them stands in for reading the disk and
// is timed apart, outside the targets. --scale shrinks both cases to debug the
// harness; the targets are meant for scale 1.
//
// Exit status: 0 every target met, 1 a target missed, 2 bad arguments or the
// compilation refused entries it should have taken.

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_names.h"
#include "engine/platform/dir_listing.h"
#include "engine/platform/short_name_table.h"
#include "engine/platform/short_names.h"
#include "engine/recorder.h"

namespace {

using fornax::TDEntry;
using fornax::TQzRecorder;
using fornax::TSearchRec;
using fornax::bench::TXorShift;
using Clock = std::chrono::steady_clock;

// The capacities the command-line tool clears its compilation with.
constexpr int kMaxFiles = 600000;
constexpr int kMaxDirs = 20000;

constexpr double kTreeTargetSeconds = 10.0;
constexpr double kTreeTargetMiB = 1024.0;
constexpr double kFolderTargetSeconds = 2.0;

double Since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double PeakRssMiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;  // ru_maxrss is in KiB
}

double CurrentRssMiB() {
  long pages = 0, resident = 0;
  if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(statm);
  }
  return static_cast<double>(resident) * 4096.0 / 1048576.0;
}

const char* Verdict(bool met) { return met ? "PASS" : "FAIL"; }

// One folder's listing: its subfolders, then its files, with the aliases a
// search of that folder would give them.
std::vector<TSearchRec> MakeListing(const std::vector<std::string>& folders,
                                    const std::vector<std::string>& files, TXorShift& random,
                                    int64_t maxFileSize) {
  std::vector<std::string> names;
  names.reserve(folders.size() + files.size());
  names.insert(names.end(), folders.begin(), folders.end());
  names.insert(names.end(), files.begin(), files.end());
  fornax::TFolderShortNames aliases = fornax::AssignShortNames(names);

  std::vector<TSearchRec> listing;
  listing.reserve(names.size());
  for (size_t i = 0; i < names.size(); ++i) {
    const bool folder = i < folders.size();
    TSearchRec rec;
    rec.Name = names[i];
    rec.LongName = fornax::MakeLongName(names[i]);
    rec.ShortName = aliases[names[i]];
    rec.Attr = folder ? fornax::faDirectory : fornax::faArchive;
    rec.Size = folder ? 0 : static_cast<int64_t>(random.Between(0, static_cast<uint64_t>(maxFileSize)));
    rec.WriteTime = 1600000000 + static_cast<int64_t>(random.Next() % 100000000);
    listing.push_back(std::move(rec));
  }
  return listing;
}

struct TTreeResult {
  bool Complete = true;
  double Listings = 0, Add = 0, Layout = 0, Header = 0;
};

// Case "tree": folders numbered breadth-first, 0 the root, folder i > 0 under
// folder (i - 1) / kFanout, which gives three levels below the root for 20,000.
bool RunTree(double scale, bool& complete) {
  constexpr int kFanout = 30;
  const int subfolders = std::max(1, static_cast<int>(std::lround(kMaxDirs * scale)) - 1);
  const int entries = static_cast<int>(std::lround(kMaxFiles * scale));
  const int files = entries - subfolders;
  const int folders = subfolders + 1;

  std::printf("[tree] %d entries: %d files in %d folders (the root and %d below it)\n", entries,
              files, folders, subfolders);
  std::fflush(stdout);
  const double rssBefore = CurrentRssMiB();

  // Files per folder: each file picks its folder at random, so counts vary
  // around the mean as they do on real disks.
  TXorShift random(20240611);
  std::vector<int> fileCount(static_cast<size_t>(folders), 0);
  for (int n = 0; n < files; ++n) ++fileCount[random.Next() % static_cast<uint64_t>(folders)];

  TTreeResult result;
  auto recorder = std::make_unique<TQzRecorder>();
  recorder->ClearCompilation(kMaxFiles, kMaxDirs);
  std::vector<TDEntry*> dirs(static_cast<size_t>(folders), nullptr);
  dirs[0] = recorder->RootDirectory();
  uint64_t fileNumber = 0;

  for (int d = 0; d < folders; ++d) {
    auto started = Clock::now();
    std::vector<std::string> folderNames, fileNames;
    const int firstChild = d * kFanout + 1;
    for (int c = firstChild; c < firstChild + kFanout && c <= subfolders; ++c)
      folderNames.push_back(fornax::bench::FolderName(static_cast<uint64_t>(c)));
    for (int f = 0; f < fileCount[static_cast<size_t>(d)]; ++f)
      fileNames.push_back(fornax::bench::FileName(fileNumber++));
    const std::vector<TSearchRec> listing = MakeListing(folderNames, fileNames, random, 65536);
    const std::string sourceFolder = "/bench-source/f" + std::to_string(d) + "/";
    result.Listings += Since(started);

    started = Clock::now();
    TDEntry* dir = dirs[static_cast<size_t>(d)];
    for (size_t i = 0; i < listing.size(); ++i) {
      const TSearchRec& item = listing[i];
      if (i < folderNames.size()) {
        TDEntry* sub = recorder->AddDirectory(dir, item);
        if (!sub) result.Complete = false;
        dirs[static_cast<size_t>(firstChild) + i] = sub;
      } else if (!recorder->AddEntry(dir, item, sourceFolder + item.Name, 0, false)) {
        result.Complete = false;
      }
    }
    result.Add += Since(started);
  }
  if (!result.Complete || recorder->FileCount() != entries || recorder->DirectoryCount() != subfolders) {
    std::printf("  the compilation holds %d entries and %d folders, expected %d and %d\n",
                recorder->FileCount(), recorder->DirectoryCount(), entries, subfolders);
    complete = false;
    return false;
  }

  auto started = Clock::now();
  recorder->PrepareImage(true, nullptr);
  result.Layout = Since(started);
  // The header is made as it is written: here into a sink that only counts.
  started = Clock::now();
  recorder->BuildHeader(true, nullptr);
  int64_t headerBytes = 0;
  recorder->WriteHeader([&headerBytes](const uint8_t*, size_t length) { headerBytes += static_cast<int64_t>(length); });
  result.Header = Since(started);
  const double peak = PeakRssMiB();
  const double total = result.Add + result.Layout + result.Header;

  std::printf("  listings made          %8.3f s  (stands in for the disk scan; not counted)\n", result.Listings);
  std::printf("  add                    %8.3f s\n", result.Add);
  std::printf("  layout (PrepareImage)  %8.3f s\n", result.Layout);
  std::printf("  header (WriteHeader)   %8.3f s  (%.1f MiB of header, %lld sectors in all)\n",
              result.Header, static_cast<double>(headerBytes) / 1048576.0,
              static_cast<long long>(recorder->Layout().VolumeSpaceSize));
  std::printf("  layout + header        %8.3f s\n", result.Layout + result.Header);
  std::printf("  total                  %8.3f s  target < %.0f s     %s\n", total, kTreeTargetSeconds,
              Verdict(total < kTreeTargetSeconds));
  std::printf("  peak RSS               %8.1f MiB  target < %.0f MiB  %s  (%.1f MiB before the case)\n",
              peak, kTreeTargetMiB, Verdict(peak < kTreeTargetMiB), rssBefore);
  std::fflush(stdout);
  return total < kTreeTargetSeconds && peak < kTreeTargetMiB;
}

bool RunFolder(double scale, bool& complete) {
  const int files = std::max(1, static_cast<int>(std::lround(100000 * scale)));
  std::printf("[folder] %d files added to one folder\n", files);
  std::fflush(stdout);

  TXorShift random(19990101);
  auto started = Clock::now();
  std::vector<std::string> names;
  names.reserve(static_cast<size_t>(files));
  for (int n = 0; n < files; ++n) names.push_back(fornax::bench::FileName(static_cast<uint64_t>(n)));
  const std::vector<TSearchRec> listing = MakeListing({}, names, random, 65536);
  const double listings = Since(started);

  auto recorder = std::make_unique<TQzRecorder>();
  recorder->ClearCompilation(kMaxFiles, kMaxDirs);
  TSearchRec folder;
  folder.Name = folder.LongName = "One big folder";
  folder.ShortName = "ONEBIG_1";
  folder.Attr = fornax::faDirectory;
  folder.WriteTime = 1700000000;
  TDEntry* dir = recorder->AddDirectory(recorder->RootDirectory(), folder);

  started = Clock::now();
  int added = 0;
  for (const TSearchRec& item : listing)
    if (recorder->AddEntry(dir, item, "/bench-source/big/" + item.Name, 0, false)) ++added;
  const double add = Since(started);
  complete = added == files;

  started = Clock::now();
  recorder->PrepareImage(true, nullptr);
  recorder->BuildHeader(true, nullptr);
  const double layout = Since(started);

  std::printf("  listing made           %8.3f s  (not counted)\n", listings);
  std::printf("  add                    %8.3f s  target < %.0f s      %s\n", add, kFolderTargetSeconds,
              Verdict(add < kFolderTargetSeconds));
  std::printf("  layout + header        %8.3f s\n", layout);
  std::printf("  add + layout + header  %8.3f s\n", add + layout);
  if (!complete) std::printf("  only %d of %d files were added\n", added, files);
  std::fflush(stdout);
  return add < kFolderTargetSeconds;
}

}  // namespace

int main(int argc, char** argv) {
  double scale = 1.0;
  std::string only;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--scale" && i + 1 < argc) {
      scale = std::atof(argv[++i]);
    } else if (arg == "--only" && i + 1 < argc) {
      only = argv[++i];
    } else {
      std::fprintf(stderr, "usage: fornax_layout_bench [--scale S] [--only tree|folder]\n");
      return 2;
    }
  }
  if (!(scale > 0 && scale <= 1) || (!only.empty() && only != "tree" && only != "folder")) {
    std::fprintf(stderr, "fornax_layout_bench: --scale takes a number in (0, 1], --only tree or folder\n");
    return 2;
  }
  std::printf("fornax_layout_bench: scale %.3g%s\n", scale,
              scale == 1 ? "" : " (reduced: the targets are meant for scale 1)");

  bool met = true, complete = true;
  // The tree case runs first, so that the peak it reports is its own.
  if (only.empty() || only == "tree") {
    bool treeComplete = true;
    const bool treeMet = RunTree(scale, treeComplete);
    met = met && treeMet;
    complete = complete && treeComplete;
  }
  if (only.empty() || only == "folder") {
    bool folderComplete = true;
    const bool folderMet = RunFolder(scale, folderComplete);
    met = met && folderMet;
    complete = complete && folderComplete;
  }
  if (!complete) return 2;
  return met ? 0 : 1;
}
