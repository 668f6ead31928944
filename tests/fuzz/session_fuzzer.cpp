// Fuzz target for the readers of existing discs. The input is a disc image,
// sector after sector; everything in it is untrusted, as a disc in a drive is.
//
// Each input:
//  1. becomes a TMemorySource (padded to a whole sector, at most kMaxImageBytes).
//     Session 1 starts at sector 0. When sector 16 holds a volume descriptor
//     whose volume size ends inside the image, a second session starts there,
//     the way the sessions of a multisession image follow one another (or
//     wherever that size says, with the switch below);
//  2. is imported, last session (255), into a fresh compilation, Joliet tree
//     first and ISO 9660 as the fallback; an import may read each directory
//     sector once only, so that no disc can make it take time out of
//     proportion to its size;
//  3. the compilation is walked and checked: every name from the disc must be
//     safe to use as a local file name and be UTF-8, and the tree's links must
//     hold together;
//  4. a few imported files are extracted into a scratch folder of this
//     process, and must come out byte for byte as they lie in the image (or
//     leave nothing behind when the read fails); then the whole session is
//     extracted as the user's extract command does it, into a fresh folder
//     deep inside a sandbox, and judged by its effects: nothing outside that
//     folder may appear or change, and inside it there may be only plain
//     files and folders, with no mode bit beyond the permission bits;
//  5. the pure record parsers run on the system area (sectors 1 to 15), which
//     the importer never reads, so the fuzzer has room there for records and
//     identifiers of any shape.
//
// The first three bytes of sector 0 (also system area) are switches:
//   byte 0 bit 0  the host replaces files of the same name
//          bit 1  the host keeps the last folder only
//          bit 2  with two sessions, session 1 is also imported, into a folder
//          bit 3  the last session is imported a second time, over the first
//          bit 4  the second session starts at that volume size wherever it
//                 lies, beyond the image or where sector numbers wrap around
//          bit 5  the host records Rock Ridge: the ISO 9660 tree is read with
//                 its Rock Ridge entries (names, modes, links, continuations)
//   byte 1        a ceiling on the compilation's files (0: the usual 65535)
//   byte 2        a ceiling on its directories (0: the usual 8191)
//   bytes 4-9     the recorded area, as a drive tells it: a gap of sectors
//                 (start at bytes 4-5, length at 6-7, little-endian) that
//                 holds no data, and the start of the session about to be
//                 written (bytes 8-9; 0: none). All zero: the whole image.
// Images made by the usual tools have zeros there: the usual settings.
//
// With FORNAX_FUZZ_VERBOSE=1 in the environment, the log lines and the
// imported tree are printed to stderr (to check a seed or a finding).

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "engine/base/bytes.h"
#include "engine/disc/directory_reader.h"
#include "engine/disc/disc_records.h"
#include "engine/disc/sector_source.h"
#include "engine/disc/extraction.h"
#include "engine/disc/extraction_folder.h"
#include "engine/disc/session_import.h"
#include "engine/image/compilation.h"
#include "engine/image/entries.h"
#include "engine/image/rock_ridge.h"
#include "tests/unit/support/folder_snapshot.h"

namespace {

using namespace fornax;

constexpr size_t kSector = 2048;
constexpr size_t kMaxImageBytes = 4u << 20;  // 2048 sectors
constexpr int kMaxExtractedFiles = 4;
constexpr int64_t kMaxExtractedBytes = 2 << 20;
// What a tree extraction may make at most, so that an input of many entries
// pointing at the same megabytes stays fast.
constexpr int kMaxTreeEntries = 256;
constexpr int64_t kMaxTreeBytes = 4 << 20;

bool Verbose() {
  static const bool verbose = [] {
    const char* v = std::getenv("FORNAX_FUZZ_VERBOSE");
    return v && *v && *v != '0';
  }();
  return verbose;
}

// A broken promise of the readers: reported like a crash, with the input.
[[noreturn]] void Broken(const char* what, const std::string& detail = "") {
  std::fprintf(stderr, "session_fuzzer: %s%s%s\n", what, detail.empty() ? "" : ": ", detail.c_str());
  std::abort();
}

class TFuzzHost : public TCompilationHost {
 public:
  bool Replaces = false;
  bool LastFolderOnly = false;
  bool RockRidge = false;
  size_t Reported = 0;

