#include "components/callback_address.h"

#include <netinet/in.h>

#include <cstdint>
#include <cstring>

namespace qz {
namespace {

std::optional<std::string_view> Ipv4Refusal(uint32_t host_order) {
  const uint32_t first = host_order >> 24;
  if (first == 0) return "unspecified";  // 0.0.0.0/8 reaches this host
  if ((host_order & 0xFFFF0000u) == 0xA9FE0000u) return "link-local";
  if ((first & 0xF0u) == 0xE0u) return "multicast";
  if (host_order == 0xFFFFFFFFu) return "broadcast";
  return std::nullopt;
}

uint32_t TrailingIpv4(const in6_addr& address) {
  uint32_t value = 0;
  std::memcpy(&value, address.s6_addr + 12, sizeof value);
  return ntohl(value);
}

bool HasPrefix(const in6_addr& address, std::initializer_list<uint8_t> prefix) {
  return std::memcmp(address.s6_addr, prefix.begin(), prefix.size()) == 0;
}

std::optional<std::string_view> Ipv6Refusal(const in6_addr& address) {
  if (IN6_IS_ADDR_UNSPECIFIED(&address)) return "unspecified";
  if (IN6_IS_ADDR_LINKLOCAL(&address)) return "link-local";
  if (IN6_IS_ADDR_MULTICAST(&address)) return "multicast";
  // The kernel, or a NAT64 gateway, turns these into the IPv4 address they
  // carry, so they get that address's verdict.
  if (IN6_IS_ADDR_V4MAPPED(&address) ||
      HasPrefix(address, {0x00, 0x64, 0xff, 0x9b, 0, 0, 0, 0, 0, 0, 0, 0}))
    return Ipv4Refusal(TrailingIpv4(address));
  return std::nullopt;
}

}  // namespace

std::optional<std::string_view> AddressRefusal(const sockaddr& address) {
  if (address.sa_family == AF_INET) {
    sockaddr_in v4{};
    std::memcpy(&v4, &address, sizeof v4);
    return Ipv4Refusal(ntohl(v4.sin_addr.s_addr));
  }
  if (address.sa_family == AF_INET6) {
    sockaddr_in6 v6{};
    std::memcpy(&v6, &address, sizeof v6);
    return Ipv6Refusal(v6.sin6_addr);
  }
  return "not an IP address";
}

}  // namespace qz
