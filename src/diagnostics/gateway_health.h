// How each gateway has fared lately, by its name in the gateway table
// ("SNPP", "SMS", "pager terminal", "SMTP", "profile"): the last success,
// the last failure and its text, and the run of transient failures since
// the last success. The dispatch run tells it the outcome of every try; the
// status view, the metrics and the retry breaker read it. Tries are far
// rarer than requests, so a mutex is cheap enough. Safe from any thread.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
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
};

class GatewayHealth {
 public:
  void Succeeded(std::string_view gateway, int64_t now_unix_ms);
  void Failed(std::string_view gateway, std::string_view text, bool transient, int64_t now_unix_ms);

  // Every gateway tried so far, by name.
  std::vector<GatewayReport> Snapshot() const;

 private:
  mutable std::mutex mutex_;
  std::map<std::string, GatewayReport, std::less<>> gateways_;
};

}  // namespace qz
