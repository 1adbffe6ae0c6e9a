// Name resolution that a wait can give up on: a numeric address is resolved
// at once; a name is looked up on a helper thread that signals an eventfd.
// Abandoning a lookup is safe: the helper keeps what it needs alive and
// cleans up when getaddrinfo returns. Owned by one thread.
#pragma once

#include <sys/socket.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/tcp_addresses.h"

namespace qz {

class HostLookup {
 public:
  HostLookup(const std::string& host, int port);
  ~HostLookup();
  HostLookup(const HostLookup&) = delete;
  HostLookup& operator=(const HostLookup&) = delete;

  // Readable once the lookup is done; -1 when it was done at once.
  int fd() const;
  bool Done() const;
  // After Done(): the addresses in the resolver's order, or an error text.
  std::vector<SocketAddress> Addresses() const;
  std::string Error() const;

 private:
  struct Shared;
  std::shared_ptr<Shared> shared_;
};

}  // namespace qz
