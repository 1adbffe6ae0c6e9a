// What `qznotes send` tells the user before sending when the request as given
// will deliver nothing, or part of it nothing: e-mail addresses without a
// mail route, messages without recipients, a --timeout the dispatch delay
// alone uses up. The server takes such requests as they are. Pure function;
// safe from any thread.
#pragma once

#include <string>
#include <vector>

#include "client/commands.h"

namespace qz::client {

// The server dispatches a request this long after accepting it.
inline constexpr int kDispatchDelaySeconds = 1;

// One warning per problem; empty when every part of the request can go out.
std::vector<std::string> SendWarnings(const SendCommand& send);

}  // namespace qz::client
