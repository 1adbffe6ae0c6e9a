#include "components/host_resolver.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>

#include <cstring>
#include <memory>

namespace qz {
namespace {

std::optional<std::vector<Endpoint>> Lookup(const std::string& host, uint16_t port, int flags) {
  Status status;
  std::vector<Endpoint> endpoints = ResolveTcpAddresses(host, port, flags, status);
  if (!status.ok()) return std::nullopt;
  return endpoints;
}

}  // namespace

std::optional<std::vector<Endpoint>> ResolveHost(const std::string& host, uint16_t port) {
  return Lookup(host, port, 0);
}

std::optional<Endpoint> NumericEndpoint(const std::string& address, uint16_t port) {
  std::optional<std::vector<Endpoint>> found = Lookup(address, port, AI_NUMERICHOST);
  if (!found) return std::nullopt;
  return found->front();
}

std::string EndpointAddressText(const Endpoint& endpoint) {
  char text[INET6_ADDRSTRLEN] = "";
  const sockaddr& address = endpoint.sockaddr_ref();
  if (address.sa_family == AF_INET) {
    const auto& v4 = reinterpret_cast<const sockaddr_in&>(endpoint.storage);
    inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
  } else if (address.sa_family == AF_INET6) {
    const auto& v6 = reinterpret_cast<const sockaddr_in6&>(endpoint.storage);
    inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
  }
  return text;
}

bool SameEndpoint(const sockaddr& address, const Endpoint& endpoint) {
  const sockaddr& mine = endpoint.sockaddr_ref();
  if (address.sa_family != mine.sa_family) return false;
  if (address.sa_family == AF_INET) {
    sockaddr_in a{};
    std::memcpy(&a, &address, sizeof a);
    const auto& b = reinterpret_cast<const sockaddr_in&>(endpoint.storage);
    return a.sin_port == b.sin_port && a.sin_addr.s_addr == b.sin_addr.s_addr;
  }
  if (address.sa_family == AF_INET6) {
    sockaddr_in6 a{};
    std::memcpy(&a, &address, sizeof a);
    const auto& b = reinterpret_cast<const sockaddr_in6&>(endpoint.storage);
    return a.sin6_port == b.sin6_port &&
           std::memcmp(&a.sin6_addr, &b.sin6_addr, sizeof a.sin6_addr) == 0;
  }
  return false;
}

}  // namespace qz
