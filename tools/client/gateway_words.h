// How the client speaks of the server's paging gateways: words made from the
// rows of the gateway table, so that a new row shows in the advice, the help
// and the usage messages on its own. Pure functions; safe from any thread.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "gateways/gateway_table.h"

namespace qz::client {

// Each built-in paging gateway that `which` accepts (all without it),
// written by `word`, as "a", "a or b", "a, b or c".
std::string GatewaysOr(const std::function<std::string(const PagingGateway&)>& word,
                       const std::function<bool(const PagingGateway&)>& which = {});

// Whether `text` is a built-in paging gateway's number as written ("1").
bool IsGatewayNumber(std::string_view text);

}  // namespace qz::client
