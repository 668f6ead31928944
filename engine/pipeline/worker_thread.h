#pragma once
// TWorkerThread: the thread of one write or erase. It knows whether the
// caller is that thread itself, which a done handler run on it (no
// dispatcher) needs to know: a thread can neither join nor free itself.
// TRetiredWorkers keeps such a worker until another thread can join it.

#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace fornax {

class TWorkerThread {
 public:
  TWorkerThread() = default;
  ~TWorkerThread();
  TWorkerThread(const TWorkerThread&) = delete;
  TWorkerThread& operator=(const TWorkerThread&) = delete;

  void Start(std::function<void()> body);
  // Waits until the body has returned. Never from the body itself (it
  // returns at once there); see TRetiredWorkers.
  void Join();
  // Whether the caller runs on this worker. The worker learns its own id as
  // its first step, so it never reads the std::thread that Start may still be
  // assigning.
  bool IsCurrent() const { return FId.load() == std::this_thread::get_id(); }

 private:
  std::thread FThread;
  std::atomic<std::thread::id> FId{};
};

// Workers whose work has ended but which may still be on their way out, e.g.
// the write whose done handler started the next one. Each is joined and
// freed by the first Reap that runs on another thread.
class TRetiredWorkers {
 public:
  TRetiredWorkers() = default;
  TRetiredWorkers(TRetiredWorkers&&) = default;
  TRetiredWorkers& operator=(TRetiredWorkers&&) = default;
  ~TRetiredWorkers() { Reap(); }
  // TWorker has Thread(), its TWorkerThread.
  template <typename TWorker>
  void Retire(std::shared_ptr<TWorker> worker) {
    if (!worker) return;
    const TWorkerThread* thread = &worker->Thread();
    FItems.push_back({thread, std::shared_ptr<void>(std::move(worker))});
  }
  // Joins and frees every retired worker but the caller's own.
  void Reap();
  // Hands over every retired worker but the caller's own, so that they can
  // be joined without holding whatever guards this list.
  TRetiredWorkers TakeOthers();
  bool Empty() const { return FItems.empty(); }

 private:
  struct TItem {
    const TWorkerThread* Thread;
    std::shared_ptr<void> Owner;
  };
  std::vector<TItem> FItems;
};

}  // namespace fornax