  void Report(const std::string& Message, uint8_t) override { Reported += Message.size(); }
  void AddingFile(const std::string&, std::string& LongFileName, std::string& ShortFileName, TDateTime&, int,
                  int64_t, bool&) override {
    Reported += LongFileName.size() + ShortFileName.size();
  }
  void AddingDirectory(std::string& LongName, std::string& ShortName, bool&) override {
    Reported += LongName.size() + ShortName.size();
  }
  bool ReplacesFiles() const override { return Replaces; }
  bool KeepsLastFolderOnly() const override { return LastFolderOnly; }
  bool RecordsRockRidge() const override { return RockRidge; }
};

// This process's scratch folder for extracted files, removed at exit. Only
// names that this file makes are ever created in it.
const std::string& ScratchFolder() {
  static const std::string folder = [] {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/fornax-fuzz-XXXXXX";
    std::vector<char> path(pattern.begin(), pattern.end());
    path.push_back('\0');
    if (!::mkdtemp(path.data())) Broken("cannot make the scratch folder", pattern);
    std::string made(path.data());
    static std::string removeAtExit;
    removeAtExit = made;
    std::atexit([] { ::rmdir(removeAtExit.c_str()); });
    return made;
  }();
  return folder;
}

bool ValidUtf8(const std::string& s) {
  size_t i = 0;
  while (i < s.size()) {
    const auto b = static_cast<unsigned char>(s[i]);
    size_t extra = 0;
    uint32_t c = 0;
    if (b < 0x80) {
      ++i;
      continue;
    } else if (b >= 0xC2 && b <= 0xDF) {
      extra = 1, c = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
      extra = 2, c = b & 0x0F;
    } else if (b >= 0xF0 && b <= 0xF4) {
      extra = 3, c = b & 0x07;
    } else {
      return false;
    }
    if (i + extra >= s.size()) return false;
    for (size_t k = 1; k <= extra; ++k) {
      const auto t = static_cast<unsigned char>(s[i + k]);
      if ((t & 0xC0) != 0x80) return false;
      c = (c << 6) | (t & 0x3F);
    }
    if ((extra == 2 && c < 0x800) || (extra == 3 && c < 0x10000) || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF)
      return false;
    i += extra + 1;
  }
  return true;
}

// What SafeName promises, and what the compilation keeps of it.
void CheckSafe(const std::string& name, const char* where) {
  if (name.empty()) Broken("empty name", where);
  if (name == "." || name == "..") Broken("dot name", where);
  for (const char c : name) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '/' || c == '\\' || u < 0x20 || u == 0x7F) Broken("unsafe character in a name", where);
  }
  if (!ValidUtf8(name)) Broken("name is not UTF-8", where);
}

// The compilation's tree, from the root: links, owners and names. Returns the
// entries reached; files that lie on the disc go to `imported`.
size_t WalkTree(const TCompilation& compilation, const TDEntry* dir, int depth, std::set<const TDEntry*>& seen,
                std::vector<const TFEntry*>& imported) {
  if (depth > kMaxDirectoryDepth + 2) Broken("tree deeper than the reader allows");
  if (!seen.insert(dir).second) Broken("a directory reached twice in the tree");
  size_t entries = 0;
  const TFEntry* previous = nullptr;
  for (const TFEntry* e = dir->FirstEntry; e; e = e->Next) {
    if (++entries > static_cast<size_t>(compilation.FileCount())) Broken("entry list longer than the file table");
    if (e->Owner != dir) Broken("entry owned by another directory");
    if (e->Prev != previous) Broken("broken back link");
    previous = e;
    CheckSafe(e->LongName, "entry");
    if (Verbose())
      std::fprintf(stderr, "  %*s%s%s  %lld bytes at %d\n", depth * 2, "", e->LongName.c_str(), e->Directory ? "/" : "",
                   static_cast<long long>(e->ISOSize), e->ISOLocation);
    if (e->Directory) {
      if (e->Directory->Parent != dir || e->Directory->Self != e) Broken("subdirectory links");
      entries += WalkTree(compilation, e->Directory, depth + 1, seen, imported);
    } else {
      if (e->ISOSize < 0) Broken("negative file size");
      if (e->Imported) imported.push_back(e);
      else if (e->ISOSize != 0) Broken("a file with data that is not on the disc");
    }
  }
  if (dir->LastEntry != previous) Broken("last entry link");
  return entries;
}

