#include "dispatch/retry_schedule.h"

#include <sys/random.h>

#include <algorithm>
#include <cstdint>

namespace qz {

std::chrono::milliseconds RetryDelay(const DeliveryPolicy& policy, int tries_done,
                                     std::optional<std::chrono::seconds> retry_after,
                                     double jitter) {
  using std::chrono::milliseconds;
  milliseconds base = policy.first_retry;
  const milliseconds ceiling = policy.max_delay;
  // Doubling stops at the ceiling, long before the count could overflow.
  for (int n = 1; n < tries_done && base < ceiling; ++n) base *= 2;
  base = std::min(base, ceiling);
  const double band = 0.2 * std::clamp(jitter, -1.0, 1.0);
  milliseconds delay(static_cast<int64_t>(static_cast<double>(base.count()) * (1.0 + band)));
  if (retry_after) delay = std::max(delay, std::min<milliseconds>(*retry_after, ceiling));
  return delay;
}

std::optional<int64_t> NextTryDue(const DeliveryPolicy& policy, int tries_done,
                                  int64_t accepted_unix_ms, int64_t now_unix_ms,
                                  std::optional<std::chrono::seconds> retry_after, double jitter) {
  if (tries_done >= policy.attempts) return std::nullopt;
  const int64_t due = now_unix_ms + RetryDelay(policy, tries_done, retry_after, jitter).count();
  const int64_t give_up =
      accepted_unix_ms + std::chrono::milliseconds(policy.give_up_after).count();
  if (due >= give_up) return std::nullopt;
  return due;
}

double RandomJitter() {
  // Once per retry, so the kernel's source is cheap enough and keeps no state
  // here. Not std::random_device: each one probes the processor first, which
  // a virtual machine makes cost more than the rest of scheduling a retry.
  uint64_t bits = 0;
  if (getrandom(&bits, sizeof bits, GRND_NONBLOCK) != sizeof bits)
    bits = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) *
           0x9E3779B97F4A7C15u;                              // no entropy yet: any spread will do
  return static_cast<double>(bits >> 11) * 0x1.0p-52 - 1.0;  // 53 bits into [-1, 1)
}

int64_t UnixMsNow() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

}  // namespace qz
