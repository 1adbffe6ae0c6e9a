// How an SMS gateway's HTTP answer that did not confirm a message is sorted,
// and when the gateway asked to be tried again. Pure functions; safe from
// any thread.
#pragma once

#include <chrono>
#include <optional>
#include <string_view>

#include "gateways/delivery_parts.h"

namespace qz {

// 4xx is the request's fault and will be refused again, except 408 (the
// gateway gave up waiting) and 429 (too many requests); 5xx and anything
// unexpected may go another time.
FailureKind HttpStatusKind(long status);

// A Retry-After value, delay-seconds or an HTTP date, as the time to wait
// from `now`; a date already past waits nothing. Nothing when unreadable.
std::optional<std::chrono::seconds> RetryAfter(std::string_view value,
                                               std::chrono::system_clock::time_point now);

}  // namespace qz
