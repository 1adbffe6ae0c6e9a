#include "server/status_line.h"

#include <ctime>

namespace qz {
namespace {

std::string LocalClockTime(int64_t unix_ms) {
  const std::time_t t = static_cast<std::time_t>(unix_ms / 1000);
  std::tm local{};
  localtime_r(&t, &local);
  char text[8];
  std::strftime(text, sizeof text, "%H:%M", &local);
  return text;
}

}  // namespace

std::string ServingLine(const StatusFacts& facts) {
  std::string line = (facts.stopping ? "stopping: " : "serving: ") + std::to_string(facts.pending) +
                     " pending, " + std::to_string(facts.retrying) + " retrying";
  if (facts.failed > 0) line += ", " + std::to_string(facts.failed) + " failed";
  for (const GatewayReport& g : facts.gateways)
    if (!g.up) line += ", " + g.gateway + " down since " + LocalClockTime(g.down_since_unix_ms);
  return line;
}

}  // namespace qz
