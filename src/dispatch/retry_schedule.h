// When a request that failed for now is tried again: the delay doubles from
// the first retry up to the ceiling, each with up to 20 % jitter either way
// so that requests failed together do not come back together; a peer's
// Retry-After is honoured up to the ceiling; no try starts once the request
// is older than the give-up time. Pure functions.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

#include "config/delivery_policy.h"

namespace qz {

// The wait after try number `tries_done` (1 for the first try) failed.
// `jitter` in [-1, 1] picks where in the ±20 % band the delay falls.
std::chrono::milliseconds RetryDelay(const DeliveryPolicy& policy, int tries_done,
                                     std::optional<std::chrono::seconds> retry_after,
                                     double jitter);

// When the next try starts (Unix ms), or none when the tries are used up or
// it would start at or after acceptance + GiveUpAfter.
std::optional<int64_t> NextTryDue(const DeliveryPolicy& policy, int tries_done,
                                  int64_t accepted_unix_ms, int64_t now_unix_ms,
                                  std::optional<std::chrono::seconds> retry_after, double jitter);

// A jitter for RetryDelay from the process's random source.
double RandomJitter();

// The wall clock in Unix ms, as the journal keeps due times.
int64_t UnixMsNow();

}  // namespace qz
