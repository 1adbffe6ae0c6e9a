// Vets the `(so)` object references callers pass for the server to call
// back: the bus name must be valid and lead back to the caller (its own
// connection, or a well-known name owned by a connection of the caller's
// Unix user), the path a valid object path. Asks the bus and waits for it,
// so it runs on apartment threads only, never on the GDBus worker thread.
#pragma once

#include <gio/gio.h>

#include <string>
#include <string_view>

#include "automation/dispatch_object.h"
#include "server/caller_uids.h"

namespace qz {

// Whom the server will call back (the caller for ""), with the caller's
// user for a well-known name, which is checked again at the callback; raises
// 13 (source "QzNotes") for a reference the caller may not give. Path "/"
// names no object: only the syntax of its bus name is checked.
BusReference VetCallbackReference(GDBusConnection* connection, CallerUids& uids,
                                  const std::string& caller, std::string_view bus_name,
                                  std::string_view path);

}  // namespace qz