std::string ReadBack(const std::string& path) {
  std::string out;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) Broken("extracted file cannot be opened", path);
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) Broken("extracted file cannot be read", path);
    if (n == 0) break;
    out.append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  return out;
}

void ExtractSome(TMemorySource& source, const std::vector<uint8_t>& image, const std::vector<const TFEntry*>& files,
                 const TLogLine& log) {
  int extracted = 0;
  int64_t bytes = 0;
  for (const TFEntry* e : files) {
    if (extracted >= kMaxExtractedFiles || bytes + e->ISOSize > kMaxExtractedBytes) break;
    ++extracted;
    bytes += e->ISOSize;
    const std::string destination = ScratchFolder() + "/extract-" + std::to_string(extracted);
    std::string error;
    const bool ok = ExtractFileTo(source, *e, destination, log, error);
    const uint64_t begin = static_cast<uint64_t>(static_cast<uint32_t>(e->ISOLocation)) * kSector;
    const uint64_t end = begin + static_cast<uint64_t>(e->ISOSize);
    // The reader only takes files whose sectors lie on the disc.
    const uint64_t sectorsEnd = begin + (static_cast<uint64_t>(e->ISOSize) + kSector - 1) / kSector * kSector;
    const bool inside = sectorsEnd <= image.size();
    if (ok) {
      if (!inside) Broken("extracted a file that does not lie on the disc");
      const std::string got = ReadBack(destination);
      if (got.size() != static_cast<size_t>(e->ISOSize) ||
          (end > begin && std::memcmp(got.data(), image.data() + begin, got.size()) != 0))
        Broken("extracted file differs from the disc", e->LongName);
      ::unlink(destination.c_str());
    } else {
      if (inside) Broken("a file on the disc failed to extract", error);
      struct stat st {};
      if (::stat(destination.c_str(), &st) == 0) Broken("a failed extraction left a file behind");
      if (error.empty()) Broken("a failed extraction gave no reason");
    }
  }
}

// A sandbox with the user's files that a climbing name would reach: the
// extraction goes to sandbox/l1/l2/l3/OUT, made afresh for each input.
struct TSandbox {
  std::string Root, Destination;
  test::TFolderSnapshot Outside;
};

const TSandbox& Sandbox() {
  static const TSandbox sandbox = [] {
    TSandbox made;
    made.Root = ScratchFolder() + "/sandbox";
    made.Destination = made.Root + "/l1/l2/l3/OUT";
    for (const std::string folder : {"", "/victim", "/l1", "/l1/l2", "/l1/l2/l3"})
      if (::mkdir((made.Root + folder).c_str(), 0755) != 0 && errno != EEXIST) Broken("cannot make the sandbox");
    for (const std::string file : {"/victim/target.txt", "/l1/l2/target.txt", "/outside.txt"}) {
      const int fd = ::open((made.Root + file).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
      if (fd < 0 || ::write(fd, "the user's", 10) != 10) Broken("cannot fill the sandbox");
      ::close(fd);
    }
    if (::symlink("/", (made.Root + "/l1/l2/l3/up").c_str()) != 0 && errno != EEXIST) Broken("sandbox link");
    made.Outside = test::SnapshotFolder(made.Root, "l1/l2/l3/OUT");
    static std::string removeAtExit;
    removeAtExit = made.Root;
    std::atexit([] { std::filesystem::remove_all(removeAtExit); });
    return made;
  }();
  return sandbox;
}

// Only plain files and folders, with permission bits alone, below `path`.
void CheckExtracted(const std::string& path) {
  for (const auto& [relative, what] : test::SnapshotFolder(path)) {
    struct stat st {};
    if (::lstat((path + "/" + relative).c_str(), &st) != 0) Broken("an extracted entry vanished", relative);
    if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) Broken("extraction made something else than a file", relative);
    if ((st.st_mode & 07000) != 0) Broken("extraction applied a mode bit beyond the permissions", relative);
  }
}

