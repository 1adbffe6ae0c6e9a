// The HTTP callback worker: how many run at once, what waits, what is
// dropped and named, and when it counts as idle.
#include "components/callback_worker.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <mutex>

#include "support/child_process.h"

namespace qz {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;

TEST(CallbackWorker, BoundsWhatRunsAndWaitsAndNamesWhatItDrops) {
  std::mutex mutex;
  std::vector<std::string> log;
  auto lines = [&] {
    std::lock_guard lock(mutex);
    return log;
  };
  std::atomic<int> running = 0, most = 0, done = 0;
  std::promise<void> first, second;
  const std::shared_future<void> first_gate = first.get_future(), second_gate = second.get_future();
  // A job that holds until `gate` opens, counting how many run at once.
  auto job = [&](std::shared_future<void> gate) -> Work {
    return [&, gate] {
      int now = ++running, seen = most;
      while (seen < now && !most.compare_exchange_weak(seen, now)) {
      }
      gate.wait();
      --running;
      ++done;
    };
  };
  std::atomic<bool> idle_called = false;
  std::thread opener;
  {
    CallbackWorker worker({.in_flight = 2, .queued = 3}, [&](std::string_view line) {
      std::lock_guard lock(mutex);
      log.emplace_back(line);
    });
    auto post = [&](const std::shared_future<void>& gate,
                    std::initializer_list<const char*> labels) {
      for (const char* label : labels) EXPECT_TRUE(worker.Post(label, job(gate))) << label;
    };
    post(first_gate, {"a", "b"});
    ASSERT_TRUE(testing::Eventually([&] { return running == 2; }, 30s));
    post(first_gate, {"c", "d", "e"});  // two run and three wait: the queue is full
    EXPECT_FALSE(worker.Post("of request T-9 to http://h/", job(first_gate)));
    EXPECT_THAT(worker.Unfinished(), ::testing::UnorderedElementsAre("a", "b", "c", "d", "e"));
    EXPECT_FALSE(worker.WaitIdle(std::chrono::steady_clock::now()));
    worker.WhenIdle([&] { idle_called = true; });
    first.set_value();
    EXPECT_TRUE(worker.WaitIdle(std::chrono::steady_clock::now() + 60s));
    EXPECT_TRUE(worker.Unfinished().empty());
    bool at_once = false;
    worker.WhenIdle([&] { at_once = true; });
    EXPECT_TRUE(at_once) << "idle now";

    // Stopping drops what waits, naming each, and lets what runs finish:
    // the running ones end only after the others were dropped.
    post(second_gate, {"f", "g"});
    ASSERT_TRUE(testing::Eventually([&] { return running == 2; }, 30s));
    post(second_gate, {"h", "i"});
    opener = std::thread([&] {
      testing::Eventually([&] { return lines().size() >= 3; }, 30s);
      second.set_value();
    });
  }
  opener.join();
  EXPECT_TRUE(idle_called);
  EXPECT_EQ(done, 7);
  EXPECT_EQ(most, 2);
  EXPECT_THAT(lines(), ::testing::ElementsAre(
                           HasSubstr("callback of request T-9 to http://h/ dropped"),
                           HasSubstr("callback h not made"), HasSubstr("callback i not made")));
}

}  // namespace
}  // namespace qz
