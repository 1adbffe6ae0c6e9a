// At start: the requests an earlier run accepted and did not finish (it was
// killed, crashed or lost power) run again, each on an object of its own
// that goes once its run has ended, as a one-shot call's object does.
// The journal is read a slice at a time from a low-priority source on the
// main loop, so the server answers calls while it replays. A request that
// waits for its next try is kept as its journal record until it is due:
// no object is made for it before then. Main thread only.
#pragma once

#include <gio/gio.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "automation/timer_queue.h"
#include "diagnostics/gateway_health.h"
#include "dispatch/journal_store.h"
#include "platform/holders.h"
#include "server/object_calls.h"

namespace qz {

class JournalReplay {
 public:
  // Takes over the earlier runs' files now (the bus name is the server's,
  // so no other daemon runs them); the rest happens on the main loop.
  // Requests that gave up stay as dead letters, dropped once kept past
  // KeepFailed of the program folder `folder`. `health` counts the
  // requests waiting for their next try; `journal`, `objects` and `health`
  // must outlive this.
  JournalReplay(JournalStore& journal, GDBusConnection* connection, ObjectCalls& objects,
                const std::string& folder, GatewayHealth* health);
  ~JournalReplay();
  JournalReplay(const JournalReplay&) = delete;
  JournalReplay& operator=(const JournalReplay&) = delete;

  // Every request taken up, and none left waiting for its time.
  bool Done() const { return !slicing_ && waiting_.size() == 0; }

 private:
  static gboolean OnSlice(gpointer self);
  bool Sort();    // false once every leftover is sorted
  bool RunDue();  // false once every due one runs
  void TakeUp(uint64_t key, const std::string& payload);
  void Summary() const;

  JournalStore& journal_;
  GDBusConnection* connection_;
  ObjectCalls& objects_;
  GatewayHealth* health_;
  int keep_days_;
  std::vector<JournalStore::Leftover> leftovers_;
  size_t sorted_ = 0;
  size_t failed_ = 0;
  std::vector<std::pair<uint64_t, RequestRecord>> due_;
  size_t started_ = 0;
  TimerQueue waiting_;
  std::deque<WaitingMark> waiting_marks_;  // one per entry of waiting_
  SourcePtr slice_;
  bool slicing_ = true;  // until every leftover is sorted and every due one started
};

// Starts the replay of `journal` and hands it to `objects`, which keeps it
// for the server's life.
void ReplayJournal(JournalStore& journal, GDBusConnection* connection, ObjectCalls& objects,
                   const std::string& folder);

// The request kept under `key`, or none after a daemon line saying why it
// cannot be read (`who`: "journal", "fleet") and that it stays where it is.
std::optional<RequestRecord> ReadKept(const JournalStore& journal, uint64_t key,
                                      std::string_view payload, std::string_view who);

// Who hears the outcome of a request kept in the journal when it runs
// again: none for a unique connection name of an earlier bus life.
std::shared_ptr<DispatchObject> KeptCallback(GDBusConnection* connection,
                                             const RequestRecord& record);
// The same for the entry `key` of `journal`: none when another daemon of a
// fleet accepted it, on a bus this daemon cannot reach.
std::shared_ptr<DispatchObject> KeptCallback(GDBusConnection* connection, JournalStore& journal,
                                             uint64_t key, const RequestRecord& record);

// How the log names a request taken up on an object of its own.
struct TakingUp {
  std::string verb;    // "replaying"
  std::string done;    // "replayed request done"
  std::string suffix;  // of its delivery report: " (replayed)"
};

// Any thread: runs `record`, kept under `key`, on an object of its own that
// goes once its run has ended, seated as an object of `user` when known.
void ResumeOnOwnObject(ObjectCalls& objects, GDBusConnection* connection, uint64_t key,
                       RequestRecord record, std::shared_ptr<DispatchObject> callback, TakingUp how,
                       std::optional<uid_t> user = std::nullopt);

}  // namespace qz
