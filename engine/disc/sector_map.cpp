#include "engine/disc/sector_map.h"

#include <fmt/format.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <map>
#include <set>
#include <tuple>
#include <unordered_map>
#include <utility>

#include "engine/base/bytes.h"
#include "engine/disc/directory_reader.h"
#include "engine/disc/volume_descriptors.h"
#include "engine/image/compilation.h"

namespace fornax {
namespace {

constexpr uint32_t kSector = 2048;
constexpr uint32_t kSystemAreaSectors = 16;
constexpr uint32_t kMostDescriptors = 32;
constexpr uint8_t kPrimary = 1, kSupplementary = 2, kTerminator = 255;

uint32_t SectorsOf(uint64_t bytes) {
  return static_cast<uint32_t>(std::min<uint64_t>((bytes + kSector - 1) / kSector, UINT32_MAX));
}

// A name of the disc as it is shown: a final dot that only marks "no
// extension" on the disc is dropped, as the other commands show it.
std::string ShownName(const std::string& name) {
  if (name.size() > 1 && name.back() == '.' && name != "..") return name.substr(0, name.size() - 1);
  return name;
}

std::string ChildPath(const std::string& parent, const std::string& name) {
  return (parent == "/" ? parent : parent + "/") + ShownName(name);
}

struct TTree {
  uint32_t Root = 0, Length = 0;
  bool Joliet = false;
};

// The owners one tree lays on the disc: its directories and its files.
// `known` holds the (sector, count) of files already named by another tree;
// they are not named again.
void TreeOwners(TSectorSource& source, const TTree& tree, TCompilation& scratch, const TLogLine& log, int session,
                std::set<std::pair<uint32_t, uint32_t>>& known, std::vector<TSectorOwner>& owners) {
  scratch.ClearCompilation(INT_MAX, 65535);
  TDirectoryReader reader(source, scratch, log, tree.Joliet);
  std::vector<std::pair<const TDEntry*, TSectorSpan>> directories;
  reader.OnDirectory = [&](const TDEntry* directory, uint32_t extent, uint32_t sectors) {
    directories.push_back({directory, TSectorSpan{extent, sectors}});
  };
  reader.Read(tree.Root, tree.Length, scratch.RootDirectory());

  std::unordered_map<const TDEntry*, std::string> paths{{scratch.RootDirectory(), "/"}};
  std::vector<const TDEntry*> pending{scratch.RootDirectory()};
  std::set<std::pair<uint32_t, uint32_t>> named;
  while (!pending.empty()) {
    const TDEntry* dir = pending.back();
    pending.pop_back();
    const std::string parent = paths[dir];
    for (const TFEntry* e = dir->FirstEntry; e; e = e->Next) {
      const std::string path = ChildPath(parent, e->LongName);
      if (e->IsDirectory()) {
        paths[e->Directory] = path;
        pending.push_back(e->Directory);
        continue;
      }
      if (!e->Imported || e->ISOSize <= 0) continue;
      const auto place =
          std::make_pair(static_cast<uint32_t>(e->ISOLocation), SectorsOf(static_cast<uint64_t>(e->ISOSize)));
      if (known.count(place)) continue;
      named.insert(place);
      owners.push_back(TSectorOwner{TOwnerKind::File, path, tree.Joliet, place.first, place.second, {session}});
    }
  }
  known.insert(named.begin(), named.end());
  for (const auto& [dir, range] : directories) {
    const auto found = paths.find(dir);
    owners.push_back(TSectorOwner{TOwnerKind::Directory,
                                  found != paths.end() ? found->second : "?",
                                  tree.Joliet,
                                  range.First,
                                  range.Count,
                                  {session}});
  }
}

// Ranges of owners sorted and merged: the sectors some owner holds.
std::vector<TSectorSpan> Covered(const std::vector<TSectorOwner>& owners) {
  std::vector<TSectorSpan> ranges;
  ranges.reserve(owners.size());
  for (const TSectorOwner& o : owners)
    if (o.Sectors > 0) ranges.push_back({o.First, o.Sectors});
  std::sort(ranges.begin(), ranges.end(), [](const auto& a, const auto& b) { return a.First < b.First; });
  std::vector<TSectorSpan> merged;
  for (const TSectorSpan& r : ranges) {
    if (!merged.empty() && r.First <= merged.back().End()) {
      const uint64_t end = std::max(merged.back().End(), r.End());
      merged.back().Count = static_cast<uint32_t>(end - merged.back().First);
    } else {
      merged.push_back(r);
    }
  }
  return merged;
}

std::string SessionsText(const std::vector<int>& sessions) {
  if (sessions.empty()) return "";
  std::string text = sessions.size() == 1 ? " (session " : " (sessions ";
  for (size_t i = 0; i < sessions.size(); ++i) text += (i ? ", " : "") + std::to_string(sessions[i]);
  return text + ")";
}

}  // namespace

void TSectorSet::Add(uint32_t first, uint64_t count) {
  count = std::min<uint64_t>(count, uint64_t{UINT32_MAX} + 1 - first);
  if (count == 0) return;
  uint64_t end = uint64_t{first} + count;
  // The first range that ends at or after `first` (touching counts).
  auto at = std::lower_bound(FRanges.begin(), FRanges.end(), first,
                             [](const TSectorSpan& r, uint32_t value) { return r.End() < value; });
  auto last = at;
  while (last != FRanges.end() && last->First <= end) {
    first = std::min(first, last->First);
    end = std::max(end, last->End());
    ++last;
  }
  // A set can hold every sector of 2^32; one range counts at most 2^32 - 1.
  const auto counted = static_cast<uint32_t>(std::min<uint64_t>(end - first, UINT32_MAX));
  at = FRanges.erase(at, last);
  FRanges.insert(at, TSectorSpan{first, counted});
}

uint64_t TSectorSet::Sectors() const {
  uint64_t total = 0;
  for (const TSectorSpan& r : FRanges) total += r.Count;
  return total;
}

bool TSectorSet::Contains(uint32_t sector) const { return !Within(sector, 1).empty(); }

std::vector<TSectorSpan> TSectorSet::Within(uint32_t first, uint64_t count) const {
  std::vector<TSectorSpan> out;
  const uint64_t end = uint64_t{first} + count;
  auto at = std::upper_bound(FRanges.begin(), FRanges.end(), first,
                             [](uint32_t value, const TSectorSpan& r) { return value < r.End(); });
  for (; at != FRanges.end() && at->First < end; ++at) {
    const uint64_t from = std::max<uint64_t>(at->First, first);
    const uint64_t to = std::min(at->End(), end);
    if (to > from) out.push_back({static_cast<uint32_t>(from), static_cast<uint32_t>(to - from)});
  }
  return out;
}

std::string SectorSpanText(const TSectorSpan& range) {
  if (range.Count <= 1) return std::to_string(range.First);
  return fmt::format("{}-{}", range.First, range.End() - 1);
}

std::string SectorSpansText(const std::vector<TSectorSpan>& ranges) {
  std::string text;
  for (const TSectorSpan& r : ranges) text += (text.empty() ? "" : ", ") + SectorSpanText(r);
  return text;
}

std::vector<TSectorOwner> SessionSectorOwners(TSessionSource& source, int session, TCompilation& scratch,
                                              const TLogLine& log) {
  std::vector<TSectorOwner> owners;
  uint32_t start = 0;
  if (!source.SessionStart(session, start)) return owners;

  // The descriptor set: where the trees and the path tables lie.
  std::vector<TTree> trees;
  TSectorSet tables;
  uint32_t descriptors = 0;
  alignas(16) uint8_t sector[kSector];
  for (uint32_t i = 0; i < kMostDescriptors; ++i) {
    std::memset(sector, 0, sizeof sector);
    if (!source.ReadSectors(start + kSystemAreaSectors + i, 1, sector) || !IsVolumeDescriptor(sector)) break;
    ++descriptors;
    if (sector[0] == kTerminator) break;
    if (sector[0] != kPrimary && sector[0] != kSupplementary) continue;
    trees.push_back(TTree{GetLe32(sector + 158), GetLe32(sector + 166), sector[0] == kSupplementary});
    const uint32_t tableSectors = SectorsOf(GetLe32(sector + 132));
    for (const uint32_t at :
         {GetLe32(sector + 140), GetLe32(sector + 144), GetBe32(sector + 148), GetBe32(sector + 152)})
      if (at != 0 && tableSectors > 0) tables.Add(at, tableSectors);
  }
  if (descriptors > 0)
    owners.push_back(
        TSectorOwner{TOwnerKind::Descriptors, "", true, start + kSystemAreaSectors, descriptors, {session}});
  for (const TSectorSpan& r : tables.Ranges())
    owners.push_back(TSectorOwner{TOwnerKind::PathTable, "", true, r.First, r.Count, {session}});

  // The Joliet tree first, so that its names are the ones given to files.
  std::stable_sort(trees.begin(), trees.end(), [](const TTree& a, const TTree& b) { return a.Joliet && !b.Joliet; });
  std::set<std::pair<uint32_t, uint32_t>> known;
  std::set<uint32_t> walked;
  for (const TTree& tree : trees) {
    if (!walked.insert(tree.Root).second) continue;  // two descriptors, one tree
    TreeOwners(source, tree, scratch, log, session, known, owners);
  }
  return owners;
}

void MergeOwners(std::vector<TSectorOwner>& into, const std::vector<TSectorOwner>& more) {
  using TKey = std::tuple<TOwnerKind, std::string, bool, uint32_t, uint32_t>;
  std::map<TKey, size_t> index;
  for (size_t i = 0; i < into.size(); ++i)
    index.emplace(TKey{into[i].Kind, into[i].Path, into[i].Joliet, into[i].First, into[i].Sectors}, i);
  for (const TSectorOwner& owner : more) {
    const auto found = index.find(TKey{owner.Kind, owner.Path, owner.Joliet, owner.First, owner.Sectors});
    if (found == index.end()) {
      index.emplace(TKey{owner.Kind, owner.Path, owner.Joliet, owner.First, owner.Sectors}, into.size());
      into.push_back(owner);
      continue;
    }
    std::vector<int>& sessions = into[found->second].Sessions;
    sessions.insert(sessions.end(), owner.Sessions.begin(), owner.Sessions.end());
    std::sort(sessions.begin(), sessions.end());
    sessions.erase(std::unique(sessions.begin(), sessions.end()), sessions.end());
  }
}

TSectorSet OwnedSectorsBelow(const std::vector<TSectorOwner>& owners, uint32_t limit) {
  TSectorSet set;
  for (const TSectorSpan& r : Covered(owners))
    if (r.First < limit) set.Add(r.First, std::min<uint64_t>(r.Count, limit - r.First));
  return set;
}

TDamageReport MapDamage(const std::vector<TSectorOwner>& owners, const TSectorSet& bad) {
  TDamageReport report;
  if (bad.Empty()) return report;
  for (const TSectorOwner& owner : owners) {
    std::vector<TSectorSpan> hits = bad.Within(owner.First, owner.Sectors);
    if (!hits.empty()) report.Owners.push_back(TDamagedOwner{&owner, std::move(hits)});
  }
  std::stable_sort(report.Owners.begin(), report.Owners.end(), [](const TDamagedOwner& a, const TDamagedOwner& b) {
    const auto key = [](const TDamagedOwner& d) {
      return std::make_tuple(d.Hits.front().First, d.Owner->Kind != TOwnerKind::File, d.Owner->Path);
    };
    return key(a) < key(b);
  });
  // What is left of each bad range once the covered ranges are taken out.
  const std::vector<TSectorSpan> covered = Covered(owners);
  for (const TSectorSpan& range : bad.Ranges()) {
    uint64_t at = range.First;
    auto c = std::upper_bound(covered.begin(), covered.end(), range.First,
                              [](uint32_t value, const TSectorSpan& r) { return value < r.End(); });
    for (; c != covered.end() && c->First < range.End(); ++c) {
      if (c->First > at) report.Unowned.push_back({static_cast<uint32_t>(at), static_cast<uint32_t>(c->First - at)});
      at = std::max<uint64_t>(at, c->End());
    }
    if (at < range.End())
      report.Unowned.push_back({static_cast<uint32_t>(at), static_cast<uint32_t>(range.End() - at)});
  }
  return report;
}

std::string OwnerText(const TSectorOwner& owner, bool sessions) {
  std::string text;
  switch (owner.Kind) {
    case TOwnerKind::File:
      text = owner.Path;
      break;
    case TOwnerKind::Directory:
      text = fmt::format("the directory {} ({} tree)", owner.Path, owner.Joliet ? "Joliet" : "ISO 9660");
      break;
    case TOwnerKind::Descriptors:
      text = "the volume descriptors";
      break;
    case TOwnerKind::PathTable:
      text = "the path tables";
      break;
  }
  return sessions ? text + SessionsText(owner.Sessions) : text;
}

std::vector<std::string> DamageLines(const TDamageReport& report, bool sessions) {
  std::vector<std::string> lines;
  for (const TDamagedOwner& d : report.Owners) {
    uint64_t hit = 0;
    for (const TSectorSpan& r : d.Hits) hit += r.Count;
    lines.push_back(fmt::format("{}: {} of its {} sector{} ({})", OwnerText(*d.Owner, sessions), hit, d.Owner->Sectors,
                                d.Owner->Sectors == 1 ? "" : "s", SectorSpansText(d.Hits)));
  }
  if (!report.Unowned.empty())
    lines.push_back("in no file or directory the file systems show: " + SectorSpansText(report.Unowned));
  return lines;
}

}  // namespace fornax
