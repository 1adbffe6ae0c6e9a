// The request journal of a fleet of daemons: one PostgreSQL database that
// every daemon of the fleet keeps its accepted requests in. Each entry is a
// row; the daemon that wrote or claimed it owns it under a lease that a
// thread of the owner renews every third of the lease. Rows whose owner is
// gone (its lease ran out) or that no daemon owns (handed to the fleet:
// their gateways are served elsewhere) are claimed by whichever daemon
// serves what they need, one daemon per row (SELECT … FOR UPDATE SKIP
// LOCKED).
//
// Put() returns after COMMIT. Concurrent Puts go to a writer thread that
// writes all waiting ones, with the Removes queued meanwhile, in one
// statement (group commit); a Remove waits at most 10 ms for a Put to ride
// with. A Remove the database did not take is kept and written again with
// back-off, before anything else once it is back. When the database is out
// of reach calls fail at once (a connection attempt gives up after 2 s and
// is tried again with back-off); one line is reported when it goes and one
// when it comes back.
//
// Round trips: Puts and Removes share one per batch; NewKey one per
// block of 1024 keys; Claim, NextLeaseEnd and StillHolds (once the last
// renewal is older than two thirds of the lease) one; TakeOverEarlierRuns two; counts,
// listings, Daemons, Unclaimable and Holder one each; renewal one per third
// of a lease. Safe from any thread.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "dispatch/journal_store.h"
#include "dispatch/request_record.h"
#include "platform/pg_connection.h"
#include "platform/status.h"

namespace qz {

// A daemon of the fleet as the database last saw it.
struct FleetDaemon {
  std::string name;
  std::vector<std::string> serves;
  int64_t seen_unix_ms = 0;
  bool alive = false;  // seen within a lease
  uint32_t holds = 0;  // tries it holds under a lease that has not run out
};

class PgJournal final : public JournalStore {
 public:
  struct Options {
    std::string name{};  // this daemon's in the fleet; empty: "hostname:pid"
    std::chrono::seconds lease{120};
    // What this daemon can send: paging gateway numbers ("0", "1", …) and
    // "mail".
    std::set<std::string> serves{};
    // What a try of `record` needs, in the words of `serves`; a try whose
    // needs this daemon does not all serve is left to the fleet. Unset:
    // nothing (any daemon may run it).
    std::function<std::vector<std::string>(const RequestRecord&)> needs{};
    // Claim() also takes tries due within this much from now.
    std::chrono::milliseconds claim_ahead{1000};
    std::function<void(std::string_view line)> report{};
  };

  // Connects to `url` (postgresql://… or keywords), creates or migrates the
  // schema and enters this daemon in the fleet. Null, with `status` saying
  // why, when the database cannot be reached or its schema is newer.
  static std::unique_ptr<PgJournal> Open(const std::string& url, Options options, Status& status);
  // Writes what waits, tries failed Removes once more and leaves the fleet
  // without releasing its rows: they are claimed once their lease runs out.
  ~PgJournal() override;
  PgJournal(const PgJournal&) = delete;
  PgJournal& operator=(const PgJournal&) = delete;

  uint64_t NewKey() override;  // 0 when the database cannot hand out keys
  // Writes the entry and owns it, or leaves it to the fleet when its needs
  // are served elsewhere; false when another live daemon holds it or the
  // database did not take it.
  bool Put(uint64_t key, std::string_view payload) override;
  bool PutRecord(uint64_t key, std::string_view payload, const RequestRecord& record) override;
  bool PutFailed(uint64_t key, std::string_view payload) override;
  void HoldFailed(uint64_t /*key*/, std::string /*payload*/) override {}  // already in the table
  // Ends an entry this daemon owns, or one nobody owns (a dead letter, a
  // try left to the fleet); one another daemon holds stays. Written with
  // the next batch without waiting for it (a lost removal repeats a run);
  // false when the database is out of reach (it is retried).
  bool Remove(uint64_t key) override;
  // Stops removing and releases this daemon's rows, so the fleet claims
  // them at once.
  void KeepEverything() override;
  // Claims every try this daemon may run, due or not (the replay waits for
  // their times), and those it held under the same name before; also
  // answers the fleet's dead letters, unclaimed, so that expired ones go.
  std::vector<Leftover> TakeOverEarlierRuns() override;

