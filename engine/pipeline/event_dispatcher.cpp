#include "engine/pipeline/event_dispatcher.h"

#include <algorithm>
#include <vector>

namespace fornax {
namespace {

// The dispatchers whose target the calling thread is inside: a target that
// runs its event at once may set the dispatcher again without waiting for
// itself.
thread_local std::vector<const TEventDispatcher*> tInside;

}  // namespace

int TEventDispatcher::CallsOfThisThread() const {
  return static_cast<int>(std::count(tInside.begin(), tInside.end(), this));
}

TEventDispatcher& TEventDispatcher::operator=(TTarget target) {
  std::unique_lock<std::mutex> lock(FLock);
  const int own = CallsOfThisThread();
  FIdle.wait(lock, [&] { return FCalls == own; });
  FTarget = std::move(target);
  return *this;
}

TEventDispatcher::operator bool() const {
  std::lock_guard<std::mutex> lock(FLock);
  return static_cast<bool>(FTarget);
}

bool TEventDispatcher::Post(std::function<void()>& event) {
  TTarget target;
  {
    std::lock_guard<std::mutex> lock(FLock);
    if (!FTarget) return false;
    target = FTarget;
    ++FCalls;
  }
  tInside.push_back(this);
  struct TLeave {
    TEventDispatcher& Self;
    TTarget& Target;
    ~TLeave() {
      Target = nullptr;  // what it holds goes before the owner may free what it points to
      tInside.erase(std::find(tInside.begin(), tInside.end(), &Self));
      std::lock_guard<std::mutex> lock(Self.FLock);
      --Self.FCalls;
      Self.FIdle.notify_all();
    }
  } leave{*this, target};
  target(std::move(event));
  return true;
}

}  // namespace fornax