// The whole session, as `fornax-cli extract / DEST` extracts it.
void ExtractTreeInSandbox(TMemorySource& source, const TCompilation& compilation, const TLogLine& log) {
  const TSandbox& sandbox = Sandbox();
  std::string error;
  const TExtractionFolder folder = TExtractionFolder::OpenDestination(sandbox.Destination, error);
  if (!folder.Opened()) Broken("cannot make the destination", error);
  TTreeExtraction result;
  int entries = 0;
  int64_t bytes = 0;
  result.BeforeEntry = [&](const TFEntry& e) {
    bytes += e.ISOSize;
    return ++entries <= kMaxTreeEntries && bytes <= kMaxTreeBytes;
  };
  ExtractTree(source, *compilation.RootDirectory(), folder, log, result);
  if (test::SnapshotFolder(sandbox.Root, "l1/l2/l3/OUT") != sandbox.Outside)
    Broken("extraction changed something outside its folder");
  CheckExtracted(sandbox.Destination);
  std::error_code ignored;
  std::filesystem::remove_all(sandbox.Destination, ignored);
}

// The recorded area the switch bytes describe (see the top of this file).
TRecordedArea AreaOf(const std::vector<uint8_t>& image, uint32_t sectors) {
  const uint32_t gapStart = GetLe16(image.data() + 4), gapLength = GetLe16(image.data() + 6);
  const uint32_t newSession = GetLe16(image.data() + 8);
  TRecordedArea area = TRecordedArea::UpTo(0);
  area.Add(0, std::min(gapStart, sectors));
  area.Add(std::min(gapStart + gapLength, sectors), sectors);
  if (newSession != 0) area.SetNewSessionStart(newSession);
  return area;
}

// What an import keeps: every file's sectors inside the recorded area and
// before the new session; every mode of one of the seven file types, that of
// its record; every device's numbers such that a new session tells them.
void CheckImported(const std::vector<const TFEntry*>& imported, const TRecordedArea& area) {
  for (const TFEntry* e : imported) {
    const uint64_t sectors = (static_cast<uint64_t>(e->ISOSize) + kSector - 1) / kSector;
    if (sectors > 0 && area.Place(static_cast<uint32_t>(e->ISOLocation), sectors) != TRecordedArea::TPlace::Inside)
      Broken("an imported file lies outside the recorded area", e->LongName);
  }
}

void CheckModes(const TDEntry* dir) {
  for (const TFEntry* e = dir->FirstEntry; e; e = e->Next) {
    if (e->Posix) {
      const uint32_t type = e->Posix.Mode & 0170000;
      static const uint32_t kTypes[] = {0010000, 0020000, 0040000, 0060000, 0100000, 0120000, 0140000};
      if (std::find(std::begin(kTypes), std::end(kTypes), type) == std::end(kTypes))
        Broken("an imported mode of no file type", e->LongName);
      if ((type == 0040000) != e->IsDirectory()) Broken("an imported mode that its record contradicts", e->LongName);
      if (e->Posix.IsDevice() && !PnTellsDevice(e->Posix.DeviceMajor(), e->Posix.DeviceMinor()))
        Broken("an imported device whose numbers a new session cannot tell", e->LongName);
    }
    if (e->Directory) CheckModes(e->Directory);
  }
}

