#include "engine/image/compilation_index.h"

#include <utility>

namespace fornax {

void TNameIndex::Place(const TSlot& slot) {
  size_t at = Home(slot.Hash);
  while (FSlots[at].Entry) at = Following(at);
  FSlots[at] = slot;
}

// Kept at most three quarters full, so that a miss ends after a few slots.
void TNameIndex::Grow() {
  std::vector<TSlot> old = std::exchange(FSlots, std::vector<TSlot>(FSlots.empty() ? 8 : FSlots.size() * 2));
  for (const TSlot& slot : old)
    if (slot.Entry) Place(slot);
}

void TNameIndex::Insert(TFEntry* Entry, uint64_t Hash) {
  if ((FCount + 1) * 4 > FSlots.size() * 3) Grow();
  Place({Entry, Hash});
  ++FCount;
}

// Linear probing without tombstones: the entries after the hole that would
// no longer be reached from their home slot move back into it.
bool TNameIndex::Erase(const TFEntry* Entry, uint64_t Hash) {
  if (FSlots.empty()) return false;
  size_t hole = Home(Hash);
  while (FSlots[hole].Entry != Entry || FSlots[hole].Hash != Hash) {
    if (!FSlots[hole].Entry) return false;
    hole = Following(hole);
  }
  FSlots[hole] = TSlot{};
  --FCount;
  for (size_t at = Following(hole); FSlots[at].Entry; at = Following(at)) {
    const size_t home = Home(FSlots[at].Hash);
    // Whether home lies cyclically in (hole, at]: then the entry stays.
    const bool reachable = hole <= at ? (hole < home && home <= at) : (hole < home || home <= at);
    if (reachable) continue;
    FSlots[hole] = FSlots[at];
    FSlots[at] = TSlot{};
    hole = at;
  }
  return true;
}

}  // namespace fornax
