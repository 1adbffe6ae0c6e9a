// In a fleet: takes up the tries other daemons left to it (handed to the
// fleet, or held by a daemon that stopped answering) and runs each as a
// replayed one. A timer on the main loop claims every quarter of the lease
// (at most 5 s), and once at start, after the replay took over the earlier
// runs; a claim that comes back full goes on at once, a short one waits
// for the next tick, or for the first lease of another daemon to run out
// when that comes sooner (a dead daemon's tries go out soon after its
// lease). Every fourth tick it counts the tries no live daemon can claim
// and says so when that count changes. Main thread only.
#pragma once

#include <gio/gio.h>

#include <chrono>
#include <cstdint>
#include <string>

#include "automation/timer_queue.h"
#include "dispatch/journal_store.h"
#include "platform/holders.h"
#include "server/object_calls.h"

namespace qz {

class FleetClaimer {
 public:
  // `journal`, `connection` and `objects` must outlive this.
  FleetClaimer(JournalStore& journal, GDBusConnection* connection, ObjectCalls& objects,
               std::chrono::seconds lease);
  ~FleetClaimer();
  FleetClaimer(const FleetClaimer&) = delete;
  FleetClaimer& operator=(const FleetClaimer&) = delete;

  static std::chrono::milliseconds Period(std::chrono::seconds lease);

 private:
  static gboolean OnTick(gpointer self);
  static gboolean OnMore(gpointer self);
  static gboolean OnLeaseEnd(gpointer self);
  void ClaimMore();
  void ClaimAtNextLeaseEnd();  // after a short batch
  bool ClaimBatch();           // true when the batch came back full
  void TakeUp(uint64_t key, const std::string& payload);
  void CountUnclaimable();

  JournalStore& journal_;
  GDBusConnection* connection_;
  ObjectCalls& objects_;
  TimerQueue waiting_;  // claimed tries whose time has not come
  std::chrono::milliseconds period_;
  SourcePtr tick_;
  SourcePtr lease_end_;  // a claim as the first lease of another daemon runs out
  SourcePtr more_;       // the claim at start, and one more after a full batch
  unsigned ticks_ = 0;
  size_t unclaimable_ = 0;  // at the last count
};

}  // namespace qz
