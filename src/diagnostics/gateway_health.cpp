#include "diagnostics/gateway_health.h"

#include <algorithm>

namespace qz {
namespace {

GatewayReport& Entry(std::map<std::string, GatewayReport, std::less<>>& gateways,
                     std::string_view gateway) {
  auto it = gateways.find(gateway);
  if (it == gateways.end())
    it = gateways.emplace(std::string(gateway), GatewayReport{.gateway = std::string(gateway)})
             .first;
  return it->second;
}

}  // namespace

int64_t CoolDownMs(const BreakerSettings& breaker, int32_t failures_in_a_row) {
  if (breaker.break_after <= 0 || failures_in_a_row < breaker.break_after) return 0;
  int64_t wait = std::max<int64_t>(breaker.first_ms, 1);
  // Doubling stops at the ceiling, long before the count could overflow.
  for (int32_t n = breaker.break_after; n < failures_in_a_row && wait < breaker.ceiling_ms; ++n)
    wait *= 2;
  return std::min(wait, std::max(breaker.ceiling_ms, breaker.first_ms));
}

std::string SpanText(int64_t ms) {
  const int64_t s = (std::max<int64_t>(ms, 0) + 500) / 1000;  // to the nearest second
  if (s < 120) return std::to_string(s) + " s";
  if (s < 7200) return std::to_string(s / 60) + " min";
  const int64_t minutes = s / 60 % 60;
  return std::to_string(s / 3600) + " h" + (minutes ? " " + std::to_string(minutes) + " min" : "");
}

std::optional<std::string> GatewayHealth::Succeeded(std::string_view gateway, int64_t now_unix_ms) {
  std::lock_guard lock(mutex_);
  GatewayReport& g = Entry(gateways_, gateway);
  std::optional<std::string> line;
  if (g.broken)
    line = "gateway " + g.gateway + " back after " + SpanText(now_unix_ms - g.down_since_unix_ms);
  g.up = true;
  g.last_success_unix_ms = now_unix_ms;
  g.failures_in_a_row = 0;
  g.down_since_unix_ms = 0;
  g.broken = false;
  g.cool_until_unix_ms = 0;
  return line;
}

std::optional<std::string> GatewayHealth::Failed(std::string_view gateway, std::string_view text,
                                                 bool transient, int64_t now_unix_ms,
                                                 const BreakerSettings* breaker) {
  std::lock_guard lock(mutex_);
  GatewayReport& g = Entry(gateways_, gateway);
  if (g.up || g.down_since_unix_ms == 0) g.down_since_unix_ms = now_unix_ms;
  g.up = false;
  g.last_failure_unix_ms = now_unix_ms;
  g.last_failure = text;
  if (!transient) return std::nullopt;
  ++g.failures_in_a_row;
  const int64_t cool = breaker ? CoolDownMs(*breaker, g.failures_in_a_row) : 0;
  if (cool == 0) return std::nullopt;
  g.cool_until_unix_ms = now_unix_ms + cool;
  if (g.broken) return std::nullopt;  // a probe failed: said already
  g.broken = true;
  return "gateway " + g.gateway + " down after " + std::to_string(g.failures_in_a_row) +
         " failures in a row: " + g.last_failure;
}

std::optional<int64_t> GatewayHealth::HeldUntil(std::string_view gateway,
                                                const BreakerSettings& breaker,
                                                int64_t now_unix_ms) {
  std::lock_guard lock(mutex_);
  auto it = gateways_.find(gateway);
  if (it == gateways_.end() || !it->second.broken) return std::nullopt;
  GatewayReport& g = it->second;
  if (now_unix_ms < g.cool_until_unix_ms) return g.cool_until_unix_ms;
  // This try probes; the others wait as long as they would after its failure.
  g.cool_until_unix_ms = now_unix_ms + CoolDownMs(breaker, g.failures_in_a_row + 1);
  return std::nullopt;
}

std::vector<GatewayReport> GatewayHealth::Snapshot() const {
  std::lock_guard lock(mutex_);
  std::vector<GatewayReport> out;
  out.reserve(gateways_.size());
  for (const auto& [name, report] : gateways_) out.push_back(report);
  return out;
}

}  // namespace qz
