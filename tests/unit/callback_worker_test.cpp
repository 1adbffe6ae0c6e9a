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

// Jobs that hold while the gate is shut, counting how many run at once;
// and the worker's log lines.
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
  void Set(bool is_open) {
    std::lock_guard lock(mutex);
    open = is_open;
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

TEST(CallbackWorker, BoundsWhatRunsAndWaitsAndNamesWhatItDrops) {
  Gate gate;
  std::atomic<bool> idle_called = false;
  std::thread opener;
  {
    CallbackWorker worker({.in_flight = 2, .queued = 3}, gate.Sink());
    auto post = [&](std::initializer_list<const char*> labels) {
      for (const char* label : labels) EXPECT_TRUE(worker.Post(label, gate.Job())) << label;
    };
    post({"a", "b"});
    ASSERT_TRUE(gate.Wait([&] { return gate.running == 2; }));
    post({"c", "d", "e"});  // two run and three wait: the queue is full
    EXPECT_FALSE(worker.Post("of request T-9 to http://h/", gate.Job()));
    EXPECT_THAT(worker.Unfinished(), ::testing::UnorderedElementsAre("a", "b", "c", "d", "e"));
    EXPECT_FALSE(worker.WaitIdle(std::chrono::steady_clock::now()));
    worker.WhenIdle([&] { idle_called = true; });
    gate.Set(true);
    EXPECT_TRUE(worker.WaitIdle(std::chrono::steady_clock::now() + 60s));
    EXPECT_TRUE(worker.Unfinished().empty());
    bool at_once = false;
    worker.WhenIdle([&] { at_once = true; });
    EXPECT_TRUE(at_once) << "idle now";

    // Stopping drops what waits, naming each, and lets what runs finish:
    // the running ones end only after the others were dropped.
    gate.Set(false);
    post({"f", "g"});
    ASSERT_TRUE(gate.Wait([&] { return gate.running == 2; }));
    post({"h", "i"});
    opener = std::thread([&] {
      gate.Wait([&] { return gate.log.size() >= 3; });
      gate.Set(true);
    });
  }
  opener.join();
  EXPECT_TRUE(idle_called);
  EXPECT_EQ(gate.done, 7);
  EXPECT_EQ(gate.most, 2);
  EXPECT_THAT(gate.log, ::testing::ElementsAre(
                            HasSubstr("callback of request T-9 to http://h/ dropped"),
                            HasSubstr("callback h not made"), HasSubstr("callback i not made")));
}

}  // namespace
}  // namespace qz