  void ReportFailure(std::string_view line) const override;
  size_t LiveCount() const override;  // of the fleet
  size_t FailedCount() const override;
  std::vector<Leftover> Failed() const override;  // the fleet's, by key
  const std::string& where() const override { return where_; }

  bool RefusesWhenNotDurable() const override { return true; }
  bool StillHolds(uint64_t key) override;
  bool AcceptedElsewhere(uint64_t key) const override;
  std::vector<Leftover> Claim(size_t at_most) override;
  std::optional<std::chrono::milliseconds> NextLeaseEnd() override;
  bool WaitsHere(uint64_t key) const override;

  const std::string& name() const { return options_.name; }
  std::vector<FleetDaemon> Daemons() const;  // by name
  // Live tries due more than a lease ago that no live daemon serves.
  size_t Unclaimable() const override;
  // The daemon holding `key` under an unexpired lease; nullopt for none.
  std::optional<std::string> Holder(uint64_t key) const;

  // A database address without its password, for the daemon's lines.
  static std::string WithoutPassword(const std::string& url);

 private:
  struct Made {};  // only Open() makes one

 public:
  PgJournal(Made, std::string url, Options options);

 private:
  // One connection, made again with back-off once it is lost.
  struct Link {
    std::unique_ptr<PgConnection> connection;
    std::chrono::steady_clock::time_point retry_at;
    std::chrono::milliseconds backoff{0};
  };
  enum class OpKind { kPut, kPutFailed };
  enum class Outcome { kWaiting, kOwned, kLeft, kRefused, kNotWritten };
  struct Op {
    OpKind kind = OpKind::kPut;
    uint64_t key = 0;
    std::string payload_hex{};
    std::string needs{};  // comma-separated
    int64_t due_unix_ms = 0;
    bool own = true;
    Outcome outcome = Outcome::kWaiting;
  };

  PgResult Run(Link& link, const std::function<PgResult(PgConnection&)>& statement) const;
  bool Connect(Link& link) const;
  void Reachable(bool reachable, const std::string& why) const;
  Status Migrate();
  bool Submit(Op& op);
  void WriterLoop();
  void WriteBatch(std::vector<Op*>& batch, const std::vector<uint64_t>& removing);
  void LeaseLoop();
  bool Renew();
  PgResult Query(const std::string& sql, std::vector<std::optional<std::string>> params) const;
  // Claims by kPgClaimSql's parameters.
  std::vector<Leftover> ClaimRows(std::vector<std::optional<std::string>> params);
  void Hold(uint64_t key);
  std::string LeaseSeconds() const { return std::to_string(options_.lease.count()); }
  std::string ServesArray() const;

  std::string url_;
  std::string where_;
  Options options_;

  mutable std::mutex query_mutex_;  // query_link_, and the counts below
  mutable Link query_link_;
  mutable size_t live_count_ = 0;  // the last answers, for when there is none
  mutable size_t failed_count_ = 0;
  uint64_t next_key_ = 0;  // with query_mutex_ held
  uint64_t keys_left_ = 0;

  mutable std::mutex report_mutex_;
  mutable bool reachable_ = true;

  mutable std::mutex mutex_;  // what follows
  std::condition_variable wake_writer_;
  std::condition_variable written_;
  std::condition_variable wake_lease_;
  std::vector<Op*> pending_;        // puts waiting for the writer
  std::vector<uint64_t> removing_;  // removals not sent yet
  std::chrono::steady_clock::time_point removing_since_;
  std::set<uint64_t> unremoved_;  // removals not written yet
  std::chrono::steady_clock::time_point retry_removes_at_;
  std::chrono::milliseconds retry_backoff_{0};
  bool stopping_ = false;
  std::atomic<bool> keep_everything_{false};
  // Keys this daemon owns, each with the stamp of when it became so, so a
  // renewal that raced a new Put does not drop it.
  std::unordered_map<uint64_t, uint64_t> held_;
  uint64_t hold_stamp_ = 0;
  std::unordered_set<uint64_t> left_;                 // written for the fleet (not held)
  std::unordered_set<uint64_t> elsewhere_;            // claimed, accepted by another daemon
  std::chrono::steady_clock::time_point renewed_at_;  // sent, last renewal that succeeded

  Link write_link_;  // writer thread only
  std::thread writer_;
  std::thread renewer_;
};

}  // namespace qz
