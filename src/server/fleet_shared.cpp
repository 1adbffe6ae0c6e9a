#include "server/fleet_shared.h"

#include <map>
#include <utility>
#include <vector>

#include "dispatch/pg_journal.h"
#include "platform/pg_connection.h"

namespace qz {
namespace {

// The tries each daemon holds under a lease that has not run out.
constexpr const char* kFleetHoldsSql =
    "SELECT owner, count(*) FROM qznotes_requests WHERE NOT failed AND owner IS NOT NULL"
    " AND lease_until > now() GROUP BY owner";

}  // namespace

FleetShared::FleetShared(std::string conninfo, const PgJournal& journal,
                         std::function<void(std::string_view line)> report)
    : conninfo_(std::move(conninfo)),
      journal_(journal),
      ledger_(conninfo_, journal.name(), std::move(report)),
      line_locks_(conninfo_) {}

FleetShared::~FleetShared() = default;

std::optional<FleetFacts> FleetShared::Facts() {
  std::lock_guard lock(mutex_);
  if (!connection_ || !connection_->Connected()) {
    Status status;
    connection_ = PgConnection::Open(conninfo_, status);
    if (!connection_) return std::nullopt;
  }
  const PgResult holds = connection_->Exec(kFleetHoldsSql);
  // This daemon is one of the fleet: none at all means no answer.
  std::vector<FleetDaemon> daemons = journal_.Daemons();
  if (!holds.ok() || daemons.empty()) return std::nullopt;
  std::map<std::string, uint32_t> held;
  for (int row = 0; row < holds.rows(); ++row)
    held[holds.value(row, 0)] = static_cast<uint32_t>(holds.Int(row, 1));
  FleetFacts facts;
  for (FleetDaemon& daemon : daemons)
    facts.daemons.push_back({.name = daemon.name,
                             .serves = std::move(daemon.serves),
                             .seen_unix_ms = daemon.seen_unix_ms,
                             .alive = daemon.alive,
                             .holds = held[daemon.name]});
  facts.unclaimable = static_cast<uint32_t>(journal_.Unclaimable());
  return facts;
}

}  // namespace qz
