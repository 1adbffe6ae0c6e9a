#include "platform/tcp_addresses.h"

#include <cerrno>
#include <cstring>
#include <memory>

namespace qz {
namespace {

struct AddrInfoFree {
  void operator()(addrinfo* list) const { ::freeaddrinfo(list); }
};

}  // namespace

bool ResolveTcpAddresses(const std::string& host, int port, int flags,
                         std::vector<SocketAddress>& out, std::string& error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = flags | AI_NUMERICSERV;
  addrinfo* raw = nullptr;
  const std::string service = std::to_string(port);
  const int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &raw);
  if (rc != 0) {
    error = rc == EAI_SYSTEM ? std::strerror(errno) : ::gai_strerror(rc);
    return false;
  }
  std::unique_ptr<addrinfo, AddrInfoFree> list(raw);
  for (const addrinfo* entry = list.get(); entry; entry = entry->ai_next) {
    if (entry->ai_addrlen > sizeof(sockaddr_storage)) continue;
    SocketAddress address;
    std::memcpy(&address.storage, entry->ai_addr, entry->ai_addrlen);
    address.length = entry->ai_addrlen;
    out.push_back(address);
  }
  if (out.empty()) error = "Host not found";
  return !out.empty();
}

}  // namespace qz
