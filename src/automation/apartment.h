// One single-threaded apartment: a thread running its own GMainContext.
// Everything an object of the apartment does (calls, timer ticks, channels)
// runs on that thread, one at a time. Post() and Call() are safe from any
// thread; the deliveries counter lets the pool avoid busy apartments.
// Ping(), LastAnswer() and ExcusedUntil() let a watchdog on another thread
// tell an apartment that is stuck from one waiting within its time-outs.
#pragma once

#include <glib.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <type_traits>

#include "automation/context_post.h"
#include "automation/timer_queue.h"
#include "automation/work_inbox.h"
#include "platform/holders.h"

namespace qz {

class Apartment {
 public:
  explicit Apartment(std::string name = "apartment");
  // Runs the work already posted, then stops and joins the thread.
  ~Apartment();
  Apartment(const Apartment&) = delete;
  Apartment& operator=(const Apartment&) = delete;

  GMainContext* context() const { return context_.get(); }
  bool IsCurrent() const { return std::this_thread::get_id() == thread_id_; }

  void Post(Work work);
  // Runs the work already posted, then ends the thread and waits for it
  // (unless called on it); work posted later never runs. Once only.
  void Stop();

  // Runs `work` on the apartment's thread and waits for its result (or
  // exception). Runs inline when called from that thread already.
  template <typename F>
  std::invoke_result_t<F&> Call(F work);

  // Work that may wait on a gateway (dispatch runs, operations) in progress
  // on this thread.
  std::atomic<int>& deliveries() { return deliveries_; }
  // Objects currently seated here (see ApartmentPool).
  std::atomic<int>& objects() { return objects_; }
  // What waits here for a later time (requests' next tries): one timer for
  // all of them. This thread only.
  TimerQueue& waits() { return waits_; }

  // Any thread: posts a no-op that notes when it ran (LastAnswer).
  void Ping();
  std::chrono::steady_clock::time_point LastAnswer() const;
  // While a BoundedWait is held on this thread, its deadline; the clock's
  // epoch otherwise.
  std::chrono::steady_clock::time_point ExcusedUntil() const;

 private:
  friend class BoundedWait;

  std::string name_;
  MainContextPtr context_;
  MainLoopPtr loop_;
  WorkInbox inbox_{context_.get()};
  TimerQueue waits_{context_.get()};
  std::atomic<int> deliveries_{0};
  std::atomic<int> objects_{0};
  std::atomic<int64_t> answered_ns_;    // steady clock, since its epoch
  std::atomic<int64_t> excused_ns_{0};  // likewise; 0: no bounded wait
  std::thread::id thread_id_;
  std::thread thread_;
  std::once_flag stopped_;
};

template <typename F>
std::invoke_result_t<F&> Apartment::Call(F work) {
  using Result = std::invoke_result_t<F&>;
  if (IsCurrent()) return work();
  std::packaged_task<Result()> task(std::move(work));
  std::future<Result> done = task.get_future();
  Post([task = std::move(task)]() mutable { task(); });
  return done.get();
}

// Counts one delivery in progress for as long as it lives.
class DeliveryInProgress {
 public:
  explicit DeliveryInProgress(std::atomic<int>* counter) : counter_(counter) {
    if (counter_) ++*counter_;
  }
  ~DeliveryInProgress() {
    if (counter_) --*counter_;
  }
  DeliveryInProgress(const DeliveryInProgress&) = delete;
  DeliveryInProgress& operator=(const DeliveryInProgress&) = delete;

 private:
  std::atomic<int>* counter_;
};

// Held on an apartment's thread around a wait that ends by `deadline` on
// its own (a channel waiting for its peer within the peer's time-out): the
// apartment is busy, not stuck, while it cannot answer a ping. Nested waits
// restore the outer one. Does nothing on any other thread.
class BoundedWait {
 public:
  explicit BoundedWait(std::chrono::steady_clock::time_point deadline);
  ~BoundedWait();
  BoundedWait(const BoundedWait&) = delete;
  BoundedWait& operator=(const BoundedWait&) = delete;

 private:
  Apartment* apartment_;
  int64_t outer_ns_ = 0;
};

}  // namespace qz
