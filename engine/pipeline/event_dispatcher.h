#pragma once
// TEventDispatcher: where the engine's workers hand their completion events
// (a GUI's event loop, a queue the command line drains). It may be set or
// cleared while a worker runs: a new target is taken from the next event on,
// and the assignment returns only once no other thread is still inside the
// old target, so that what the old one reaches can go away right after.

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>

namespace fornax {

class TEventDispatcher {
 public:
  using TTarget = std::function<void(std::function<void()>)>;

  TEventDispatcher() = default;
  TEventDispatcher(const TEventDispatcher&) = delete;
  TEventDispatcher& operator=(const TEventDispatcher&) = delete;

  TEventDispatcher& operator=(TTarget target);
  TEventDispatcher& operator=(std::nullptr_t) { return *this = TTarget(); }
  explicit operator bool() const;

  // Hands the event to the target and returns true; false, with the event
  // left as it was, when there is none.
  bool Post(std::function<void()>& event);

 private:
  int CallsOfThisThread() const;

  mutable std::mutex FLock;
  std::condition_variable FIdle;
  TTarget FTarget;
  int FCalls = 0;  // threads (or nested calls) inside a target
};

}  // namespace fornax
