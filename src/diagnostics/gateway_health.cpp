#include "diagnostics/gateway_health.h"

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

void GatewayHealth::Succeeded(std::string_view gateway, int64_t now_unix_ms) {
  std::lock_guard lock(mutex_);
  GatewayReport& g = Entry(gateways_, gateway);
  g.up = true;
  g.last_success_unix_ms = now_unix_ms;
  g.failures_in_a_row = 0;
}

void GatewayHealth::Failed(std::string_view gateway, std::string_view text, bool transient,
                           int64_t now_unix_ms) {
  std::lock_guard lock(mutex_);
  GatewayReport& g = Entry(gateways_, gateway);
  g.up = false;
  g.last_failure_unix_ms = now_unix_ms;
  g.last_failure = text;
  if (transient) ++g.failures_in_a_row;
}

std::vector<GatewayReport> GatewayHealth::Snapshot() const {
  std::lock_guard lock(mutex_);
  std::vector<GatewayReport> out;
  out.reserve(gateways_.size());
  for (const auto& [name, report] : gateways_) out.push_back(report);
  return out;
}

}  // namespace qz
