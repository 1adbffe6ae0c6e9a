// How the daemon serves, from its command line: when it ends, how long a
// stop waits, its apartment threads and one user's share of them, which bus and what one caller may
// make it hold. A plain value, read once at start.
#pragma once

#include <cstddef>
#include <optional>

#include "server/limits.h"

namespace qz {

struct ServerOptions {
  std::optional<unsigned> linger_seconds = 5;  // none: stay running when idle
  unsigned shutdown_grace_seconds = 30;        // a stop waits this long for deliveries
  size_t apartments = 4;
  // How many apartments one Unix user's objects may occupy on the system bus;
  // 0: half of them (see UserShare).
  size_t user_share = 0;
  bool system_bus = false;
  Limits limits;  // what one connection may make the server hold
};

}  // namespace qz
