#include "gateways/sms/http_failure.h"

#include <curl/curl.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <string>

namespace qz {

FailureKind HttpStatusKind(long status) {
  if (status == 408 || status == 429) return FailureKind::kTransient;
  return status >= 400 && status <= 499 ? FailureKind::kPermanent : FailureKind::kTransient;
}

std::optional<std::chrono::seconds> RetryAfter(std::string_view value,
                                               std::chrono::system_clock::time_point now) {
  // Waits longer than the clock can count would overflow whoever adds them
  // to a time; no gateway means one that long.
  using std::chrono::system_clock;
  const auto latest_second = std::chrono::duration_cast<std::chrono::seconds>(
      system_clock::time_point::max().time_since_epoch());
  const size_t first = value.find_first_not_of(" \t");
  if (first == std::string_view::npos) return std::nullopt;
  value = value.substr(first, value.find_last_not_of(" \t\r\n") + 1 - first);
  if (value.find_first_not_of("0123456789") == std::string_view::npos) {
    int64_t seconds = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), seconds);
    if (error != std::errc() || end != value.data() + value.size()) return std::nullopt;
    return std::min(std::chrono::seconds(seconds), latest_second);
  }
  time_t when = curl_getdate(std::string(value).c_str(), nullptr);
  if (when == -1) return std::nullopt;
  // A year the clock cannot count to (2262 on) would overflow it; one before
  // 1970 is past either way.
  when = std::clamp<time_t>(when, 0, latest_second.count());
  const auto wait = std::chrono::duration_cast<std::chrono::seconds>(
      std::chrono::system_clock::from_time_t(when) - now);
  return std::max(wait, std::chrono::seconds(0));
}

}  // namespace qz
