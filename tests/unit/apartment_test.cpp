// Real apartment threads and real GLib timers.
#include "automation/apartment.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include "automation/apartment_pool.h"

namespace qz {
namespace {

using namespace std::chrono_literals;

// Posters on other threads race the apartment emptying its inbox: every
// post runs once and before the shutdown, each poster's in its own order,
// and work posted from the apartment itself waits for what was queued
// before it.
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
    // Both queued from the apartment, so "first" cannot run before "second"
    // is queued; once the second Call returns "first" has run, so what it
    // posted is queued ahead of the shutdown.
    apartment.Call([&] {
      apartment.Post([&] {
        trail.push_back("first");
        apartment.Post([&] { trail.push_back("posted from inside"); });
      });
      apartment.Post([&] { trail.push_back("second"); });
    });
    apartment.Call([] {});
  }
  std::vector<int> in_order(kEach);
  std::iota(in_order.begin(), in_order.end(), 0);
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(seen[t], in_order) << t;
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

}  // namespace
}  // namespace qz
