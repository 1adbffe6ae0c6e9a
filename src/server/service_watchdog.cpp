#include "server/service_watchdog.h"

#include <systemd/sd-daemon.h>

#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "automation/context_post.h"

namespace qz {
namespace {

using WatchdogClock = std::chrono::steady_clock;

int64_t WatchdogNanos(WatchdogClock::time_point at) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(at.time_since_epoch()).count();
}

constexpr std::chrono::seconds kStatusLookEvery{1};

}  // namespace

bool AnswersInTime(WatchdogClock::time_point last_answer, WatchdogClock::time_point excused_until,
                   WatchdogClock::time_point now, WatchdogClock::duration within) {
  return now - last_answer <= within || now < excused_until;
}

ServiceWatchdog::ServiceWatchdog(GMainContext* main, const ApartmentPool& pool, StatusLine status)
    : main_(main),
      pool_(pool),
      status_(std::move(status)),
      main_answered_ns_(
          std::make_shared<std::atomic<int64_t>>(WatchdogNanos(WatchdogClock::now()))) {
  const char* socket = std::getenv("NOTIFY_SOCKET");
  if (!socket || !*socket) return;  // outside a service manager nothing changes
  uint64_t usec = 0;
  if (sd_watchdog_enabled(0, &usec) > 0) interval_ = std::chrono::microseconds(usec);
  thread_ = std::jthread([this](std::stop_token stop) { Run(std::move(stop)); });
}

void ServiceWatchdog::Run(std::stop_token stop) {
  const WatchdogClock::duration ping_every = interval_ / 4;
  const WatchdogClock::duration tick =
      interval_.count() > 0 ? std::min<WatchdogClock::duration>(ping_every, kStatusLookEvery)
                            : WatchdogClock::duration(kStatusLookEvery);
  std::mutex mutex;
  std::condition_variable_any wake;
  std::string sent;
  WatchdogClock::time_point sent_at{}, next_ping = WatchdogClock::now() + ping_every;
  std::unique_lock lock(mutex);
  // Sleeps a tick at a time; a stop request wakes it at once.
  for (; !stop.stop_requested(); wake.wait_for(lock, stop, tick, [] { return false; })) {
    const WatchdogClock::time_point now = WatchdogClock::now();
    const std::string line = status_();
    std::string message;
    if (interval_.count() > 0 && now >= next_ping) {
      next_ping = now + ping_every;
      if (CheckAndPing(now)) message = "WATCHDOG=1\n";
    }
    if (!message.empty() || (line != sent && now - sent_at >= kStatusLookEvery)) {
      message += "STATUS=" + line;
      sent = line;
      sent_at = now;
      sd_notify(0, message.c_str());
    }
  }
}

bool ServiceWatchdog::CheckAndPing(WatchdogClock::time_point now) {
  const WatchdogClock::duration within = interval_ / 2;
  const WatchdogClock::time_point main_answer{std::chrono::duration_cast<WatchdogClock::duration>(
      std::chrono::nanoseconds(main_answered_ns_->load()))};
  bool alive = AnswersInTime(main_answer, {}, now, within);
  PostToContext(
      main_, [answered = main_answered_ns_] { *answered = WatchdogNanos(WatchdogClock::now()); });
  for (const std::shared_ptr<Apartment>& apartment : pool_.Apartments()) {
    alive = AnswersInTime(apartment->LastAnswer(), apartment->ExcusedUntil(), now, within) && alive;
    apartment->Ping();
  }
  return alive;
}

}  // namespace qz
