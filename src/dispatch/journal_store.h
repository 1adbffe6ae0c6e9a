// Where accepted requests are kept until their run ends: the file journal
// of one daemon (RequestJournal) or a database shared by a fleet of them.
// Every store keeps the same promise: Put() returns true only once the
// record is durable, so a request is answered as accepted only after that.
// A fleet's store also hands each try to one daemon at a time (a lease the
// store renews while the daemon lives) and takes over the tries of daemons
// that are gone; a single daemon's store holds every entry for good.
// Safe from any thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qz {

struct RequestRecord;

class JournalStore {
 public:
  using Leftover = std::pair<uint64_t, std::string>;  // key, payload

  virtual ~JournalStore() = default;

  virtual uint64_t NewKey() = 0;
  // Records (or replaces) the entry `key`; true once it is durable.
  virtual bool Put(uint64_t key, std::string_view payload) = 0;
  // As Put, with the record `payload` encodes: a store that files an entry
  // by what it holds reads that here rather than decoding the bytes again.
  virtual bool PutRecord(uint64_t key, std::string_view payload, const RequestRecord& /*record*/) {
    return Put(key, payload);
  }
  // Records the entry `key` as a request that gave up (a dead letter):
  // it stays, and is listed by Failed(), until replaced or removed.
  virtual bool PutFailed(uint64_t key, std::string_view payload) = 0;
  // Counts an entry taken over from an earlier run as failed.
  virtual void HoldFailed(uint64_t key, std::string payload) = 0;
  // Ends the entry `key`; false when the write failed (it is retried).
  virtual bool Remove(uint64_t key) = 0;
  // From now on entries stay: the server is going away without running
  // them, and the next run (or another daemon) takes them up.
  virtual void KeepEverything() = 0;
  // The entries runs that are gone left behind, now this run's: replay
  // each, then Remove() it when its run ends.
  virtual std::vector<Leftover> TakeOverEarlierRuns() = 0;

  // Says that a request was accepted without being durable.
  virtual void ReportFailure(std::string_view line) const = 0;
  virtual size_t LiveCount() const = 0;
  virtual size_t FailedCount() const = 0;
  virtual std::vector<Leftover> Failed() const = 0;  // the dead letters, by key
  // Where the entries are, for the daemon's lines: a file's path or a
  // database's address without its password.
  virtual const std::string& where() const = 0;

  // True when a request the store cannot make durable must be refused
  // rather than accepted: a fleet's database that is out of reach.
  virtual bool RefusesWhenNotDurable() const { return false; }
  // Whether this daemon still holds the try of `key`: false once its lease
  // ran out and another daemon may have taken the try. Asked before each
  // recipient is sent, so it must be cheap while the lease is fresh.
  virtual bool StillHolds(uint64_t /*key*/) { return true; }
  // Whether the entry `key` was accepted by another daemon, whose bus this
  // daemon cannot reach (its D-Bus callback is skipped).
  virtual bool AcceptedElsewhere(uint64_t /*key*/) const { return false; }
  // Tries this daemon may take now from the shared store: due, of gateways
  // it serves, and held by no live daemon. Each is this daemon's until its
  // run ends or its lease runs out. None for a single daemon's store.
  virtual std::vector<Leftover> Claim(size_t /*at_most*/) { return {}; }
  // Tries due for a while that no live daemon serves the gateways of:
  // they wait, never dropped, until one does.
  virtual size_t Unclaimable() const { return 0; }
  // How soon the first lease another daemon holds on a try this daemon
  // serves runs out, so a claim can come back just then; nullopt when no
  // such lease runs (always, for a single daemon's store).
  virtual std::optional<std::chrono::milliseconds> NextLeaseEnd() { return std::nullopt; }
  // Whether a try kept with Put() waits here for its due time; false when
  // it was left to a daemon that serves what it needs.
  virtual bool WaitsHere(uint64_t /*key*/) const { return true; }
};

}  // namespace qz
