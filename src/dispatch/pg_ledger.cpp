#include "dispatch/pg_ledger.h"

#include <algorithm>
#include <array>
#include <optional>
#include <utility>
#include <vector>

#include "platform/pg_connection.h"

namespace qz {
namespace {

// Two daemons starting together make the tables one after the other.
constexpr const char* kLedgerTablesSql =
    "SET client_min_messages TO warning;"
    "BEGIN;"
    "SELECT pg_advisory_xact_lock(hashtextextended('qznotes ledger tables', 0));"
    "CREATE TABLE IF NOT EXISTS qznotes_sends (recipient text NOT NULL, sent_ms bigint NOT NULL,"
    " daemon text NOT NULL);"
    "CREATE INDEX IF NOT EXISTS qznotes_sends_recipient ON qznotes_sends (recipient, sent_ms);"
    "CREATE TABLE IF NOT EXISTS qznotes_recent_texts (digest text PRIMARY KEY,"
    " sent_ms bigint NOT NULL, request text NOT NULL);"
    "COMMIT;";
constexpr const char* kLedgerLockSql =
    "SELECT pg_advisory_xact_lock(hashtextextended('qznotes send ' || $1, 0))";
constexpr const char* kLedgerTimesSql =
    "SELECT sent_ms FROM qznotes_sends WHERE recipient = $1 AND sent_ms > $2 ORDER BY sent_ms";
constexpr const char* kLedgerTakeSql = "INSERT INTO qznotes_sends VALUES ($1, $2, $3)";
constexpr const char* kLedgerGiveBackSql =
    "DELETE FROM qznotes_sends WHERE ctid = (SELECT ctid FROM qznotes_sends WHERE recipient = $1"
    " AND sent_ms = $2 AND daemon = $3 LIMIT 1)";
constexpr const char* kLedgerDuplicateSql =
    "SELECT request FROM qznotes_recent_texts WHERE digest = $1 AND sent_ms > $2";
constexpr const char* kLedgerRecordSql =
    "INSERT INTO qznotes_recent_texts VALUES ($1, $2, $3) ON CONFLICT (digest) DO UPDATE"
    " SET sent_ms = excluded.sent_ms, request = excluded.request"
    " WHERE qznotes_recent_texts.sent_ms <= excluded.sent_ms";
constexpr std::array<const char*, 2> kLedgerSweepSql = {
    "DELETE FROM qznotes_sends WHERE sent_ms < $1",
    "DELETE FROM qznotes_recent_texts WHERE sent_ms < $1"};
// Sweeps come at most this often; rows stay at least a day, so a daemon
// with longer windows than this one still finds its sends.
constexpr int64_t kLedgerSweepEveryMs = 5 * 60'000;
constexpr int64_t kLedgerKeepAtLeastMs = 24 * 3'600'000;
constexpr size_t kLedgerRequestChars = 256;
constexpr std::chrono::seconds kLedgerRetryConnect{5};

using LedgerParams = std::vector<std::optional<std::string>>;

}  // namespace

PgLedger::PgLedger(std::string conninfo, std::string daemon,
                   std::function<void(std::string_view line)> report)
    : conninfo_(std::move(conninfo)), daemon_(std::move(daemon)), report_(std::move(report)) {}

PgLedger::~PgLedger() = default;

PgConnection* PgLedger::Ready() {
  if (!connection_ || !connection_->Connected()) {
    // Each try may take a connect time-out: sends do not wait for it every time.
    const auto now = std::chrono::steady_clock::now();
    if (now < retry_at_) return nullptr;
    Status status;
    if (!connection_) connection_ = PgConnection::Open(conninfo_, status);
    if (!connection_ || (!connection_->Connected() && !connection_->Reset())) {
      retry_at_ = now + kLedgerRetryConnect;
      Failed("connect", connection_ ? connection_->error() : status.message());
      return nullptr;
    }
  }
  if (!tables_made_) {
    const PgResult made = connection_->Exec(kLedgerTablesSql);
    if (!made.ok()) {
      connection_->Exec("ROLLBACK");
      Failed("make the tables", made.error());
      return nullptr;
    }
    tables_made_ = true;
  }
  if (std::exchange(troubled_, false) && report_)
    report_("throttles and duplicate window: the database is back");
  return connection_.get();
}

bool PgLedger::Failed(const std::string& what, const std::string& error) {
  if (!troubled_ && report_)
    report_("throttles and duplicate window: cannot " + what + ": " + error +
            " (sends are neither held back nor suppressed meanwhile)");
  troubled_ = true;
  return false;
}

std::optional<SendLedger::Hold> PgLedger::Take(const std::string& recipient,
                                               const std::vector<ThrottleCap>& caps,
                                               int64_t now_ms) {
  int64_t longest = 0;
  for (const ThrottleCap& cap : caps)
    longest = std::max<int64_t>(longest, std::chrono::milliseconds(cap.window).count());
  std::lock_guard lock(mutex_);
  PgConnection* db = Ready();
  if (!db) return std::nullopt;
  longest_ms_ = std::max(longest_ms_, longest);
  const LedgerParams key = {recipient};
  const LedgerParams since = {recipient, std::to_string(now_ms - longest)};
  const LedgerParams take = {recipient, std::to_string(now_ms), daemon_};
  // Each statement sees what other daemons committed before it; the lock
  // makes the count and the insert one step across the fleet.
  PgResult begun = db->Exec("BEGIN");
  PgResult locked = begun.ok() ? db->ExecParams(kLedgerLockSql, key) : std::move(begun);
  PgResult rows = locked.ok() ? db->ExecParams(kLedgerTimesSql, since) : std::move(locked);
  std::optional<Hold> hold;
  if (rows.ok()) {
    std::vector<int64_t> times;
    for (int row = 0; row < rows.rows(); ++row) times.push_back(rows.Int(row, 0));
    hold = CapsHold(times, caps, now_ms);
    if (!hold) rows = db->ExecParams(kLedgerTakeSql, take);
  }
  const PgResult ended = db->Exec(rows.ok() ? "COMMIT" : "ROLLBACK");
  if (!rows.ok() || !ended.ok()) {
    Failed("count the sends", rows.ok() ? ended.error() : rows.error());
    return std::nullopt;
  }
  SweepNowAndThen(now_ms, longest_ms_);
  return hold;
}

void PgLedger::GiveBack(const std::string& recipient, int64_t taken_ms) {
  std::lock_guard lock(mutex_);
  if (PgConnection* db = Ready()) {
    const PgResult given = db->ExecParams(
        kLedgerGiveBackSql, LedgerParams{recipient, std::to_string(taken_ms), daemon_});
    if (!given.ok()) Failed("give a send back", given.error());
  }
}

std::optional<std::string> PgLedger::DuplicateOf(const std::string& digest,
                                                 std::chrono::seconds window, int64_t now_ms) {
  const int64_t oldest = now_ms - std::chrono::milliseconds(window).count();
  std::lock_guard lock(mutex_);
  PgConnection* db = Ready();
  if (!db) return std::nullopt;
  const PgResult found =
      db->ExecParams(kLedgerDuplicateSql, LedgerParams{digest, std::to_string(oldest)});
  if (!found.ok()) {
    Failed("look for a duplicate", found.error());
    return std::nullopt;
  }
  if (found.rows() == 0) return std::nullopt;
  return found.value(0, 0);
}

void PgLedger::RecordSent(const std::string& digest, std::string_view request,
                          std::chrono::seconds window, int64_t now_ms) {
  std::lock_guard lock(mutex_);
  PgConnection* db = Ready();
  if (!db) return;
  longest_ms_ = std::max<int64_t>(longest_ms_, std::chrono::milliseconds(window).count());
  const PgResult recorded = db->ExecParams(
      kLedgerRecordSql, LedgerParams{digest, std::to_string(now_ms),
                                     std::string(request.substr(0, kLedgerRequestChars))});
  if (!recorded.ok()) return (void)Failed("record a send", recorded.error());
  SweepNowAndThen(now_ms, longest_ms_);
}

void PgLedger::SweepNowAndThen(int64_t now_ms, int64_t keep_ms) {
  if (now_ms < next_sweep_ms_) return;
  next_sweep_ms_ = now_ms + kLedgerSweepEveryMs;
  const std::string oldest = std::to_string(now_ms - std::max(2 * keep_ms, kLedgerKeepAtLeastMs));
  for (const char* sql : kLedgerSweepSql)
    if (const PgResult swept = connection_->ExecParams(sql, LedgerParams{oldest}); !swept.ok())
      return (void)Failed("sweep old sends", swept.error());
}

}  // namespace qz
