#pragma once
// A queue of events for a thread without a GUI event loop: worker threads
// post, the owner runs them in order on its own thread.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

namespace fornax {

class TEventQueue {
 public:
  void Post(std::function<void()> event) {
    // Woken under the lock: once the event has been taken, the poster is
    // done with the queue.
    std::lock_guard<std::mutex> lock(FLock);
    FEvents.push_back(std::move(event));
    FWake.notify_all();
  }

  // Runs posted events as they come until `done` holds, or the time is up
  // (then false). `idle` runs between waits, e.g. to redraw a progress line.
  bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout,
                const std::function<void()>& idle = nullptr) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      RunPending();
      if (done()) return true;
      if (std::chrono::steady_clock::now() >= deadline) return false;
      if (idle) idle();
      std::unique_lock<std::mutex> lock(FLock);
      FWake.wait_for(lock, std::chrono::milliseconds(50), [this] { return !FEvents.empty(); });
    }
  }

  void RunPending() {
    for (;;) {
      std::function<void()> event;
      {
        std::lock_guard<std::mutex> lock(FLock);
        if (FEvents.empty()) return;
        event = std::move(FEvents.front());
        FEvents.pop_front();
      }
      event();
    }
  }

 private:
  std::mutex FLock;
  std::condition_variable FWake;
  std::deque<std::function<void()>> FEvents;
};

}  // namespace fornax
