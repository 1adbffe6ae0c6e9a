// The TCP addresses a host name or numeric address stands for, looked up
// once for every client of the server that connects somewhere (the SNPP
// socket, the HTTP callback). Blocks for as long as the system resolver
// takes; safe from any thread.
#pragma once

#include <netdb.h>
#include <sys/socket.h>

#include <string>
#include <vector>

#include "platform/status.h"

namespace qz {

struct SocketAddress {
  sockaddr_storage storage{};
  socklen_t length = 0;

  const sockaddr& sockaddr_ref() const { return reinterpret_cast<const sockaddr&>(storage); }
};

// Every address of `host` at `port`, in the resolver's order; `flags` are
// getaddrinfo's (AI_NUMERICHOST: never consult a name service). Empty, with
// `status` saying why, when there is none.
std::vector<SocketAddress> ResolveTcpAddresses(const std::string& host, int port, int flags,
                                               Status& status);

}  // namespace qz
