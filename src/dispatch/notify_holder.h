// Holds the cNotify of one served object, and sets it aside while its
// request waits for its next try: the request is then kept as its encoded
// journal record, with what the object keeps between runs, and one entry
// in the apartment's queue wakes it at its due time. A call on the object
// wakes it at once, so callers see the same object throughout. Owned by
// one apartment: construct, call and destroy it on that apartment's thread.
#pragma once

#include <glib.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "automation/timer_queue.h"
#include "diagnostics/gateway_health.h"
#include "dispatch/c_notify.h"

namespace qz {

class NotifyHolder {
 public:
  // As cNotify's; without `waits` the object is never set aside.
  NotifyHolder(const ServerEnvironment& env, GMainContext* context, std::atomic<int>* deliveries,
               std::string_view path, std::string_view owner, TimerQueue* waits);
  ~NotifyHolder();
  NotifyHolder(const NotifyHolder&) = delete;
  NotifyHolder& operator=(const NotifyHolder&) = delete;

  // The object, woken when set aside.
  cNotify& Get();

  bool HasPendingRequest() const;
  std::string_view TestId() const;
  bool WaitsForRetry() const;
  uint64_t JournalKey() const;  // of the pending request; 0 for none
  // Runs the pending request now, unless it waits for its next try.
  void FinishPendingWork();
  void SetOutcomeListener(cNotify::OutcomeListener listener);
  bool HandOverWaitingRequest(RequestRecord& record, uint64_t& key,
                              std::shared_ptr<DispatchObject>& callback);

 private:
  struct Asleep;
  void MakeNotify();
  void SetAsideIfWaiting();
  void Wake();

  const ServerEnvironment& env_;
  GMainContext* context_;
  std::atomic<int>* deliveries_;
  std::string_view path_;  // the entry's, which outlives this
  std::string_view owner_;
  TimerQueue* waits_;
  cNotify::OutcomeListener listener_;
  std::unique_ptr<cNotify> notify_;  // none while set aside
  std::unique_ptr<Asleep> asleep_;
  TimerQueue::Handle set_aside_;  // last: cancelled before the rest goes
};

}  // namespace qz
