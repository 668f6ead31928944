#include "engine/disc/disc_verify.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fmt/format.h>
#include <map>
#include <optional>
#include <unordered_map>

#include "engine/base/text.h"
#include "engine/disc/session_import.h"
#include "engine/image/compilation.h"
#include "engine/pipeline/burn_record.h"

namespace fornax {
namespace {

constexpr uint32_t kSector = 2048;
// Files this close on the disc are read as one run: the padding between them
// costs less than another seek.
constexpr uint32_t kRunGapSectors = 64;

uint32_t SectorsOf(int64_t size) { return static_cast<uint32_t>((size + kSector - 1) / kSector); }

// The reader's compilation wants a host; a verify only reads into it.
class TReadOnlyHost : public TCompilationHost {
 public:
  explicit TReadOnlyHost(TLogLine log) : FLog(std::move(log)) {}
  void Report(const std::string& message, uint8_t type) override {
    if (FLog) FLog(message, type);
  }
  void AddingFile(const std::string&, std::string&, std::string&, TDateTime&, int, int64_t, bool&) override {}
  void AddingDirectory(std::string&, std::string&, bool&) override {}
  bool ReplacesFiles() const override { return false; }
  bool KeepsLastFolderOnly() const override { return false; }

 private:
  TLogLine FLog;
};

// A name of the disc as `ls` shows it: a final dot that only marks "no
// extension" is dropped.
std::string ShownName(const std::string& name) {
  if (name.size() > 1 && name.back() == '.' && name != "..") return name.substr(0, name.size() - 1);
  return name;
}

void CollectFiles(const TDEntry* dir, const std::string& prefix,
                  std::vector<std::pair<std::string, TExtentFile>>& out) {
  for (const TFEntry* e = dir->FirstEntry; e; e = e->Next) {
    const std::string path = prefix + "/" + ShownName(e->LongName);
    if (e->IsDirectory()) CollectFiles(e->Directory, path, out);
    else out.push_back({path, TExtentFile{static_cast<uint32_t>(e->ISOLocation), e->ISOSize}});
  }
}

// Reads one run's chunk; a failed read is tried sector by sector, the
// sectors that fail read as zeros and are noted.
void ReadChunk(TSectorSource& source, uint32_t lba, uint32_t count, uint8_t* out,
               std::vector<TSectorRange>& failed, std::string& error) {
  if (source.ReadSectors(lba, count, out)) return;
  for (uint32_t i = 0; i < count; ++i) {
    if (source.ReadSectors(lba + i, 1, out + static_cast<size_t>(i) * kSector)) continue;
    if (error.empty()) error = source.LastError();
    std::memset(out + static_cast<size_t>(i) * kSector, 0, kSector);
    AddSectorRange(failed, {lba + i, 1});
  }
}

struct TRun {
  uint32_t First = 0;
  uint32_t End = 0;  // one past its last sector
};

std::vector<TRun> RunsOf(const std::vector<TExtentFile>& files, const std::vector<size_t>& order) {
  std::vector<TRun> runs;
  for (size_t index : order) {
    const TExtentFile& f = files[index];
    const uint32_t end = f.Extent + SectorsOf(f.Size);
    if (!runs.empty() && f.Extent <= uint64_t{runs.back().End} + kRunGapSectors)
      runs.back().End = std::max(runs.back().End, end);
    else
      runs.push_back({f.Extent, end});
  }
  return runs;
}

// Reading a session's sectors: the byte offsets of a file within a chunk.
struct TOverlap {
  uint64_t From = 0, To = 0;  // absolute byte positions
};

TOverlap OverlapOf(const TExtentFile& f, uint64_t chunkFrom, uint64_t chunkTo) {
  const uint64_t from = uint64_t{f.Extent} * kSector, to = from + static_cast<uint64_t>(f.Size);
  return {std::max(from, chunkFrom), std::min(to, chunkTo)};
}

std::vector<TSectorRange> Intersect(const std::vector<TSectorRange>& failed, const TExtentFile& f) {
  std::vector<TSectorRange> out;
  const uint64_t first = f.Extent, end = first + SectorsOf(f.Size);
  for (const TSectorRange& r : failed) {
    const uint64_t from = std::max<uint64_t>(first, r.First), to = std::min<uint64_t>(end, uint64_t{r.First} + r.Count);
    if (from < to) out.push_back({static_cast<uint32_t>(from), static_cast<uint32_t>(to - from)});
  }
  return out;
}

bool PreadFully(int fd, uint8_t* into, size_t count, uint64_t offset, size_t& got) {
  got = 0;
  while (got < count) {
    const ssize_t n = ::pread(fd, into + got, count - got, static_cast<off_t>(offset + got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

std::vector<TExtentHash> HashExtents(TSectorSource& source, const std::vector<TExtentFile>& files) {
  std::vector<TExtentHash> results(files.size());
  std::vector<size_t> order;
  for (size_t i = 0; i < files.size(); ++i) {
    if (files[i].Size > 0) order.push_back(i);
    else results[i].Hash = HashBytes(nullptr, 0);
  }
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return files[a].Extent < files[b].Extent; });
  std::vector<std::optional<TContentHash>> states(files.size());
  std::vector<uint8_t> buffer(static_cast<size_t>(kVerifyReadSectors) * kSector);
  size_t next = 0;
  std::vector<size_t> active;
  for (const TRun& run : RunsOf(files, order)) {
    for (uint32_t lba = run.First; lba < run.End;) {
      const uint32_t count = std::min(kVerifyReadSectors, run.End - lba);
      std::vector<TSectorRange> failed;
      std::string error;
      ReadChunk(source, lba, count, buffer.data(), failed, error);
      const uint64_t chunkFrom = uint64_t{lba} * kSector, chunkTo = chunkFrom + uint64_t{count} * kSector;
      while (next < order.size() && files[order[next]].Extent < uint64_t{lba} + count) active.push_back(order[next++]);
      for (size_t k = 0; k < active.size();) {
        const size_t index = active[k];
        const TExtentFile& f = files[index];
        const TOverlap o = OverlapOf(f, chunkFrom, chunkTo);
        if (o.From < o.To) {
          if (!states[index]) states[index].emplace();
          states[index]->Update(buffer.data() + (o.From - chunkFrom), static_cast<size_t>(o.To - o.From));
        }
        for (const TSectorRange& r : Intersect(failed, f)) {
          AddSectorRange(results[index].Failed, r);
          results[index].Read = false;
          if (results[index].Error.empty()) results[index].Error = error;
        }
        if (uint64_t{f.Extent} * kSector + static_cast<uint64_t>(f.Size) <= chunkTo) {
          results[index].Hash = states[index] ? states[index]->Digest() : HashBytes(nullptr, 0);
          states[index].reset();
          active.erase(active.begin() + static_cast<ptrdiff_t>(k));
        } else {
          ++k;
        }
      }
      lba += count;
    }
  }
  return results;
}

bool DifferingSectors(TSectorSource& source, const TExtentFile& file, const std::string& localPath,
                      std::vector<TSectorRange>& sectors, std::string& error) {
  const int fd = ::open(localPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = fmt::format("cannot open \"{}\": {}", localPath, std::strerror(errno));
    return false;
  }
  std::vector<uint8_t> disc(static_cast<size_t>(kVerifyReadSectors) * kSector), local(disc.size());
  const uint32_t total = SectorsOf(file.Size);
  bool ok = true;
  for (uint32_t done = 0; done < total && ok;) {
    const uint32_t count = std::min(kVerifyReadSectors, total - done);
    std::vector<TSectorRange> failed;
    std::string readError;
    ReadChunk(source, file.Extent + done, count, disc.data(), failed, readError);
    const uint64_t offset = uint64_t{done} * kSector;
    const size_t want = static_cast<size_t>(std::min<uint64_t>(uint64_t{count} * kSector, file.Size - offset));
    size_t got = 0;
    if (!PreadFully(fd, local.data(), want, offset, got)) {
      error = fmt::format("cannot read \"{}\": {}", localPath, std::strerror(errno));
      ok = false;
      break;
    }
    std::memset(local.data() + got, 0, local.size() - got);
    for (const TSectorRange& r : failed) AddSectorRange(sectors, r);
    for (uint32_t i = 0; i < count; ++i) {
      const size_t at = static_cast<size_t>(i) * kSector;
      const size_t length = std::min<size_t>(kSector, want > at ? want - at : 0);
      if (std::memcmp(disc.data() + at, local.data() + at, length) != 0) AddSectorRange(sectors, {file.Extent + done + i, 1});
    }
    done += count;
  }
  ::close(fd);
  return ok;
}

std::vector<std::pair<std::string, TExtentFile>> SessionFiles(TSessionSource& source, int session,
                                                              const TLogLine& log, std::string& error) {
  TReadOnlyHost host(log);
  TCompilation tree(host);
  tree.ClearCompilation(INT32_MAX, 65535);
  std::vector<std::pair<std::string, TExtentFile>> files;
  if (!ImportSession(source, tree, session, tree.RootDirectory(), log)) {
    error = fmt::format("session {} holds no file system that can be read", session);
    return files;
  }
  CollectFiles(tree.RootDirectory(), "", files);
  return files;
}

namespace {

// Compares what the disc gave for a sent file with what was sent, and the
// source as it is now with what was sent.
void JudgeSentFile(TSectorSource& source, const TSentFile& sent, const TExtentFile& onDisc, const TExtentHash& read,
                   TVerifyReport& report) {
  ++report.FilesChecked;
  report.BytesChecked += sent.Size;
  if (!read.Read) {
    report.Add({sent.DiscPath, TVerifyProblem::Unreadable, read.Failed, read.Error});
    return;
  }
  if (read.Hash != sent.Hash) {
    TFileProblem problem{sent.DiscPath, TVerifyProblem::Differs, {}, ""};
    // The source still as it was sent shows which sectors went wrong.
    if (!sent.ChangedWhileRead && StampOf(sent.SourcePath) == sent.Opened) {
      std::string error;
      DifferingSectors(source, onDisc, sent.SourcePath, problem.Sectors, error);
    }
    report.Add(std::move(problem));
    return;
  }
  if (sent.ChangedWhileRead || StampOf(sent.SourcePath) != sent.Opened) {
    // A stamp alone may change without the bytes (a touch): the bytes decide.
    THash128 now;
    int64_t size = 0;
    std::string error;
    if (!HashLocalFile(sent.SourcePath, now, size, error) || size != sent.Size || now != sent.Hash) {
      report.Add({sent.DiscPath, TVerifyProblem::ChangedDuringBurn, {}, ""});
      return;
    }
  }
  ++report.FilesMatching;
}

}  // namespace

TVerifyReport VerifySentFiles(TSessionSource& source, int session, const TBurnRecord& record, const TLogLine& log) {
  TVerifyReport report;
  report.Session = session;
  const auto discFiles = SessionFiles(source, session, log, report.Error);
  if (!report.Error.empty()) return report;
  report.Ran = true;
  std::unordered_map<uint32_t, const TExtentFile*> byExtent;
  std::unordered_map<std::string, const TExtentFile*> byPath;
  for (const auto& [path, file] : discFiles) {
    if (file.Size > 0) byExtent.emplace(file.Extent, &file);
    byPath.emplace(path, &file);
  }
  std::vector<const TSentFile*> compared;
  std::vector<TExtentFile> extents;
  for (const TSentFile& sent : record.Files()) {
    const TExtentFile* onDisc = nullptr;
    if (sent.Size > 0) {
      const auto found = byExtent.find(sent.Extent);
      if (found != byExtent.end()) onDisc = found->second;
    } else {
      // An empty file has no extent: its name is all there is to find,
      // in the Joliet tree or, without one, the ISO 9660 tree.
      auto found = byPath.find(sent.DiscPath);
      if (found == byPath.end()) found = byPath.find(sent.IsoPath);
      if (found != byPath.end()) onDisc = found->second;
    }
    if (!onDisc || !sent.Sent) {
      report.Add({sent.DiscPath, TVerifyProblem::MissingOnDisc, {}, ""});
      continue;
    }
    if (onDisc->Size != sent.Size) {
      ++report.FilesChecked;
      report.Add({sent.DiscPath, TVerifyProblem::Differs, {}, fmt::format("{} bytes on the disc", onDisc->Size)});
      continue;
    }
    compared.push_back(&sent);
    extents.push_back(*onDisc);
  }
  const std::vector<TExtentHash> hashes = HashExtents(source, extents);
  for (size_t i = 0; i < compared.size(); ++i) JudgeSentFile(source, *compared[i], extents[i], hashes[i], report);
  report.Finish();
  return report;
}

TVerifyReport VerifySentImage(TSectorSource& source, const TBurnRecord& record) {
  TVerifyReport report;
  report.Ran = true;
  const uint32_t chunkSectors = static_cast<uint32_t>(record.ChunkBytes()) / kSector;
  const std::vector<TSentChunk>& chunks = record.Chunks();
  // Whole chunks per read, as near the verify's read size as they come.
  const size_t perRead = std::max<size_t>(1, kVerifyReadSectors / std::max<uint32_t>(1, chunkSectors));
  std::vector<uint8_t> disc(perRead * record.ChunkBytes()), image(static_cast<size_t>(record.ChunkBytes()));
  const int fd = ::open(record.ImagePath().c_str(), O_RDONLY | O_CLOEXEC);
  TFileProblem differs{record.ImagePath(), TVerifyProblem::Differs, {}, ""};
  TFileProblem unreadable{record.ImagePath(), TVerifyProblem::Unreadable, {}, ""};
  TFileProblem changed{record.ImagePath(), TVerifyProblem::ChangedDuringBurn, {}, ""};
  for (size_t first = 0; first < chunks.size(); first += perRead) {
    const size_t last = std::min(chunks.size(), first + perRead);
    uint32_t sectors = 0;
    for (size_t c = first; c < last; ++c) sectors += SectorsOf(chunks[c].Length);
    const uint32_t lba = record.ImageStart() + static_cast<uint32_t>(first) * chunkSectors;
    std::vector<TSectorRange> failed;
    ReadChunk(source, lba, sectors, disc.data(), failed, unreadable.Detail);
    for (const TSectorRange& r : failed) AddSectorRange(unreadable.Sectors, r);
    for (size_t c = first; c < last; ++c) {
      const uint8_t* bytes = disc.data() + (c - first) * static_cast<size_t>(record.ChunkBytes());
      const uint32_t chunkLba = lba + static_cast<uint32_t>(c - first) * chunkSectors;
      report.BytesChecked += chunks[c].Length;
      if (HashBytes(bytes, static_cast<size_t>(chunks[c].Length)) == chunks[c].Hash) continue;
      // Which sectors: from the image file, when it still holds what was sent.
      size_t got = 0;
      const bool imageRead = fd >= 0 && PreadFully(fd, image.data(), static_cast<size_t>(chunks[c].Length),
                                                    uint64_t{c} * static_cast<uint64_t>(record.ChunkBytes()), got);
      const TSectorRange whole{chunkLba, SectorsOf(chunks[c].Length)};
      if (!imageRead || got != static_cast<size_t>(chunks[c].Length) ||
          HashBytes(image.data(), got) != chunks[c].Hash) {
        AddSectorRange(changed.Sectors, whole);
        continue;
      }
      for (uint32_t i = 0; i < whole.Count; ++i) {
        const size_t at = static_cast<size_t>(i) * kSector;
        const size_t length = std::min<size_t>(kSector, got - at);
        if (std::memcmp(bytes + at, image.data() + at, length) != 0) AddSectorRange(differs.Sectors, {chunkLba + i, 1});
      }
    }
  }
  if (fd >= 0) ::close(fd);
  // Sectors that could not be read are counted there only.
  for (const TSectorRange& r : unreadable.Sectors) {
    std::vector<TSectorRange> rest;
    for (const TSectorRange& d : differs.Sectors)
      for (uint32_t s = d.First; s <= d.Last(); ++s)
        if (s < r.First || s > r.Last()) AddSectorRange(rest, {s, 1});
    differs.Sectors = rest;
  }
  if (!differs.Sectors.empty()) report.Add(differs);
  if (!unreadable.Sectors.empty()) report.Add(unreadable);
  if (!changed.Sectors.empty()) report.Add(changed);
  report.Finish();
  return report;
}

TVerifyReport VerifyAgainstLocal(TSessionSource& source, int session, const std::vector<TLocalFile>& locals,
                                 const TLogLine& log) {
  TVerifyReport report;
  report.Session = session;
  const auto discFiles = SessionFiles(source, session, log, report.Error);
  if (!report.Error.empty()) return report;
  report.Ran = true;
  std::map<std::string, TExtentFile> onDisc(discFiles.begin(), discFiles.end());
  // A session without a Joliet tree shows its ISO 9660 names, in upper case.
  std::map<std::string, std::string> byUpperCase;
  for (const auto& [path, file] : discFiles) byUpperCase.emplace(UpperCase(path), path);
  std::vector<const TLocalFile*> compared;
  std::vector<TExtentFile> extents;
  for (const TLocalFile& local : locals) {
    auto found = onDisc.find(local.DiscPath);
    if (found == onDisc.end()) {
      const auto upper = byUpperCase.find(UpperCase(local.DiscPath));
      if (upper != byUpperCase.end()) found = onDisc.find(upper->second);
    }
    if (found == onDisc.end()) {
      report.Add({local.DiscPath, TVerifyProblem::MissingOnDisc, {}, ""});
      continue;
    }
    compared.push_back(&local);
    extents.push_back(found->second);
    onDisc.erase(found);
  }
  for (const auto& [path, file] : onDisc) report.Add({path, TVerifyProblem::NotAmongSources, {}, ""});
  const std::vector<TExtentHash> hashes = HashExtents(source, extents);
  for (size_t i = 0; i < compared.size(); ++i) {
    ++report.FilesChecked;
    report.BytesChecked += extents[i].Size;
    const std::string& path = compared[i]->DiscPath;
    if (!hashes[i].Read) {
      report.Add({path, TVerifyProblem::Unreadable, hashes[i].Failed, hashes[i].Error});
      continue;
    }
    THash128 local;
    int64_t size = 0;
    std::string error;
    if (!HashLocalFile(compared[i]->LocalPath, local, size, error)) {
      report.Add({path, TVerifyProblem::Differs, {}, error});
      continue;
    }
    if (size == extents[i].Size && local == hashes[i].Hash) {
      ++report.FilesMatching;
      continue;
    }
    TFileProblem problem{path, TVerifyProblem::Differs, {}, ""};
    if (size != extents[i].Size) problem.Detail = fmt::format("{} bytes here, {} on the disc", size, extents[i].Size);
    else DifferingSectors(source, extents[i], compared[i]->LocalPath, problem.Sectors, error);
    report.Add(std::move(problem));
  }
  report.Finish();
  return report;
}

}  // namespace fornax
