#include "engine/pipeline/worker_thread.h"

namespace fornax {

TWorkerThread::~TWorkerThread() {
  // Only a worker freed from its own thread gets here still joinable: it
  // runs its last steps on its own.
  if (IsCurrent() && FThread.joinable()) FThread.detach();
  Join();
}

void TWorkerThread::Start(std::function<void()> body) {
  FThread = std::thread([this, body = std::move(body)] {
    FId = std::this_thread::get_id();
    body();
  });
}

void TWorkerThread::Join() {
  if (IsCurrent()) return;
  if (FThread.joinable()) FThread.join();
}

void TRetiredWorkers::Reap() {
  std::vector<TItem> kept;
  for (TItem& item : FItems) {
    if (item.Thread->IsCurrent()) kept.push_back(std::move(item));
    // else: the owner's destructor joins the thread as the item goes
  }
  FItems.swap(kept);
}

TRetiredWorkers TRetiredWorkers::TakeOthers() {
  TRetiredWorkers others;
  std::vector<TItem> kept;
  for (TItem& item : FItems) (item.Thread->IsCurrent() ? kept : others.FItems).push_back(std::move(item));
  FItems.swap(kept);
  return others;
}

}  // namespace fornax
