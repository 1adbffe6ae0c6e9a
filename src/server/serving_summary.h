// The one line the service manager shows for the daemon (systemctl status):
// what it is doing right now. Pure; safe from any thread.
#pragma once

#include <cstddef>
#include <string>

namespace qz {

// "serving: 3 pending", or "stopping: ..." once the stop is decided.
std::string ServingSummary(size_t pending, bool stopping);

}  // namespace qz
