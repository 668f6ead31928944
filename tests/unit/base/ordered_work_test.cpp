#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "engine/base/ordered_work.h"

namespace fornax {
namespace {

// Pieces of uneven cost, so that the two threads finish them out of order.
TEST(MakeInOrder, PiecesMadeOnTwoThreadsAreHandedOnInOrderAndNeverTooFarAhead) {
  constexpr size_t kCount = 200, kAhead = 3;
  std::atomic<size_t> taken{0};
  std::atomic<size_t> mostAhead{0};
  std::mutex threadsGuard;
  std::set<std::thread::id> makers;
  std::vector<size_t> order;
  MakeInOrder<std::string>(
      kCount, kAhead,
      [&](size_t i) {
        {
          const std::lock_guard<std::mutex> lock(threadsGuard);
          makers.insert(std::this_thread::get_id());
        }
        // Made while `taken` pieces are handed on: never more than kAhead
        // past them.
        const size_t past = i + 1 - taken.load();
        size_t seen = mostAhead.load();
        while (past > seen && !mostAhead.compare_exchange_weak(seen, past)) {
        }
        if (i % 7 == 0) std::this_thread::sleep_for(std::chrono::microseconds(300));
        return "piece " + std::to_string(i);
      },
      [&](size_t i, std::string& piece) {
        EXPECT_EQ(piece, "piece " + std::to_string(i));
        order.push_back(i);
        taken = i + 1;
      });
  ASSERT_EQ(order.size(), kCount);
  for (size_t i = 0; i < kCount; ++i) ASSERT_EQ(order[i], i);
  EXPECT_LE(mostAhead.load(), kAhead + 1) << "the one being handed on and kAhead waiting";
  EXPECT_EQ(makers.size(), 2u) << "both threads made pieces";
}

TEST(MakeInOrder, AFailedPieceIsThrownInItsTurnAndAFailedHandOverEndsTheWork) {
  std::vector<size_t> order;
  EXPECT_THROW(MakeInOrder<int>(
                   50, 4,
                   [](size_t i) {
                     if (i == 17) throw std::runtime_error("piece 17");
                     return static_cast<int>(i);
                   },
                   [&](size_t i, int&) { order.push_back(i); }),
               std::runtime_error);
  EXPECT_EQ(order.size(), 17u) << "everything before the failed piece, nothing after";

  std::atomic<size_t> made{0};
  EXPECT_THROW(MakeInOrder<int>(
                   1000, 2, [&](size_t i) { ++made; return static_cast<int>(i); },
                   [](size_t i, int&) {
                     if (i == 5) throw std::logic_error("stop");
                   }),
               std::logic_error);
  EXPECT_LE(made.load(), 5u + 1 + 2) << "the helper stopped soon after the hand-over failed";

  size_t none = 0;
  MakeInOrder<int>(0, 4, [](size_t) { return 0; }, [&](size_t, int&) { ++none; });
  EXPECT_EQ(none, 0u);
}

}  // namespace
}  // namespace fornax
