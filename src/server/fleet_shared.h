// What a daemon shares with the fleet through its journal's database
// beyond the journal itself: the send ledger (throttles and the duplicate
// window), the pager terminal's line locks, and the fleet as the status
// answer and the metrics show it. Made only when the journal is a fleet's;
// a daemon alone keeps all of this to itself as before. Safe from any
// thread; the view asks through the journal's own connection.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "dispatch/pg_ledger.h"
#include "gateways/pg_line_locks.h"
#include "server/status_view.h"

namespace qz {

class PgJournal;

class FleetShared {
 public:
  // `conninfo`: the database of `journal`, the fleet's journal.
  FleetShared(std::string conninfo, const PgJournal& journal,
              std::function<void(std::string_view line)> report);
  ~FleetShared();

  SendLedger& ledger() { return ledger_; }
  LineLocks& line_locks() { return line_locks_; }
  // Every daemon of the fleet and the tries none of them can take;
  // nothing when the database cannot say.
  std::optional<FleetFacts> Facts();

 private:
  const PgJournal& journal_;
  PgLedger ledger_;
  PgLineLocks line_locks_;
};

}  // namespace qz
