// At start: the requests an earlier run accepted and did not finish (it was
// killed, crashed or lost power) run again, each on an object of its own
// that goes once its run has ended, as a one-shot call's object does.
// Main thread, once the bus name is the server's.
#pragma once

#include <gio/gio.h>

#include <memory>
#include <optional>
#include <string>

#include "dispatch/request_journal.h"
#include "server/object_calls.h"

namespace qz {

// Requests that gave up stay as dead letters, dropped once kept past
// KeepFailed of the program folder `folder`.
void ReplayJournal(RequestJournal& journal, GDBusConnection* connection, ObjectCalls& objects,
                   const std::string& folder);

// Who hears the outcome of a request kept in the journal when it runs
// again: none for a unique connection name of an earlier bus life.
std::shared_ptr<DispatchObject> KeptCallback(GDBusConnection* connection,
                                             const RequestRecord& record);

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
