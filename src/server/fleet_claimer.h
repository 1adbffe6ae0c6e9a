// In a fleet: takes up the tries other daemons left to it (handed to the
// fleet, or held by a daemon that stopped answering) and runs each as a
// replayed one. A timer on the main loop asks for a round every quarter of
// the lease (at most 5 s), and once at start, after the replay took over
// the earlier runs; a round that comes back full goes on at once, a short
// one waits for the next tick, or for the first lease of another daemon to
// run out when that comes sooner (a dead daemon's tries go out soon after
// its lease). Every fourth tick it counts the tries no live daemon can
// claim and says so when that count changes. The database is asked on a
// thread of its own, so a slow or vanished database never holds up the
// main loop's calls. Construct, use and destroy on the main thread.
#pragma once

#include <gio/gio.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "automation/timer_queue.h"
#include "dispatch/journal_store.h"
#include "dispatch/request_record.h"
#include "platform/holders.h"
#include "server/object_calls.h"

namespace qz {

class FleetClaimer {
 public:
  // `journal`, `connection` and `objects` must outlive this.
  FleetClaimer(JournalStore& journal, GDBusConnection* connection, ObjectCalls& objects,
               std::chrono::seconds lease);
  // Waits for a round under way to end (its answer is then dropped: the
  // tries it claimed pass on with their lease).
  ~FleetClaimer();
  FleetClaimer(const FleetClaimer&) = delete;
  FleetClaimer& operator=(const FleetClaimer&) = delete;

  static std::chrono::milliseconds Period(std::chrono::seconds lease);

 private:
  // What one round on the worker learned from the database.
  struct Round {
    std::vector<JournalStore::Leftover> claimed;
    bool full = false;  // more may be waiting: another round at once
    std::optional<std::chrono::milliseconds> next_lease_end;
    std::optional<size_t> unclaimable;
  };
  static gboolean OnTick(gpointer self);
  static gboolean OnLeaseEnd(gpointer self);
  void Ask(bool count_unclaimable);  // a round, unless one is under way
  void WorkerLoop();
  void Finish(Round round);  // main thread
  void TakeUp(uint64_t key, RequestRecord record);

  JournalStore& journal_;
  GDBusConnection* connection_;
  ObjectCalls& objects_;
  TimerQueue waiting_;  // claimed tries whose time has not come
  std::chrono::milliseconds period_;
  SourcePtr tick_;
  SourcePtr lease_end_;  // a round as the first lease of another daemon runs out
  unsigned ticks_ = 0;
  size_t unclaimable_ = 0;  // at the last count
  bool under_way_ = false;  // a round was asked and has not finished
  const std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);  // main thread only

  std::mutex mutex_;
  std::condition_variable asked_;
  bool wanted_ = false;
  bool count_wanted_ = false;
  bool stop_ = false;
  std::thread worker_;  // last: started once the rest exists
};

}  // namespace qz
