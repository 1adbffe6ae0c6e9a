#include "paging/host_lookup.h"

#include <netdb.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstring>
#include <mutex>
#include <thread>

#include "platform/unique_fd.h"

namespace qz {

struct HostLookup::Shared {
  std::mutex mutex;
  bool done = false;
  std::vector<SocketAddress> addresses;
  std::string error;
  UniqueFd event;
};

namespace {

// False when getaddrinfo failed; `error` then says why.
bool Resolve(const std::string& host, int port, int flags, std::vector<SocketAddress>& out,
             std::string& error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = flags | AI_NUMERICSERV;
  addrinfo* list = nullptr;
  const std::string service = std::to_string(port);
  int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &list);
  if (rc != 0) {
    error = rc == EAI_SYSTEM ? std::strerror(errno) : ::gai_strerror(rc);
    return false;
  }
  for (addrinfo* a = list; a; a = a->ai_next) {
    SocketAddress address;
    std::memcpy(&address.storage, a->ai_addr, a->ai_addrlen);
    address.length = a->ai_addrlen;
    out.push_back(address);
  }
  ::freeaddrinfo(list);
  if (out.empty()) error = "Host not found";
  return !out.empty();
}

}  // namespace

HostLookup::HostLookup(const std::string& host, int port) : shared_(std::make_shared<Shared>()) {
  std::vector<SocketAddress> addresses;
  std::string error;
  if (host.empty()) {
    shared_->error = "Host not found";
    shared_->done = true;
    return;
  }
  if (Resolve(host, port, AI_NUMERICHOST, addresses, error)) {
    shared_->addresses = std::move(addresses);
    shared_->done = true;
    return;
  }
  shared_->event.Reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!shared_->event) {
    shared_->error = std::strerror(errno);
    shared_->done = true;
    return;
  }
  std::thread([shared = shared_, host, port] {
    std::vector<SocketAddress> found;
    std::string why;
    Resolve(host, port, AI_ADDRCONFIG, found, why);
    std::lock_guard lock(shared->mutex);
    shared->addresses = std::move(found);
    shared->error = std::move(why);
    shared->done = true;
    uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(shared->event.get(), &one, sizeof one);
  }).detach();
}

HostLookup::~HostLookup() = default;

int HostLookup::fd() const {
  std::lock_guard lock(shared_->mutex);
  return shared_->event.get();
}

bool HostLookup::Done() const {
  std::lock_guard lock(shared_->mutex);
  return shared_->done;
}

std::vector<SocketAddress> HostLookup::Addresses() const {
  std::lock_guard lock(shared_->mutex);
  return shared_->addresses;
}

std::string HostLookup::Error() const {
  std::lock_guard lock(shared_->mutex);
  return shared_->error;
}

}  // namespace qz
