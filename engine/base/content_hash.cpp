#include "engine/base/content_hash.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fmt/format.h>
#include <vector>

// The hash functions compiled in here from the library's header: the
// statically linked programs that run in the test VM need no libxxhash.a.
#define XXH_INLINE_ALL
#include <xxhash.h>

namespace fornax {
namespace {

constexpr size_t kLocalReadBytes = 1 << 20;

THash128 FromXxh(const XXH128_hash_t& h) { return THash128{h.high64, h.low64}; }

}  // namespace

std::string THash128::Hex() const { return fmt::format("{:016x}{:016x}", High, Low); }

THash128 HashBytes(const uint8_t* bytes, size_t count) { return FromXxh(XXH3_128bits(bytes, count)); }

struct TContentHash::TState {
  XXH3_state_t* Xxh = XXH3_createState();
  TState() { XXH3_128bits_reset(Xxh); }
  ~TState() { XXH3_freeState(Xxh); }
};

TContentHash::TContentHash() : FState(std::make_unique<TState>()) {}
TContentHash::~TContentHash() = default;
TContentHash::TContentHash(TContentHash&&) noexcept = default;
TContentHash& TContentHash::operator=(TContentHash&&) noexcept = default;

void TContentHash::Update(const uint8_t* bytes, size_t count) {
  XXH3_128bits_update(FState->Xxh, bytes, count);
  FBytes += static_cast<int64_t>(count);
}

void TContentHash::UpdateZeros(size_t count) {
  static const uint8_t kZeros[4096] = {};
  while (count > 0) {
    const size_t piece = std::min(count, sizeof kZeros);
    Update(kZeros, piece);
    count -= piece;
  }
}

THash128 TContentHash::Digest() const { return FromXxh(XXH3_128bits_digest(FState->Xxh)); }

bool HashLocalFile(const std::string& path, THash128& hash, int64_t& size, std::string& error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = fmt::format("cannot open \"{}\": {}", path, std::strerror(errno));
    return false;
  }
  TContentHash content;
  std::vector<uint8_t> buffer(kLocalReadBytes);
  bool ok = true;
  for (;;) {
    const ssize_t n = ::read(fd, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = fmt::format("cannot read \"{}\": {}", path, std::strerror(errno));
      ok = false;
      break;
    }
    if (n == 0) break;
    content.Update(buffer.data(), static_cast<size_t>(n));
  }
  ::close(fd);
  hash = content.Digest();
  size = content.Bytes();
  return ok;
}

}  // namespace fornax
