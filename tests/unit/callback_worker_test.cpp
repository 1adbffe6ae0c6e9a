// The HTTP callback worker: how many run at once, what waits, what is
// dropped and named, and when it counts as idle.
#include "components/callback_worker.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace qz {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;
using ::testing::UnorderedElementsAre;

// Jobs that hold until Open, counting how many run at once, and the
// worker's log lines.
struct Gate {
  Work Job() {
    return [this] {
      std::unique_lock lock(mutex);
      most = std::max(most, ++running);
      changed.notify_all();
      changed.wait(lock, [this] { return open; });
      --running;
      ++done;
    };
  }
  CallbackWorker::Log Sink() {
    return [this](std::string_view line) {
      std::lock_guard lock(mutex);
      log.emplace_back(line);
      changed.notify_all();
    };
  }
  void Open() {
    std::lock_guard lock(mutex);
    open = true;
    changed.notify_all();
  }
  // Waits at most 30 s for `ready`, checked under the lock.
  template <typename F>
  bool Wait(F ready) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, 30s, ready);
  }

  std::mutex mutex;
  std::condition_variable changed;
  bool open = false;
  int running = 0, most = 0, done = 0;
  std::vector<std::string> log;
};

TEST(CallbackWorker, RunsAtMostTheBoundAtOnceQueuesTheRestAndDropsPastTheQueue) {
  Gate gate;
  std::atomic<bool> idle_called = false;
  {
    CallbackWorker worker({.in_flight = 2, .queued = 3}, gate.Sink());
    for (const char* label : {"a", "b"}) EXPECT_TRUE(worker.Post(label, gate.Job()));
    ASSERT_TRUE(gate.Wait([&] { return gate.running == 2; }));
    // Two run and three wait: the queue is then full.
    for (const char* label : {"c", "d", "e"}) EXPECT_TRUE(worker.Post(label, gate.Job()));
    EXPECT_FALSE(worker.Post("of request T-9 to http://h/", gate.Job()));
    EXPECT_THAT(gate.log,
                ::testing::ElementsAre(HasSubstr("callback of request T-9 to http://h/ dropped")));
    EXPECT_THAT(worker.Unfinished(), UnorderedElementsAre("a", "b", "c", "d", "e"));
    EXPECT_FALSE(worker.WaitIdle(std::chrono::steady_clock::now()));
    worker.WhenIdle([&] { idle_called = true; });
    gate.Open();
    EXPECT_TRUE(worker.WaitIdle(std::chrono::steady_clock::now() + 60s));
    EXPECT_TRUE(worker.Unfinished().empty());
    bool at_once = false;
    worker.WhenIdle([&] { at_once = true; });
    EXPECT_TRUE(at_once) << "idle now";
  }
  EXPECT_TRUE(idle_called);
  EXPECT_EQ(gate.done, 5);
  EXPECT_EQ(gate.most, 2);
}

TEST(CallbackWorker, StoppingDropsWhatWaitsByNameAndFinishesWhatRuns) {
  Gate gate;
  std::thread opener;
  {
    CallbackWorker worker({.in_flight = 1, .queued = 5}, gate.Sink());
    for (const char* label : {"running", "waiting-1", "waiting-2"}) worker.Post(label, gate.Job());
    ASSERT_TRUE(gate.Wait([&] { return gate.running == 1; }));
    // The running job ends only after the destructor has dropped the others.
    opener = std::thread([&] {
      gate.Wait([&] { return gate.log.size() >= 2; });
      gate.Open();
    });
  }
  opener.join();
  EXPECT_EQ(gate.done, 1);
  EXPECT_THAT(gate.log, UnorderedElementsAre(HasSubstr("callback waiting-1 not made"),
                                             HasSubstr("callback waiting-2 not made")));
}

}  // namespace
}  // namespace qz
