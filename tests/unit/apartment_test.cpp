// Real apartment threads and real GLib timers.
#include "automation/apartment.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "automation/apartment_pool.h"
#include "automation/component_registry.h"
#include "automation/timer.h"
#include "dispatch/c_notify.h"
#include "fakes.h"
#include "support/temp_folder.h"

namespace qz {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(Apartment, CallRunsOnItsThreadAndPassesResultsAndErrors) {
  Apartment apartment("qz-test");
  EXPECT_FALSE(apartment.IsCurrent());
  EXPECT_TRUE(apartment.Call([&] { return apartment.IsCurrent(); }));
  EXPECT_EQ(apartment.Call([] { return 41 + 1; }), 42);
  EXPECT_THROW(apartment.Call([]() -> int { throw RunTimeError(5); }), RunTimeError);
  // Nested calls from the thread itself run inline instead of deadlocking.
  EXPECT_EQ(apartment.Call([&] { return apartment.Call([] { return 7; }); }), 7);
}

TEST(Apartment, PostedWorkRunsInOrderBeforeShutdown) {
  std::vector<int> order;
  {
    Apartment apartment;
    for (int i = 0; i < 100; ++i) apartment.Post([&order, i] { order.push_back(i); });
  }
  ASSERT_EQ(order.size(), 100u);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(order[i], i);
}

// Posters on other threads race the apartment emptying its inbox: every
// post runs once, each poster's in its own order, and work posted from the
// apartment itself waits for what was queued before it.
TEST(Apartment, PostsFromManyThreadsAllRunInEachPostersOrder) {
  constexpr int kThreads = 4, kEach = 5000;
  std::vector<std::vector<int>> seen(kThreads);
  std::vector<std::string> trail;
  {
    Apartment apartment;
    std::vector<std::thread> posters;
    for (int t = 0; t < kThreads; ++t)
      posters.emplace_back([&, t] {
        for (int i = 0; i < kEach; ++i) apartment.Post([&seen, t, i] { seen[t].push_back(i); });
      });
    for (auto& poster : posters) poster.join();
    // Both queued from the apartment itself, so "first" cannot run before
    // "second" is queued.
    apartment.Call([&] {
      apartment.Post([&] {
        trail.push_back("first");
        apartment.Post([&] { trail.push_back("posted from inside"); });
      });
      apartment.Post([&] { trail.push_back("second"); });
    });
    // Once this returns "first" has run, so what it posted is queued ahead of
    // the shutdown and runs before it.
    apartment.Call([] {});
  }
  for (int t = 0; t < kThreads; ++t) {
    ASSERT_EQ(seen[t].size(), size_t{kEach}) << t;
    for (int i = 0; i < kEach; ++i) ASSERT_EQ(seen[t][i], i) << t;
  }
  EXPECT_EQ(trail, (std::vector<std::string>{"first", "second", "posted from inside"}));
}

// An object (or work posted for it) may still hold its apartment when the
// pool's owner ends: the pool's end must still wait for the work queued
// before it, which may refer to that owner.
TEST(ApartmentPool, EndsEveryApartmentEvenOneStillHeld) {
  std::atomic<bool> ran{false};
  std::shared_ptr<Apartment> held;
  {
    ApartmentPool pool(1);
    held = pool.Assign();
    held->Post([&ran] {
      std::this_thread::sleep_for(50ms);
      ran = true;
    });
  }
  EXPECT_TRUE(ran);
  bool later = false;
  held->Post([&later] { later = true; });
  held.reset();
  EXPECT_FALSE(later) << "work posted after the end never runs";
}

TEST(ApartmentPool, SpreadsObjectsThenShares) {
  ApartmentPool pool(2);
  auto a = pool.Assign();
  auto b = pool.Assign();
  EXPECT_NE(a.get(), b.get());
  EXPECT_EQ(pool.size(), 2u);

  // Full: the next object goes where no delivery is in progress.
  ++a->deliveries();
  auto c = pool.Assign();
  EXPECT_EQ(c.get(), b.get());
  EXPECT_EQ(b->objects(), 2);
  --a->deliveries();

  // A released seat makes its apartment the first choice again.
  b.reset();
  c.reset();
  EXPECT_EQ(b.get(), nullptr);
  auto d = pool.Assign();
  EXPECT_EQ(d->objects(), 1);
  EXPECT_EQ(pool.size(), 2u);
}

TEST(Timer, HandlerMayDestroyItsTimer) {
  Apartment apartment;
  std::promise<void> fired;
  std::unique_ptr<Timer> timer;
  apartment.Call([&] {
    timer = std::make_unique<Timer>(apartment.context());
    timer->SetHandler([&] {
      timer.reset();
      fired.set_value();
    });
    timer->SetInterval(10);
    timer->SetEnabled(true);
  });
  EXPECT_EQ(fired.get_future().wait_for(10s), std::future_status::ready);
  EXPECT_EQ(apartment.Call([&] { return timer == nullptr; }), true);
}

// The whole road of a request on a real apartment: the tick about a second
// after the call, on the object's own thread, then the callback.
class RealTimerTest : public ::testing::Test {
 protected:
  struct Received {
    std::vector<std::string> args;
    std::thread::id thread;
    Clock::time_point at;
  };

