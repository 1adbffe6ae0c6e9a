#include "gateways/snpp/host_lookup.h"

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

HostLookup::HostLookup(const std::string& host, int port) : shared_(std::make_shared<Shared>()) {
  if (host.empty()) {
    shared_->error = "Host not found";
    shared_->done = true;
    return;
  }
  Status numeric;
  std::vector<SocketAddress> addresses = ResolveTcpAddresses(host, port, AI_NUMERICHOST, numeric);
  if (numeric.ok()) {
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
    Status looked_up;
    std::vector<SocketAddress> found = ResolveTcpAddresses(host, port, AI_ADDRCONFIG, looked_up);
    std::lock_guard lock(shared->mutex);
    shared->addresses = std::move(found);
    shared->error = looked_up.message();
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
