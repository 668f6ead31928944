#include "engine/pipeline/burn_record.h"

#include <sys/stat.h>

#include "engine/image/compilation.h"

namespace fornax {
namespace {

TSourceStamp FromStat(const struct stat& st) {
  return TSourceStamp{static_cast<int64_t>(st.st_size),
                      static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

// A final dot that only marks "no extension" is not shown, as `ls` shows names.
std::string ShownName(const TFEntry& entry, bool iso) {
  const std::string& name = iso ? entry.ShortName : entry.LongName;
  if (name.size() > 1 && name.back() == '.' && name != "..") return name.substr(0, name.size() - 1);
  return name;
}

}  // namespace

TSourceStamp StampOf(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return TSourceStamp{};
  return FromStat(st);
}

TSourceStamp StampOfOpen(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return TSourceStamp{};
  return FromStat(st);
}

std::string CompilationPath(const TFEntry& entry, bool iso) {
  std::string path = "/" + ShownName(entry, iso);
  for (const TDEntry* dir = entry.Owner; dir && dir->Parent != dir && dir->Self; dir = dir->Parent)
    path = "/" + ShownName(*dir->Self, iso) + path;
  return path;
}

void TBurnRecord::Clear() {
  FFiles.clear();
  FByEntry.clear();
  FChunks.clear();
  FImagePath.clear();
  FImageStart = 0;
  FChunkBytes = 0;
  FKept = false;
}

void TBurnRecord::Plan(const TCompilation& compilation, int32_t firstFileLocation) {
  Clear();
  FKept = true;
  compilation.Files().ForEach([&](const TFEntry* e) {
    if (e->IsDirectory() || (e->Attributes & 0x10) || e->Imported || e->SourcePath().empty()) return;
    TSentFile file;
    file.DiscPath = CompilationPath(*e);
    file.IsoPath = CompilationPath(*e, true);
    file.SourcePath = e->SourcePath();
    file.Size = e->ISOSize;
    file.Extent = e->ISOSize > 0 ? static_cast<uint32_t>(firstFileLocation + e->ISOLocation) : 0;
    if (e->ISOSize == 0) {
      file.Hash = HashBytes(nullptr, 0);
      file.Sent = true;
      file.Opened = StampOf(e->SourcePath());
    }
    FByEntry[e] = static_cast<int>(FFiles.size());
    FFiles.push_back(std::move(file));
  });
}

void TBurnRecord::PlanImage(const std::string& path, uint32_t start, int chunkBytes) {
  Clear();
  FKept = true;
  FImagePath = path;
  FImageStart = start;
  FChunkBytes = chunkBytes;
}

int TBurnRecord::IndexOf(const TFEntry* entry) const {
  const auto found = FByEntry.find(entry);
  return found == FByEntry.end() ? -1 : found->second;
}

}  // namespace fornax
