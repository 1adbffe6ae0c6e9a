// What the boundary needs of an object it serves, whatever its class: work
// it has accepted but not done yet, a way to do that work at once when the
// server stops, and what it did whenever such work ends (for the log and monitors).
// Created, called and destroyed on the thread of its apartment.
#pragma once

#include <glib.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "automation/dispatch_object.h"
#include "dispatch/dispatch_trace.h"
#include "dispatch/request_record.h"
#include "dispatch/server_environment.h"

namespace qz {

class ServedObject {
 public:
  virtual ~ServedObject() = default;

  virtual bool HasPendingWork() const { return false; }
  // Names the pending work in log lines ("request T-42").
  virtual std::string PendingWorkName() const { return {}; }
  // The journal entry of the pending work (0: none), and whether that work
  // waits for its next try.
  virtual uint64_t PendingJournalKey() const { return 0; }
  virtual bool WaitsForRetry() const { return false; }
  // Does the pending work now rather than when it is due (server stopping).
  virtual void FinishPendingWork() {}
  // `sink` receives what was done each time accepted work ends.
  using OutcomeSink = std::function<void(const DispatchTrace& trace)>;
  virtual void SetOutcomeSink(OutcomeSink) {}
  // Takes up a request an earlier run accepted and left in the journal
  // under `key`, to run as if just accepted; `callback` is its callback
  // party when it can still be reached. False when the class has no such
  // requests.
  virtual bool ResumeRequest(const RequestRecord&, uint64_t /*key*/,
                             std::shared_ptr<DispatchObject> /*callback*/) {
    return false;
  }
  // An accepted request that waits for its next try, given up by an object
  // about to go so that another can finish it; none when there is none.
  struct WaitingRequest {
    RequestRecord record;
    uint64_t key = 0;  // its journal entry
    std::shared_ptr<DispatchObject> callback;
  };
  virtual std::optional<WaitingRequest> HandOverWaitingRequest() { return std::nullopt; }
};

// Where a new object lives; handed to its class's factory on the apartment
// thread.
struct ObjectSeat {
  const ServerEnvironment& env;
  GMainContext* context;         // the apartment's; its timers run there
  std::atomic<int>* deliveries;  // the apartment's count of runs in progress
  std::string_view path = {};    // the object's, and its creator's unique name
  std::string_view owner = {};
};

}  // namespace qz
