#include "server/fleet_shared.h"

#include <unistd.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "platform/pg_connection.h"

namespace qz {
namespace {

// Every daemon with the tries it holds under a lease that has not run out.
constexpr const char* kFleetDaemonsSql =
    "SELECT d.name, array_to_string(d.serves, ','), (extract(epoch FROM d.seen) * 1000)::bigint,"
    " d.seen > now() - make_interval(secs => $1),"
    " (SELECT count(*) FROM qznotes_requests r WHERE r.owner = d.name AND NOT r.failed"
    "  AND r.lease_until > now())"
    " FROM qznotes_daemons d ORDER BY d.name";
// Live tries overdue by a lease whose needs no live daemon serves.
constexpr const char* kFleetUnclaimableSql =
    "SELECT count(*) FROM qznotes_requests r WHERE NOT r.failed"
    " AND (r.owner IS NULL OR r.lease_until < now()) AND r.due < now() - make_interval(secs => $1)"
    " AND NOT EXISTS (SELECT 1 FROM qznotes_daemons d"
    "  WHERE d.seen > now() - make_interval(secs => $1) AND r.needs <@ d.serves)";

std::vector<std::string> SplitServes(const std::string& text) {
  std::vector<std::string> items;
  for (size_t at = 0; at < text.size();) {
    const size_t comma = std::min(text.find(',', at), text.size());
    items.push_back(text.substr(at, comma - at));
    at = comma + 1;
  }
  return items;
}

std::string FleetDaemonName(std::string name) {
  if (!name.empty()) return name;
  char host[256] = {};
  ::gethostname(host, sizeof host - 1);
  return std::string(host) + ":" + std::to_string(::getpid());
}

}  // namespace

FleetShared::FleetShared(std::string conninfo, std::string daemon, std::chrono::seconds lease,
                         std::function<void(std::string_view line)> report)
    : conninfo_(std::move(conninfo)),
      lease_(lease),
      ledger_(conninfo_, FleetDaemonName(std::move(daemon)), std::move(report)),
      line_locks_(conninfo_) {}

FleetShared::~FleetShared() = default;

std::optional<FleetFacts> FleetShared::Facts() {
  std::lock_guard lock(mutex_);
  if (!connection_ || !connection_->Connected()) {
    Status status;
    connection_ = PgConnection::Open(conninfo_, status);
    if (!connection_) return std::nullopt;
  }
  const std::vector<std::optional<std::string>> lease = {std::to_string(lease_.count())};
  const PgResult daemons = connection_->ExecParams(kFleetDaemonsSql, lease);
  const PgResult unclaimable = connection_->ExecParams(kFleetUnclaimableSql, lease);
  if (!daemons.ok() || !unclaimable.ok() || unclaimable.rows() != 1) return std::nullopt;
  FleetFacts facts;
  for (int row = 0; row < daemons.rows(); ++row)
    facts.daemons.push_back({.name = daemons.value(row, 0),
                             .serves = SplitServes(daemons.value(row, 1)),
                             .seen_unix_ms = daemons.Int(row, 2),
                             .alive = daemons.value(row, 3) == "t",
                             .holds = static_cast<uint32_t>(daemons.Int(row, 4))});
  facts.unclaimable = static_cast<uint32_t>(unclaimable.Int(0, 0));
  return facts;
}

}  // namespace qz
