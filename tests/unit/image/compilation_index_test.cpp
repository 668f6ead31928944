#include <gtest/gtest.h>

#include <map>
#include <random>
#include <vector>

#include "engine/image/compilation_index.h"
#include "engine/image/entries.h"

namespace fornax {
namespace {

// Hashes from a handful of values make long runs of neighbouring slots, and
// values near the table's end make runs that wrap around: the cases where an
// erasure must move later entries back for them to stay reachable.
TEST(NameIndex, EveryStoredEntryStaysReachableThroughErasures) {
  constexpr int kEntries = 600;
  std::vector<TFEntry> entries(kEntries);
  const auto hashOf = [](int i) { return static_cast<uint64_t>(i % 7 == 0 ? 1023 - i % 5 : i % 11); };
  TNameIndex index;
  std::map<int, bool> stored;
  std::mt19937 random(44);
  for (int round = 0; round < 20000; ++round) {
    const int i = static_cast<int>(random() % kEntries);
    const bool present = stored[i];
    if (present) {
      ASSERT_TRUE(index.Erase(&entries[i], hashOf(i)));
    } else {
      index.Insert(&entries[i], hashOf(i));
    }
    stored[i] = !present;
    if (round % 997 != 0) continue;
    size_t count = 0;
    for (const auto& [at, isStored] : stored) {
      const TFEntry* found = index.Find(hashOf(at), [&](const TFEntry* e) { return e == &entries[at]; });
      EXPECT_EQ(found, isStored ? &entries[at] : nullptr) << "entry " << at << " at round " << round;
      count += isStored ? 1 : 0;
    }
    EXPECT_EQ(index.Count(), count);
  }
  // An entry is taken out only from under its own hash, even when the other
  // hash's probe passes its slot.
  TFEntry other;
  index.Insert(&other, 5);
  EXPECT_FALSE(index.Erase(&other, 4));
  EXPECT_TRUE(index.Erase(&other, 5));
  EXPECT_EQ(index.Find(5, [&](const TFEntry* e) { return e == &other; }), nullptr);
}

}  // namespace
}  // namespace fornax
