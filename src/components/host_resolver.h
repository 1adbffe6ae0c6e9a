// Name resolution for the HTTP callback, done by the server itself so that
// every address a name stands for is vetted before anything connects, and
// the connection is then pinned to those addresses. The resolver is a seam:
// tests hand in their own. ResolveHost blocks for as long as the system
// resolver takes; safe from any thread.
#pragma once

#include <sys/socket.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/tcp_addresses.h"

namespace qz {

using Endpoint = SocketAddress;

// Every TCP address of `host` (a name, or an IPv4 or IPv6 literal without
// brackets) at `port`; nullopt when the name does not resolve.
using HostResolver =
    std::function<std::optional<std::vector<Endpoint>>(const std::string& host, uint16_t port)>;

std::optional<std::vector<Endpoint>> ResolveHost(const std::string& host, uint16_t port);

// An endpoint from a numeric address text ("127.0.0.1", "::1"); nullopt for
// anything else. Never consults a name service.
std::optional<Endpoint> NumericEndpoint(const std::string& address, uint16_t port);

// The address alone as numeric text, IPv6 without brackets.
std::string EndpointAddressText(const Endpoint& endpoint);

// True when `address` is the same family, address and port as `endpoint`.
bool SameEndpoint(const sockaddr& address, const Endpoint& endpoint);

}  // namespace qz
