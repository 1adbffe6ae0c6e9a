#include "platform/tcp_addresses.h"

#include <cerrno>
#include <cstring>

#include "platform/holders.h"

namespace qz {

std::vector<SocketAddress> ResolveTcpAddresses(const std::string& host, int port, int flags,
                                               Status& status) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = flags | AI_NUMERICSERV;
  addrinfo* raw = nullptr;
  const std::string service = std::to_string(port);
  const int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &raw);
  if (rc != 0) {
    status = Status::NotFound(rc == EAI_SYSTEM ? std::strerror(errno) : ::gai_strerror(rc));
    return {};
  }
  AddrInfoPtr list(raw);
  std::vector<SocketAddress> found;
  for (const addrinfo* entry = list.get(); entry; entry = entry->ai_next) {
    if (entry->ai_addrlen > sizeof(sockaddr_storage)) continue;
    SocketAddress address;
    std::memcpy(&address.storage, entry->ai_addr, entry->ai_addrlen);
    address.length = entry->ai_addrlen;
    found.push_back(address);
  }
  status = found.empty() ? Status::NotFound("Host not found") : Status();
  return found;
}

}  // namespace qz
