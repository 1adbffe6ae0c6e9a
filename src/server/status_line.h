// The server's state in one short line, for systemd's STATUS= and the
// like: "serving: 3 pending, 1 retrying, SNPP down since 10:42". Pure
// function of the gathered facts; times are the local clock's.
#pragma once

#include <string>

#include "server/status_view.h"

namespace qz {

std::string ServingLine(const StatusFacts& facts);

}  // namespace qz
