#pragma once
// Pieces of work made on two threads and used in order: the caller and one
// helper make pieces 0, 1, 2 ... as each comes free, and the caller hands
// each one on, in its order, as soon as it and all before it are made. At
// most `ahead` pieces wait made but not handed on, so the memory they hold is
// bounded whatever the count.

#include <condition_variable>
#include <cstddef>
#include <exception>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

namespace fornax {

// make(i) returns piece i and may run on either thread; take(i, piece) runs
// on the caller's thread, i = 0 ... count - 1 in order. What make throws is
// thrown to the caller when its piece's turn comes; what take throws ends the
// work at once. When no helper thread can be had, the caller makes every
// piece itself.
template <typename TPiece, typename TMake, typename TTake>
void MakeInOrder(size_t count, size_t ahead, const TMake& make, const TTake& take) {
  struct TSlot {
    std::optional<TPiece> Piece;
    std::exception_ptr Error;
    bool Done = false;
  };
  std::vector<TSlot> slots(count);
  std::mutex guard;
  std::condition_variable changed;
  size_t nextClaim = 0, nextTake = 0;
  bool stop = false;
  if (ahead == 0) ahead = 1;

  const auto claimable = [&] { return nextClaim < count && nextClaim < nextTake + ahead; };
  // Called without the lock; `i` is claimed.
  const auto makeOne = [&](size_t i) {
    TSlot made;
    try {
      made.Piece.emplace(make(i));
    } catch (...) {
      made.Error = std::current_exception();
    }
    made.Done = true;
    {
      const std::lock_guard<std::mutex> lock(guard);
      slots[i] = std::move(made);
    }
    changed.notify_all();
  };

  std::thread helper;
  if (count > 1) {
    try {
      helper = std::thread([&] {
        std::unique_lock<std::mutex> lock(guard);
        for (;;) {
          changed.wait(lock, [&] { return stop || nextClaim >= count || claimable(); });
          if (stop || nextClaim >= count) return;
          const size_t i = nextClaim++;
          lock.unlock();
          makeOne(i);
          lock.lock();
        }
      });
    } catch (const std::system_error&) {
      // No helper: the caller makes every piece.
    }
  }
  // The helper is stopped and joined however the caller leaves.
  struct TJoin {
    std::thread& Helper;
    std::mutex& Guard;
    std::condition_variable& Changed;
    bool& Stop;
    ~TJoin() {
      {
        const std::lock_guard<std::mutex> lock(Guard);
        Stop = true;
      }
      Changed.notify_all();
      if (Helper.joinable()) Helper.join();
    }
  } join{helper, guard, changed, stop};

  for (size_t t = 0; t < count; ++t) {
    std::unique_lock<std::mutex> lock(guard);
    while (!slots[t].Done) {
      if (claimable()) {
        const size_t i = nextClaim++;
        lock.unlock();
        makeOne(i);
        lock.lock();
      } else {
        changed.wait(lock);
      }
    }
    TSlot slot = std::move(slots[t]);
    ++nextTake;
    lock.unlock();
    changed.notify_all();
    if (slot.Error) std::rethrow_exception(slot.Error);
    take(t, *slot.Piece);
  }
}

}  // namespace fornax
