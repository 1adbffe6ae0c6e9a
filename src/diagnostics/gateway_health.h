// How each gateway has fared lately, by its name in the gateway table
// ("SNPP", "SMS", "pager terminal", "SMTP", "profile"): the last success,
// the last failure and its text, and the run of transient failures since
// the last success. The dispatch run tells it the outcome of every try; the
// status view, the metrics and the retry breaker read it. Tries are far
// rarer than requests, so a mutex is cheap enough. Safe from any thread.
//
// The breaker: once a gateway failed for now `break_after` times in a row,
// new tries to it wait for a cool-down, so a peer that is down is not
// hammered by every waiting request. The cool-down starts at `first` and
// doubles per further failure up to `ceiling`; a success ends it.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qz {

struct GatewayReport {
  std::string gateway = {};
  bool up = true;                    // no try yet, or the last one went
  int64_t last_success_unix_ms = 0;  // 0: none yet
  int64_t last_failure_unix_ms = 0;  // 0: none yet
  std::string last_failure = {};     // the failure's text, as the trace says it
  int32_t failures_in_a_row = 0;     // transient ones since the last success
  int64_t down_since_unix_ms = 0;    // the first failure since the last success; 0 when up
  bool broken = false;               // the breaker holds new tries back
  int64_t cool_until_unix_ms = 0;    // while broken: no new try before this
};

struct BreakerSettings {
  int32_t break_after = 5;  // transient failures in a row that open the breaker
  int64_t first_ms = 30'000;
  int64_t ceiling_ms = 900'000;
};

// The cool-down after `failures_in_a_row` transient failures: none (0)
// below the threshold, `first` at it, doubling per further one up to the
// ceiling.
int64_t CoolDownMs(const BreakerSettings& breaker, int32_t failures_in_a_row);

// "45 s", "3 min", "2 h 5 min": how long something lasted, for people.
std::string SpanText(int64_t ms);

class GatewayHealth {
 public:
  // Each answers a line for the daemon's log when the gateway went down
  // ("gateway SNPP down after 5 failures in a row: ...") or came back
  // ("gateway SNPP back after 3 min"), else nothing. The breaker is
  // given only when retries are on; without it no gateway is ever held.
  std::optional<std::string> Succeeded(std::string_view gateway, int64_t now_unix_ms);
  std::optional<std::string> Failed(std::string_view gateway, std::string_view text, bool transient,
                                    int64_t now_unix_ms, const BreakerSettings* breaker = nullptr);

  // Whether a new try to `gateway` may start now: none when it may, else
  // when it may. Once the cool-down is over one try is let through as a
  // probe; the others wait as if it failed again, until it tells.
  std::optional<int64_t> HeldUntil(std::string_view gateway, const BreakerSettings& breaker,
                                   int64_t now_unix_ms);

  // Every gateway tried so far, by name.
  std::vector<GatewayReport> Snapshot() const;

  // Requests whose next try is set (retrying or held by the breaker).
  int WaitingRequests() const { return waiting_.load(std::memory_order_relaxed); }

 private:
  friend class WaitingMark;
  mutable std::mutex mutex_;
  std::map<std::string, GatewayReport, std::less<>> gateways_;
  std::atomic<int> waiting_{0};
};

// Counts its request among the waiting ones while set; unset when it goes.
class WaitingMark {
 public:
  explicit WaitingMark(GatewayHealth* health) : health_(health) {}
  ~WaitingMark() { Set(false); }
  WaitingMark(const WaitingMark&) = delete;
  WaitingMark& operator=(const WaitingMark&) = delete;
  void Set(bool waiting) {
    if (!health_ || waiting == set_) return;
    set_ = waiting;
    health_->waiting_.fetch_add(waiting ? 1 : -1, std::memory_order_relaxed);
  }

 private:
  GatewayHealth* health_;
  bool set_ = false;
};

}  // namespace qz
