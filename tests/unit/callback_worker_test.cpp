// The HTTP callback worker: how many run at once, what waits, what is
// dropped and named, and when it counts as idle.
#include "components/callback_worker.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

namespace qz {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;
using ::testing::UnorderedElementsAre;

// Jobs that hold until released, counting how many run at once.
class Gate {
 public:
  Work Job() {
    return [this] {
      std::unique_lock lock(mutex_);
      ++running_;
      most_ = std::max(most_, running_);
      changed_.notify_all();
      changed_.wait(lock, [this] { return open_; });
      --running_;
      ++done_;
    };
  }
  void Open() {
    std::lock_guard lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }
  bool WaitRunning(int count) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, 30s, [&] { return running_ == count; });
  }
  int most() {
    std::lock_guard lock(mutex_);
    return most_;
  }
  int done() {
    std::lock_guard lock(mutex_);
    return done_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool open_ = false;
  int running_ = 0, most_ = 0, done_ = 0;
};

struct Lines {
  std::mutex mutex;
  std::vector<std::string> lines;
  CallbackWorker::Log Sink() {
    return [this](std::string_view line) {
      std::lock_guard lock(mutex);
      lines.emplace_back(line);
    };
  }
  std::vector<std::string> Get() {
    std::lock_guard lock(mutex);
    return lines;
  }
};

TEST(CallbackWorker, RunsAtMostTheBoundAtOnceQueuesTheRestAndDropsPastTheQueue) {
  Gate gate;
  Lines log;
  bool idle_called = false;
  {
    CallbackWorker worker({.in_flight = 2, .queued = 3}, log.Sink());
    for (const char* label : {"a", "b"}) EXPECT_TRUE(worker.Post(label, gate.Job()));
    ASSERT_TRUE(gate.WaitRunning(2));
    // Two run and three wait: the queue is then full.
    for (const char* label : {"c", "d", "e"}) EXPECT_TRUE(worker.Post(label, gate.Job()));
    EXPECT_FALSE(worker.Post("of request T-9 to http://h/", gate.Job()));
    EXPECT_THAT(log.Get(),
                ::testing::ElementsAre(HasSubstr("callback of request T-9 to http://h/ dropped")));
    EXPECT_THAT(worker.Unfinished(), UnorderedElementsAre("a", "b", "c", "d", "e"));
    EXPECT_FALSE(worker.WaitIdle(std::chrono::steady_clock::now()));
    std::mutex m;
    worker.WhenIdle([&] {
      std::lock_guard lock(m);
      idle_called = true;
    });
    gate.Open();
    EXPECT_TRUE(worker.WaitIdle(std::chrono::steady_clock::now() + 60s));
    EXPECT_TRUE(worker.Unfinished().empty());
    EXPECT_EQ(gate.done(), 5);
    EXPECT_EQ(gate.most(), 2);
    // Idle now: the room is back, and WhenIdle answers at once.
    bool at_once = false;
    worker.WhenIdle([&] { at_once = true; });
    EXPECT_TRUE(at_once);
  }
  EXPECT_TRUE(idle_called);
}

TEST(CallbackWorker, StoppingDropsWhatWaitsByNameAndFinishesWhatRuns) {
  Gate gate;
  Lines log;
  std::thread opener;
  {
    CallbackWorker worker({.in_flight = 1, .queued = 5}, log.Sink());
    worker.Post("running", gate.Job());
    worker.Post("waiting-1", gate.Job());
    worker.Post("waiting-2", gate.Job());
    ASSERT_TRUE(gate.WaitRunning(1));
    // The running job ends only after the destructor has dropped the others.
    opener = std::thread([&] {
      for (int i = 0; i < 6000 && log.Get().size() < 2; ++i) std::this_thread::sleep_for(5ms);
      gate.Open();
    });
  }
  opener.join();
  EXPECT_EQ(gate.done(), 1);
  EXPECT_THAT(log.Get(), UnorderedElementsAre(HasSubstr("callback waiting-1 not made"),
                                              HasSubstr("callback waiting-2 not made")));
}

}  // namespace
}  // namespace qz
