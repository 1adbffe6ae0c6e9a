// The daemon's /metrics page: the counters of Metrics, and what a scrape
// samples at its own time (pending requests, journal size, gateway health,
// the process's memory, descriptors and start time). The sources are read
// on the listener's thread; each must be safe from any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "diagnostics/gateway_health.h"
#include "diagnostics/metrics.h"
#include "http/http_listener.h"

namespace qz {

struct MetricsSources {
  const Metrics& metrics;
  const GatewayHealth* health = nullptr;  // none: no gateway is reported
  std::function<int64_t()> pending = {};  // none: 0
  std::function<int64_t()> failed = {};   // none: 0
  // In a fleet: tries no live daemon serves (nothing when it cannot say); none: not shown.
  std::function<std::optional<int64_t>()> unclaimable = {};
  std::string program_folder = {};  // whose journal is measured; empty: no journal
};

inline constexpr std::string_view kMetricsPath = "/metrics";
inline constexpr std::string_view kMetricsContentType = "text/plain; version=0.0.4";

// Serves GET /metrics on `listener` (before it starts), to callers with `access`.
void AddMetricsEndpoint(HttpListener& listener, MetricsSources sources,
                        Access access = kPublicAccess);

}  // namespace qz
