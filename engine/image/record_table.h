#pragma once
// A table of records in creation order. Removal leaves a hole that later
// compaction closes, so removing from a table of hundreds of thousands of
// records costs no shifting; walks see the live records in their order.

#include <cstddef>
#include <memory>
#include <vector>

namespace fornax {

template <typename T>
class TRecordTable {
 public:
  size_t Count() const { return FLive; }
  bool Empty() const { return FLive == 0; }

  T* Add(std::unique_ptr<T> record) {
    record->TableSlot = FSlots.size();
    FSlots.push_back(std::move(record));
    ++FLive;
    return FSlots.back().get();
  }

  // Frees the record.
  void Remove(T* record) {
    FSlots[record->TableSlot].reset();
    --FLive;
    if (FSlots.size() > 1024 && FLive < FSlots.size() / 2) Compact();
  }

  void Clear() {
    FSlots.clear();
    FLive = 0;
  }

  template <typename F>
  void ForEach(F&& visit) const {
    for (const auto& slot : FSlots)
      if (slot) visit(slot.get());
  }

  std::vector<T*> Snapshot() const {
    std::vector<T*> out;
    out.reserve(FLive);
    ForEach([&](T* r) { out.push_back(r); });
    return out;
  }

  T* First() const {
    for (const auto& slot : FSlots)
      if (slot) return slot.get();
    return nullptr;
  }

 private:
  void Compact() {
    size_t to = 0;
    for (size_t from = 0; from < FSlots.size(); ++from) {
      if (!FSlots[from]) continue;
      FSlots[from]->TableSlot = to;
      if (to != from) FSlots[to] = std::move(FSlots[from]);
      ++to;
    }
    FSlots.resize(to);
  }

  std::vector<std::unique_ptr<T>> FSlots;
  size_t FLive = 0;
};

}  // namespace fornax
