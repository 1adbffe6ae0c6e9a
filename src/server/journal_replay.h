// At start: the requests an earlier run accepted and did not finish (it was
// killed, crashed or lost power) run again, each on an object of its own
// that goes once its run has ended, as a one-shot call's object does.
// Main thread, once the bus name is the server's.
#pragma once

#include <gio/gio.h>

#include "dispatch/request_journal.h"
#include "server/object_calls.h"

namespace qz {

void ReplayJournal(RequestJournal& journal, GDBusConnection* connection, ObjectCalls& objects);

}  // namespace qz
