#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "support/pipeline_fixture.h"

namespace fornax {
namespace {

using namespace std::chrono_literals;

// Done events handed back by the write and erase threads. Without a
// dispatcher they run on the worker itself, which may then start the next
// piece of work; with one, the dispatcher may change while a worker runs.
class WorkerLifetime : public test::PipelineTest {
 protected:
  // Counts done events that may come on any thread.
  struct TDone {
    std::mutex Lock;
    std::condition_variable Changed;
    std::vector<std::string> Errors;
    void Add(const std::string& error) {
      std::lock_guard<std::mutex> lock(Lock);
      Errors.push_back(error);
      Changed.notify_all();
    }
    bool WaitFor(size_t count) {
      std::unique_lock<std::mutex> lock(Lock);
      return Changed.wait_for(lock, 60s, [&] { return Errors.size() >= count; });
    }
  };
  static int64_t SizeOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_size : -1;
  }
};

TEST_F(WorkerLifetime, AWriteDoneHandlerStartsTheNextImageOnTheWriteThreadItself) {
  Fill(Folder("src", 3, 600));
  Rec.Dispatcher = nullptr;
  TDone done;
  std::atomic<bool> onWorker{false}, secondStarted{false};
  const std::thread::id caller = std::this_thread::get_id();
  Rec.OnWriteDone = [&](TObject*, const std::string& error) {
    // Decided before the next image starts: its done event may come before
    // this one is counted.
    if (!secondStarted.exchange(true)) {
      onWorker = std::this_thread::get_id() != caller;
      Rec.BuildISOFile(Tmp.Path("second.iso"), false);
    }
    done.Add(error);
  };
  Rec.BuildISOFile(Tmp.Path("first.iso"), false);
  ASSERT_TRUE(done.WaitFor(2)) << "the second image never ended";
  Rec.WaitForWorkers();
  EXPECT_TRUE(onWorker) << "no dispatcher: the event ran where it occurred";
  EXPECT_EQ(done.Errors, (std::vector<std::string>{"", ""}));
  EXPECT_GT(SizeOf(Tmp.Path("first.iso")), 600 * 1024);
  EXPECT_EQ(SizeOf(Tmp.Path("second.iso")), SizeOf(Tmp.Path("first.iso")));
}

TEST_F(WorkerLifetime, AnEraseDoneHandlerStartsTheNextEraseOnTheEraseThreadItself) {
  Open("cd-rw");
  Rec.Dispatcher = nullptr;
  std::atomic<int> started{1};
  TDone done;
  Rec.OnEraseDone = [&](TObject*, bool withError) {
    if (started < 3) {
      ++started;
      EXPECT_TRUE(Rec.EraseDisc(1));
    }
    done.Add(withError ? "error" : "");
  };
  ASSERT_TRUE(Rec.EraseDisc(1));
  ASSERT_TRUE(done.WaitFor(3));
  Rec.WaitForWorkers();
  EXPECT_EQ(done.Errors, (std::vector<std::string>{"", "", ""}));
  EXPECT_EQ(Rec.LastEraseProgress(), 100);
}

TEST_F(WorkerLifetime, ADispatcherClearedWhileAWorkerIsInsideItIsNeverUsedAfterwards) {
  std::atomic<bool> inside{false}, cleared{false}, usedAfterClearing{false};
  Rec.Dispatcher = [&](std::function<void()> event) {
    inside = true;
    std::this_thread::sleep_for(100ms);
    if (cleared) usedAfterClearing = true;
    event();
  };
  std::atomic<bool> ran{false};
  std::thread worker([&] { Rec.Dispatch([&] { ran = true; }); });
  while (!inside) std::this_thread::yield();
  Rec.Dispatcher = nullptr;  // returns once the worker has left the old one
  cleared = true;
  worker.join();
  EXPECT_TRUE(ran);
  EXPECT_FALSE(usedAfterClearing);

  // Without one the event runs at once, on the caller's thread.
  ran = false;
  Rec.Dispatch([&] { ran = true; });
  EXPECT_TRUE(ran);
}

TEST_F(WorkerLifetime, AnEventRunAtOnceMaySetTheDispatcherItRunsIn) {
  int runs = 0;
  Rec.Dispatcher = [&](std::function<void()> event) {
    ++runs;
    event();
  };
  Rec.Dispatch([&] { Rec.Dispatcher = nullptr; });
  EXPECT_EQ(runs, 1);
  EXPECT_FALSE(Rec.Dispatcher);
}

TEST_F(WorkerLifetime, WaitForWorkersReturnsOnlyOnceTheWriteThreadHasLeftTheDispatcher) {
  // What a done event reaches (here the queue of the fixture) may go as
  // soon as WaitForWorkers returns: the thread is no longer in there.
  Fill(Folder("src", 2, 64));
  std::atomic<bool> left{false};
  Rec.Dispatcher = [&](std::function<void()> event) {
    Events.Post(std::move(event));
    std::this_thread::sleep_for(100ms);
    left = true;
  };
  Rec.BuildISOFile(Tmp.Path("out.iso"), false);
  ASSERT_TRUE(WaitForEnd());
  EXPECT_EQ(Result, "");
  Rec.WaitForWorkers();
  EXPECT_TRUE(left);
}

}  // namespace
}  // namespace fornax
