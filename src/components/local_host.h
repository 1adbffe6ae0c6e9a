// Decides whether a callback host names this machine, in which case the
// callback goes over D-Bus instead of HTTP. Pure functions; safe from any
// thread.
#pragma once

#include <string_view>

namespace qz {

// True for the empty text, "localhost", "127.0.0.1", "::1" and
// `machine_name`, ignoring ASCII case. Anything with a port or a scheme is
// not a bare host name and counts as remote.
bool IsLocalHost(std::string_view host, std::string_view machine_name);

// The same against this machine's name (g_get_host_name).
bool IsLocalHost(std::string_view host);

}  // namespace qz
