// Opens the connection the global options ask for: the session bus, the
// system bus, or a bus at a given address. Call from the main thread; the
// connection dispatches on the thread-default main context.
#pragma once

#include "client/commands.h"
#include "platform/holders.h"

namespace qz::client {

ConnectionPtr OpenBus(const GlobalOptions& global, ErrorPtr& error);

}  // namespace qz::client
