// The send ledger of a fleet: the sends and the recent texts kept in tables
// of the fleet's database, so a throttle's cap and the duplicate window hold
// across every daemon. A Take is one transaction under an advisory lock on
// the recipient, so two daemons never both take the last slot. Old rows are
// swept now and then. When the database is out of reach nothing is held
// back or suppressed (one line says so): the page is not lost for a count;
// a new connection is tried at most every few seconds.
// Safe from any thread; calls share one connection in turn.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "dispatch/send_ledger.h"

namespace qz {

class PgConnection;

class PgLedger final : public SendLedger {
 public:
  // `conninfo`: the fleet's database; `daemon`: this daemon's name in it.
  PgLedger(std::string conninfo, std::string daemon,
           std::function<void(std::string_view line)> report);
  ~PgLedger() override;

  std::optional<Hold> Take(const std::string& recipient, const std::vector<ThrottleCap>& caps,
                           int64_t now_ms) override;
  void GiveBack(const std::string& recipient, int64_t taken_ms) override;
  std::optional<std::string> DuplicateOf(const std::string& digest, std::chrono::seconds window,
                                         int64_t now_ms) override;
  void RecordSent(const std::string& digest, std::string_view request, std::chrono::seconds window,
                  int64_t now_ms) override;

 private:
  // The connection with the tables made; null (said once) when out of reach.
  PgConnection* Ready();  // with mutex_ held
  bool Failed(const std::string& what, const std::string& error);
  void SweepNowAndThen(int64_t now_ms, int64_t keep_ms);  // with mutex_ held

  const std::string conninfo_;
  const std::string daemon_;
  const std::function<void(std::string_view)> report_;
  std::mutex mutex_;
  std::unique_ptr<PgConnection> connection_;
  std::chrono::steady_clock::time_point retry_at_{};  // no connecting before
  bool tables_made_ = false;
  bool troubled_ = false;
  int64_t next_sweep_ms_ = 0;
  int64_t longest_ms_ = 0;  // the longest window asked for yet
};

}  // namespace qz
