#pragma once
// A directory's entries by one key of their names, as a table of pointers:
// a directory of hundreds of thousands of entries keeps two of these, so an
// entry costs a slot (pointer and hash) instead of a node with its own copy
// of the key.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace fornax {

struct TFEntry;

class TNameIndex {
 public:
  // The entry stored under Hash for which Same(entry) holds; null when none.
  template <typename TSame>
  TFEntry* Find(uint64_t Hash, TSame&& Same) const {
    if (FSlots.empty()) return nullptr;
    for (size_t at = Home(Hash);; at = Following(at)) {
      const TSlot& slot = FSlots[at];
      if (!slot.Entry) return nullptr;
      if (slot.Hash == Hash && Same(slot.Entry)) return slot.Entry;
    }
  }
  // Stores Entry under Hash; the caller has made sure no equal key is stored.
  void Insert(TFEntry* Entry, uint64_t Hash);
  // Takes Entry out when it is stored under Hash; false when it is not.
  bool Erase(const TFEntry* Entry, uint64_t Hash);
  size_t Count() const { return FCount; }

 private:
  struct TSlot {
    TFEntry* Entry = nullptr;
    uint64_t Hash = 0;
  };
  size_t Home(uint64_t Hash) const { return static_cast<size_t>(Hash) & (FSlots.size() - 1); }
  size_t Following(size_t at) const { return (at + 1) & (FSlots.size() - 1); }
  void Place(const TSlot& slot);
  void Grow();

  std::vector<TSlot> FSlots;  // a power of two in size, or empty
  size_t FCount = 0;
};

}  // namespace fornax
