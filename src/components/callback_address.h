// Which network addresses an HTTP callback may connect to. A caller names
// the callback host, so without this rule any caller could have the server
// reach link-local services (cloud metadata at 169.254.169.254), multicast
// groups or the unspecified address, on either bus. Pure functions; safe
// from any thread.
#pragma once

#include <sys/socket.h>

#include <optional>
#include <string_view>

namespace qz {

// nullopt when the address may be connected to; otherwise why not:
// "link-local" (169.254/16, fe80::/10), "multicast" (224/4, ff00::/8),
// "unspecified" (0/8, ::) or "broadcast" (255.255.255.255). IPv4 addresses
// inside IPv6 (mapped ::ffff:0:0/96, NAT64 64:ff9b::/96) are judged as the
// IPv4 address they carry. Families other than IPv4 and IPv6 are refused.
std::optional<std::string_view> AddressRefusal(const sockaddr& address);

}  // namespace qz
