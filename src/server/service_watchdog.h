// Health to the service manager over its notification socket, only when it
// listens (NOTIFY_SOCKET): a status line kept current (looked at once a
// second, sent when it changed and with every watchdog ping) and, when it
// keeps a watchdog (WATCHDOG_USEC), WATCHDOG=1 every quarter interval while
// the main loop and every apartment answer a ping within half of it. An
// apartment waiting within a channel's own time-out (BoundedWait) is busy,
// not stuck; one stuck past them stops the pings, so the manager restarts
// the daemon and the journal replays its requests. Runs its own thread,
// which sleeps between rounds; construct and destroy on one thread.
#pragma once

#include <glib.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <stop_token>
#include <string>
#include <thread>

#include "automation/apartment_pool.h"

namespace qz {

// Whether a pinged loop counts as alive at `now`: it answered a ping within
// `within`, or a wait with its own time-out still holds it.
bool AnswersInTime(std::chrono::steady_clock::time_point last_answer,
                   std::chrono::steady_clock::time_point excused_until,
                   std::chrono::steady_clock::time_point now,
                   std::chrono::steady_clock::duration within);

class ServiceWatchdog {
 public:
  using StatusLine = std::function<std::string()>;

  // `main` is the context of the main loop; `pool` and what `status` reads
  // must outlive this. Starts nothing unless the service manager listens.
  ServiceWatchdog(GMainContext* main, const ApartmentPool& pool, StatusLine status);
  ~ServiceWatchdog() = default;
  ServiceWatchdog(const ServiceWatchdog&) = delete;
  ServiceWatchdog& operator=(const ServiceWatchdog&) = delete;

 private:
  void Run(std::stop_token stop);
  // Every loop answered (or is excused); then pings each afresh.
  bool CheckAndPing(std::chrono::steady_clock::time_point now);

  GMainContext* main_;
  const ApartmentPool& pool_;
  const StatusLine status_;
  std::chrono::microseconds interval_{0};  // none: no watchdog
  // Written by the no-op run on the main loop, which may outlive this.
  std::shared_ptr<std::atomic<int64_t>> main_answered_ns_;
  std::jthread thread_;  // last: stops before the rest goes
};

}  // namespace qz
