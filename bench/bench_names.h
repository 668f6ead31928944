#pragma once
// Names the benchmarks give their files and folders: a mix of what real
// collections hold — camera names, office documents with spaces, names that
// already are 8.3, accented names, and long names only the Joliet tree keeps
// in full. Every name carries a running number, so names never repeat within
// one folder.

#include <cstdint>
#include <cstdio>
#include <string>

namespace fornax::bench {

// Name of the n-th file; at most 90 characters, so every one fits both trees.
inline std::string FileName(uint64_t n) {
  char text[160];
  const unsigned long long k = n;
  switch (n % 8) {
    case 0: std::snprintf(text, sizeof text, "IMG_%05llu.JPG", k); break;
    case 1: std::snprintf(text, sizeof text, "Report %llu - final version.docx", k); break;
    case 2: std::snprintf(text, sizeof text, "n%llu.txt", k % 10000000); break;  // already 8.3
    case 3: std::snprintf(text, sizeof text, "\xC3\x9C" "bersicht der Ausgaben %llu.pdf", k); break;
    case 4:
      std::snprintf(text, sizeof text,
                    "A rather long file name that only the Joliet tree keeps in full, number %llu.txt", k);
      break;
    case 5: std::snprintf(text, sizeof text, "backup.%llu.tar.gz", k); break;
    case 6: std::snprintf(text, sizeof text, "%08llu.BIN", k % 100000000); break;  // already 8.3
    default: std::snprintf(text, sizeof text, "track %02llu - caf\xC3\xA9 session.flac", k); break;
  }
  return text;
}

// Name of the n-th folder.
inline std::string FolderName(uint64_t n) {
  char text[160];
  const unsigned long long k = n;
  switch (n % 5) {
    case 0: std::snprintf(text, sizeof text, "Folder %llu", k); break;
    case 1: std::snprintf(text, sizeof text, "src%llu", k % 100000); break;  // already 8.3
    case 2: std::snprintf(text, sizeof text, "Projects-%llu", k); break;
    case 3: std::snprintf(text, sizeof text, "\xC3\x84nderungen %llu", k); break;
    default:
      std::snprintf(text, sizeof text, "a fairly long folder name for the Joliet tree %llu", k);
      break;
  }
  return text;
}

// Small, fast and reproducible; good enough for sizes and file contents.
class TXorShift {
 public:
  explicit TXorShift(uint64_t seed) : FState(seed ? seed : 0x9E3779B97F4A7C15ULL) {}
  uint64_t Next() {
    FState ^= FState << 13;
    FState ^= FState >> 7;
    FState ^= FState << 17;
    return FState;
  }
  // Uniform enough in [low, high].
  uint64_t Between(uint64_t low, uint64_t high) { return low + Next() % (high - low + 1); }

 private:
  uint64_t FState;
};

}  // namespace fornax::bench