// The record parsers straight on the system area, where nothing else looks:
// every record found, and after a malformed one the next byte, as a resync.
void ParseSystemArea(const std::vector<uint8_t>& image) {
  const size_t sectors = std::min<size_t>(image.size() / kSector, 16);
  for (size_t s = 1; s < sectors; ++s) {
    const uint8_t* sector = image.data() + s * kSector;
    size_t position = 0;
    while (position < kSector) {
      TDiscRecord record;
      const TRecordRead read = ReadDiscRecord(sector, position, record);
      if (read != TRecordRead::Record) {
        ++position;
        continue;
      }
      if (record.Length < 34 || position + record.Length > kSector || record.Identifier.empty() ||
          33 + record.Identifier.size() > record.Length)
        Broken("record parsed past its bounds");
      position += record.Length;
      bool changed = false;
      for (const std::string& name : {JolietName(record.Identifier), IsoName(record.Identifier)}) {
        const std::string safe = SafeName(name, changed);
        CheckSafe(safe, "SafeName");
        if (!changed && safe != name) Broken("SafeName changed a name and said not");
      }
      if (!ValidUtf8(JolietName(record.Identifier))) Broken("Joliet name is not UTF-8");
      int64_t seconds = 0;
      RecordDateToUnix(record.Date, seconds);
    }
    // Identifiers of every length that no record would allow, and dates made
    // of any seven bytes.
    const std::string raw(reinterpret_cast<const char*>(sector), sector[0] + 1u);
    bool changed = false;
    CheckSafe(SafeName(JolietName(raw), changed), "SafeName of a raw Joliet identifier");
    CheckSafe(SafeName(IsoName(raw), changed), "SafeName of a raw identifier");
    CheckSafe(SafeName(std::string(reinterpret_cast<const char*>(sector + 1), sector[0]), changed),
              "SafeName of raw bytes");
    int64_t seconds = 0;
    for (size_t at = 0; at + 7 <= 64; at += 7) RecordDateToUnix(sector + at, seconds);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Dates read as local time: the same in every run.
  ::setenv("TZ", "UTC", 1);
  ::tzset();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  size = std::min(size, kMaxImageBytes);
  std::vector<uint8_t> image(data, data + size);
  image.resize((size + kSector - 1) / kSector * kSector, 0);
  const uint32_t sectors = static_cast<uint32_t>(image.size() / kSector);

  const uint8_t switches = image[0];
  TFuzzHost host;
  host.Replaces = (switches & 1) != 0;
  host.LastFolderOnly = (switches & 2) != 0;
  host.RockRidge = (switches & 32) != 0;
  const int maxFiles = image.size() > 1 && image[1] ? image[1] : 65535;
  const int maxDirs = image.size() > 2 && image[2] ? image[2] : 8191;

  std::vector<uint32_t> starts{0};
  if (sectors > 16) {
    const uint8_t* descriptor = image.data() + 16 * kSector;
    if (std::memcmp(descriptor + 1, "CD001", 5) == 0) {
      const uint32_t volume = GetLe32(descriptor + 80);
      if ((volume > 16 && volume < sectors) || (switches & 16)) starts.push_back(volume);
    }
  }

  size_t logged = 0;
  const TLogLine log = [&logged](const std::string& message, uint8_t) {
    logged += message.size();
    if (Verbose()) std::fprintf(stderr, "log: %s\n", message.c_str());
  };
  if (Verbose()) {
    std::fprintf(stderr, "%u sectors, sessions at", sectors);
    for (const uint32_t s : starts) std::fprintf(stderr, " %u", s);
    std::fprintf(stderr, "\n");
  }

  TCompilation compilation(host);
  compilation.ClearCompilation(maxFiles, maxDirs);
  {
    TMemorySource source(image, starts);
    source.SetRecordedArea(AreaOf(image, sectors));
    // An import reads each directory sector once at most, besides the
    // passes over the descriptors (three with Rock Ridge, which looks for its
    // tree first) and, with Rock Ridge, the continuation areas of each record
    // (at most 32 hops for each of the records the disc can hold): however
    // the records point into each other, its work grows with the disc, never
    // with the square of it.
    const size_t recordsAtMost = static_cast<size_t>(sectors) * (kSector / 34);
    const size_t readsAtMost =
        host.RockRidge ? sectors + 3 * 21 + 32 * recordsAtMost : sectors + 2 * 21;
    const auto import = [&](int session, TDEntry* target) {
      const size_t before = source.Reads.size();
      ImportSession(source, compilation, session, target, log);
      const size_t reads = source.Reads.size() - before;
      if (reads > readsAtMost) Broken("an import read sectors more than once", std::to_string(reads) + " reads");
    };
    import(255, nullptr);
    if ((switches & 4) && starts.size() > 1) {
      TDEntry* older = compilation.AddDirectoryByName(compilation.RootDirectory(), "older session", 0x10);
      if (older) import(1, older);
    }
    if (switches & 8) import(255, nullptr);

    std::set<const TDEntry*> seen;
    std::vector<const TFEntry*> imported;
    const size_t entries = WalkTree(compilation, compilation.RootDirectory(), 0, seen, imported);
    if (entries != static_cast<size_t>(compilation.FileCount())) Broken("entries outside the tree");
    if (seen.size() != static_cast<size_t>(compilation.DirectoryCount()) + 1) Broken("directories outside the tree");
    if (compilation.FileCount() > compilation.MaxFiles()) Broken("more files than the ceiling");
    CheckImported(imported, source.RecordedArea());
    CheckModes(compilation.RootDirectory());
    ExtractSome(source, image, imported, log);
    ExtractTreeInSandbox(source, compilation, log);
  }

  ParseSystemArea(image);
  return 0;
}
