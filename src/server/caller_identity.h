// Who made a call, for the log lines of calls that change something: the
// caller's unique bus name, its Unix user and process. Asks the bus and
// waits for the answer, so call it on an apartment thread, never on the
// GDBus worker thread, and before the reply: a one-shot caller such as
// busctl leaves the bus as soon as it has its answer.
#pragma once

#include <gio/gio.h>

#include <string>

namespace qz {

// "uid 1000 pid 4242 name :1.7"; a part the bus cannot tell reads "?".
std::string CallerIdentityText(GDBusConnection* connection, const std::string& name);

}  // namespace qz
