// The objects the server hands out and the calls that reach them: the
// factory's CreateObject, operations run on each object's apartment,
// one-shot calls on fresh objects, the IDispatch slots, and objects going
// when released or when their creator leaves the bus. Once the stop is
// decided no new work is taken. Construct on the main thread; each method
// says which thread may call it.
#pragma once

#include <gio/gio.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "automation/apartment_pool.h"
#include "automation/context_post.h"
#include "diagnostics/refusal_log.h"
#include "dispatch/server_environment.h"
#include "platform/holders.h"
#include "server/call_admission.h"
#include "server/caller_standing.h"
#include "server/caller_uids.h"
#include "server/object_table.h"
#include "server/pending_work.h"
#include "server/server_options.h"

namespace qz {

class ObjectCalls {
 public:
  // `env` names what every object uses; what it refers to, `admission` and
  // `uids` must outlive this.
  ObjectCalls(GDBusConnection* connection, const ServerOptions& options, ServerEnvironment env,
              CallAdmission& admission, CallerUids& uids);
  // Destroys every object left, each on its apartment.
  ~ObjectCalls();
  ObjectCalls(const ObjectCalls&) = delete;
  ObjectCalls& operator=(const ObjectCalls&) = delete;

  // Any thread.
  bool stopping() const { return stopping_; }
  // Runs `take` unless the stop is decided, as one step against a stop
  // being decided meanwhile. False (and `take` not run) when stopping.
  bool TakeUnlessStopping(const std::function<void()>& take);
  // Decides the stop unless it is decided already or `still_wanted`, asked
  // in the same step, says no. True when this call decided it.
  bool DecideStop(const std::function<bool()>& still_wanted);
  std::shared_ptr<ObjectEntry> Find(std::string_view path) const { return table_.Find(path); }
  std::vector<std::string> ChildrenOf(
      std::string_view path, const std::function<bool(const ObjectEntry&)>& visible) const {
    return table_.ChildrenOf(path, visible);
  }
  // No object in the table, none still being destroyed and none being made.
  bool Idle() const { return table_.size() == 0 && live_objects_ == 0 && creating_ == 0; }
  // Any thread: hands a CreateObject call to the main thread unless the
  // stop is decided, in one step with the check, so an idle exit cannot be
  // decided while it waits there. False (the call untouched) when stopping.
  bool TakeCreate(MessagePtr& call);

  // Main thread. On the system bus the caller's user must be known already
  // (CallerUids::WhenKnown): its objects are seated within its share.
  void CreateObject(GDBusMessage* call);
  void DispatchSlot(GDBusMessage* call, const std::shared_ptr<ObjectEntry>& entry);

  // Any thread: posts to the entry's apartment, where the call is parsed,
  // run and answered. A request it accepted keeps `ticket` in the entry
  // until its run ends.
  void RunOperation(std::shared_ptr<ObjectEntry> entry, MessagePtr call, const Operation& op,
                    bool invoke, CallerLedger::Ticket ticket);
  // An operation called on the factory path runs on a fresh object that
  // lives until the call and any work it accepted are done, so that one-shot
  // tools such as busctl can use the operations. Seated as CreateObject's.
  void RunOnTransientObject(MessagePtr call, const ClassDescription& description,
                            const Operation& op, bool invoke, CallerLedger::Ticket ticket);

  // Any thread: an object no caller created (a one-shot call's, a replayed
  // request's), in the table like any other so that a stop finishes its
  // work too. MakeObject() makes its object on its apartment.
  // `user`: the Unix user whose work it is, seated within that user's share.
  std::shared_ptr<ObjectEntry> AddUnowned(const ClassDescription& description,
                                          std::optional<uid_t> user = std::nullopt);
  void MakeObject(ObjectEntry& entry);  // the entry's apartment thread
  // Any thread: drops the table's reference of such an object, which goes.
  void ReleaseUnowned(const ObjectEntry& entry, std::string_view why);

  // Main thread, before serving: also hears the outcome of every run of a
  // bus caller's object, on that object's apartment (the HTTP event feed).
  using OutcomeObserver = std::function<void(const ObjectEntry& entry, const DispatchTrace& trace)>;
  void ObserveOutcomes(OutcomeObserver observer) { outcome_observer_ = std::move(observer); }

  // Main thread, for the server's lifetime.
  // `check` runs on the main thread whenever an object went while the
  // server was not stopping.
  void WhenObjectGone(std::function<void()> check) { object_gone_ = std::move(check); }
  // Once the stop is decided: every object does its pending work now, and
  // `ended` is posted to the main thread once all those runs have ended.
  // False (and `ended` dropped) when there is no object.
  bool FinishAllPendingWork(Work ended);
  // (path, name) of the accepted work whose run has not ended.
  std::vector<std::pair<std::string, std::string>> UnfinishedWork() const { return pending_.All(); }
  void DestroyAll(std::string_view why);
  // Any thread: where the objects run, for a watchdog to ping.
  const ApartmentPool& pool() const { return pool_; }

 private:
  void OnNameOwnerChanged(GVariant* parameters);
  void ReleaseIfCreatorGone(const std::string& owner);
  void Destroy(std::shared_ptr<ObjectEntry> entry, std::string_view why);
  // The entry's apartment thread.
  void ExecuteOperation(ObjectEntry& entry, GDBusMessage* call, const Operation& op, bool invoke,
                        CallerLedger::Ticket& ticket);
  void ReportOutcomes(ObjectEntry& entry);
  void OnMain(Work work);
  // Whom the pool seats the objects of `caller` for: its Unix user on the
  // system bus (when known), nobody in particular on the session bus.
  std::optional<uid_t> Occupant(const std::string& caller) const;
  // The entry's apartment thread: false (and the call refused) when an
  // outsider's request names an SMTP server that is not allowed.
  bool AllowedForOutsider(const ObjectEntry& entry, GDBusMessage* call, const Operation& op,
                          std::span<const Variant> args);

  ConnectionPtr connection_;
  const bool system_bus_;
  const ServerEnvironment env_;
  CallAdmission& admission_;
  CallerUids& uids_;
  CallerStanding standing_;
  RefusalLog blanked_log_{std::chrono::seconds(10), "more blanked since the last line"};
  MainContextPtr main_context_;
  ObjectTable table_;
  PendingWork pending_;  // accepted requests whose run has not ended
  guint owner_subscription_ = 0;
  std::function<void()> object_gone_;  // main thread
  OutcomeObserver outcome_observer_;   // set before serving, read on apartments

  std::atomic<int> live_objects_{0};
  std::atomic<int> creating_{0};  // CreateObject calls taken, not yet run
  std::atomic<bool> stopping_{false};
  std::mutex stop_mutex_;  // makes deciding to stop and taking a one-shot call exclusive
  // Last, so its threads stop before anything their work refers to goes.
  ApartmentPool pool_;
};

}  // namespace qz
