#pragma once
// Small discs made sector by sector for the readers' tests: descriptors,
// directories of hand-made records, file data.

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "engine/base/bytes.h"
#include "engine/image/iso_names.h"
#include "engine/image/iso_records.h"

namespace fornax::test {

class TCraftedDisc {
 public:
  explicit TCraftedDisc(uint32_t sectors) : FBytes(static_cast<size_t>(sectors) * 2048, 0) {}

  uint8_t* Sector(uint32_t n) { return FBytes.data() + static_cast<size_t>(n) * 2048; }
  std::vector<uint8_t> Bytes() const { return FBytes; }

  // A volume descriptor (1 primary, 2 Joliet, 255 terminator) whose root
  // directory lies at `root`, `rootLength` bytes.
  void Descriptor(uint32_t at, uint8_t type, uint32_t root = 0, uint32_t rootLength = 2048) {
    uint8_t* s = Sector(at);
    s[0] = type;
    std::memcpy(s + 1, "CD001", 5);
    s[6] = 1;
    if (type == 255) return;
    if (type == 2) std::memcpy(s + 88, "\x25\x2F\x40", 3);
    PutBoth32(s + 80, static_cast<uint32_t>(FBytes.size() / 2048));
    s[156] = 34;
    PutBoth32(s + 158, root);
    PutBoth32(s + 166, rootLength);
    s[181] = 2;
    s[188] = 1;
  }

  // Appends a record to the directory sector being filled, with Rock Ridge
  // entries when `systemUse` holds some.
  void Record(uint32_t sector, const std::string& identifier, uint32_t extent, uint32_t length, uint8_t flags,
              std::vector<uint8_t> systemUse = {}) {
    TDirectoryRecord r;
    if (systemUse.size() % 2 != 0) systemUse.push_back(0);
    r.SystemUse = std::move(systemUse);
    r.Extent = extent;
    r.DataLength = length;
    r.Date = 45000.5;  // 2023-03-15 12:00:00
    r.Flags = flags;
    r.Identifier = identifier;
    std::vector<uint8_t> bytes;
    AppendDirectoryRecord(bytes, r);
    size_t& used = FUsed[sector];
    std::memcpy(Sector(sector) + used, bytes.data(), bytes.size());
    used += bytes.size();
  }
  // "." and ".." of a directory at `sector` whose parent is at `parent`; the
  // "." record may carry system use (a root's SP entry).
  void Dots(uint32_t sector, uint32_t parent, std::vector<uint8_t> selfUse = {}) {
    Record(sector, std::string(1, '\0'), sector, 2048, 2, std::move(selfUse));
    Record(sector, std::string(1, '\1'), parent, 2048, 2);
  }
  void Fill(uint32_t sector, char byte, size_t count) { std::memset(Sector(sector), byte, count); }
  // A record that claims `idLength` identifier bytes within `length` bytes.
  void BadRecord(uint32_t sector, uint8_t length, uint8_t idLength) {
    size_t& used = FUsed[sector];
    Sector(sector)[used] = length;
    Sector(sector)[used + 32] = idLength;
    used += length;
  }

 private:
  std::vector<uint8_t> FBytes;
  std::vector<size_t> FUsed = std::vector<size_t>(4096, 0);
};

}  // namespace fornax::test
