#include "server/fleet_shared.h"

#include <utility>
#include <vector>

#include "dispatch/pg_journal.h"

namespace qz {

FleetShared::FleetShared(std::string conninfo, const PgJournal& journal,
                         std::function<void(std::string_view line)> report)
    : journal_(journal),
      ledger_(conninfo, journal.name(), std::move(report)),
      line_locks_(std::move(conninfo)) {}

FleetShared::~FleetShared() = default;

std::optional<FleetFacts> FleetShared::Facts() {
  // This daemon is one of the fleet: none at all means no answer.
  std::vector<FleetDaemon> daemons = journal_.Daemons();
  if (daemons.empty()) return std::nullopt;
  FleetFacts facts;
  for (FleetDaemon& daemon : daemons)
    facts.daemons.push_back({.name = std::move(daemon.name),
                             .serves = std::move(daemon.serves),
                             .seen_unix_ms = daemon.seen_unix_ms,
                             .alive = daemon.alive,
                             .holds = daemon.holds});
  facts.unclaimable = static_cast<uint32_t>(journal_.Unclaimable());
  return facts;
}

}  // namespace qz