  RealTimerTest() : env_{folder_.path(), components_, channels_, seat_} {
    callback_->on_call = [this](const std::vector<std::string>& args) {
      std::lock_guard lock(mutex_);
      received_.push_back({args, std::this_thread::get_id(), Clock::now()});
      arrived_.notify_all();
    };
  }
  ~RealTimerTest() override {
    apartment_.Call([&] { notify_.reset(); });
  }

  Variant Submit(std::string_view id) {
    return apartment_.Call([&] {
      if (!notify_)
        notify_ = std::make_unique<cNotify>(env_, apartment_.context(), &apartment_.deliveries());
      return notify_->SendMessageCallBack(
          testing::List({testing::List({Variant("disk full")})}), Variant(),
          testing::List({testing::List({testing::List({Variant("1")})})}), Variant(), callback_,
          id);
    });
  }

  // Waits until `count` callbacks arrived, at most `limit`.
  bool WaitFor(size_t count, std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return arrived_.wait_for(lock, limit, [&] { return received_.size() >= count; });
  }

  testing::TempFolder folder_;
  ComponentRegistry components_;
  testing::ScriptedChannels channels_;
  testing::FakeSeat seat_;
  ServerEnvironment env_;
  Apartment apartment_{"qz-real-timer"};
  std::unique_ptr<cNotify> notify_;
  std::shared_ptr<testing::RecordingCallback> callback_ =
      std::make_shared<testing::RecordingCallback>();
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<Received> received_;
};

TEST_F(RealTimerTest, TickAboutASecondLaterOnTheObjectsThread) {
  auto start = Clock::now();
  ASSERT_EQ(Submit("real-1").Text(), "Notes Server: Asynch mode");
  ASSERT_TRUE(WaitFor(1, 20s));
  std::lock_guard lock(mutex_);
  EXPECT_EQ(received_[0].args, (std::vector<std::string>{"real-1", "QzNotes: Message Sent"}));
  EXPECT_EQ(received_[0].thread, apartment_.Call([] { return std::this_thread::get_id(); }));
  EXPECT_GE(received_[0].at - start, 1000ms);  // never early; lateness is measured in bench/
}

TEST_F(RealTimerTest, SecondRequestBeforeTheTickReplacesTheFirst) {
  Submit("first");
  Submit("second");
  ASSERT_TRUE(WaitFor(1, 20s));
  EXPECT_FALSE(WaitFor(2, 1500ms));  // the first request's timer is gone with its form
  std::lock_guard lock(mutex_);
  EXPECT_EQ(received_[0].args.at(0), "second");
}

TEST_F(RealTimerTest, DestroyedBeforeTheTickMeansNoChannelNoCallback) {
  Submit("gone");
  apartment_.Call([&] { notify_.reset(); });
  EXPECT_FALSE(WaitFor(1, 1500ms));
  EXPECT_TRUE(apartment_.Call([&] { return channels_.uses.empty(); }));
}

}  // namespace
}  // namespace qz
