#pragma once
// A 128-bit content hash (XXH3-128) of a byte stream fed in pieces: what a
// burn sent for a file, what the disc gives back, what a local file holds.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace fornax {

struct THash128 {
  uint64_t High = 0;
  uint64_t Low = 0;
  bool operator==(const THash128& other) const { return High == other.High && Low == other.Low; }
  bool operator!=(const THash128& other) const { return !(*this == other); }
  std::string Hex() const;
};

// The hash of a whole buffer.
THash128 HashBytes(const uint8_t* bytes, size_t count);

class TContentHash {
 public:
  TContentHash();
  ~TContentHash();
  TContentHash(TContentHash&&) noexcept;
  TContentHash& operator=(TContentHash&&) noexcept;
  TContentHash(const TContentHash&) = delete;
  TContentHash& operator=(const TContentHash&) = delete;

  void Update(const uint8_t* bytes, size_t count);
  // `count` zero bytes, as a stream pads what a source could not give.
  void UpdateZeros(size_t count);
  THash128 Digest() const;
  int64_t Bytes() const { return FBytes; }

 private:
  struct TState;
  std::unique_ptr<TState> FState;
  int64_t FBytes = 0;
};

// Hashes a local file from its start; false with `error` set when it cannot
// be opened or read to its end.
bool HashLocalFile(const std::string& path, THash128& hash, int64_t& size, std::string& error);

}  // namespace fornax
