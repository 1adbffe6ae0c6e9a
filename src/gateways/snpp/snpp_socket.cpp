#include "gateways/snpp/snpp_socket.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstring>

#include "automation/apartment.h"
#include "automation/run_time_error.h"
#include "gateways/snpp/ansi_text.h"
#include "gateways/snpp/snpp_timing.h"

namespace qz {
namespace {

constexpr std::string_view kSocketSource = "QzNotes.SNPPSocket";

int PollTimeout(double deadline) {
  double ms = std::ceil((deadline - ClockSeconds()) * 1000);
  if (ms <= 0) return 0;
  return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

}  // namespace

int16_t SnppSocket::state() {
  if (state_ == kConnected && fd_) {
    pollfd p{fd_.get(), POLLRDHUP, 0};
    if (::poll(&p, 1, 0) > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR))) state_ = kClosing;
  }
  return state_;
}

void SnppSocket::Close() {
  fd_.Reset();
  lookup_.reset();
  addresses_.clear();
  next_address_ = 0;
  inbox_.clear();
  outbox_.clear();
  input_open_ = false;
  error_pending_ = false;
  state_ = kClosed;
}

void SnppSocket::SetRemotePort(int32_t port) {
  if (port < 1 || port > 65535)
    throw RunTimeError(380, "Invalid property value", std::string(kSocketSource));
  port_ = port;
}

void SnppSocket::Connect() {
  if (state_ != kClosed)
    throw RunTimeError(40020, "Invalid operation at current state", std::string(kSocketSource));
  state_ = kResolvingHost;
  lookup_ = std::make_unique<HostLookup>(host_, port_);
  if (lookup_->fd() < 0) {
    addresses_ = lookup_->Addresses();
    if (addresses_.empty()) return Fail(0, lookup_->Error());
    StartNextAddress();
  }
}

void SnppSocket::StartNextAddress() {
  int last_error = ECONNREFUSED;
  while (next_address_ < addresses_.size()) {
    const SocketAddress& a = addresses_[next_address_++];
    fd_.Reset(::socket(a.storage.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd_) {
      last_error = errno;
      continue;
    }
    if (::connect(fd_.get(), reinterpret_cast<const sockaddr*>(&a.storage), a.length) == 0) {
      state_ = kConnected;
      input_open_ = true;
      return;
    }
    if (errno == EINPROGRESS) {
      state_ = kConnecting;
      return;
    }
    last_error = errno;
    fd_.Reset();
  }
  Fail(last_error);
}

void SnppSocket::ConnectFinished() {
  int error = 0;
  socklen_t length = sizeof error;
  if (::getsockopt(fd_.get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
  if (error == 0) {
    state_ = kConnected;
    input_open_ = true;
    return;
  }
  fd_.Reset();
  if (next_address_ < addresses_.size()) return StartNextAddress();
  Fail(error);
}

void SnppSocket::SendData(std::string_view bytes) {
  if (state_ != kConnected)
    throw RunTimeError(
        40006, "Wrong protocol or connection state for the requested transaction or request",
        std::string(kSocketSource));
  outbox_.append(bytes);
  FlushOutput();
}

void SnppSocket::FlushOutput() {
  while (!outbox_.empty() && fd_) {
    ssize_t n = ::send(fd_.get(), outbox_.data(), outbox_.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      outbox_.erase(0, static_cast<size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      return;  // the rest goes when the socket can take it
    } else {
      return Fail(n < 0 ? errno : EPIPE);
    }
  }
}

void SnppSocket::GetData(std::string& text, int32_t max_length) {
  size_t n = std::min(inbox_.size(), static_cast<size_t>(std::max(max_length, 0)));
  text = FromWireBytes(std::string_view(inbox_).substr(0, n));
  inbox_.erase(0, n);
}

void SnppSocket::ReadInput() {
  inbox_.resize(kMaxBlock);
  ssize_t n = ::recv(fd_.get(), inbox_.data(), inbox_.size(), MSG_DONTWAIT);
  if (n > 0) {
    inbox_.resize(static_cast<size_t>(n));
    if (on_data_) on_data_(static_cast<int32_t>(n));
    inbox_.clear();  // what the handler did not take is not handed over twice
    return;
  }
  inbox_.clear();
  if (n == 0) {
    input_open_ = false;
    if (state_ == kConnected) state_ = kClosing;
  } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
    Fail(errno);
  }
}

void SnppSocket::Fail(int error_number) {
  Fail(10000 + error_number, error_number ? std::strerror(error_number) : "Connection failed");
}

void SnppSocket::Fail(int32_t number, std::string description) {
  fd_.Reset();
  lookup_.reset();
  input_open_ = false;
  outbox_.clear();
  state_ = kError;
  error_pending_ = true;
  error_number_ = number;
  error_text_ = std::move(description);
}

void SnppSocket::ProcessEvents(double deadline) {
  if (!error_pending_) {
    pollfd p{-1, 0, 0};
    if (state_ == kResolvingHost && lookup_) {
      p = {lookup_->fd(), POLLIN, 0};
    } else if (fd_ && state_ == kConnecting) {
      p = {fd_.get(), POLLOUT, 0};
    } else if (fd_ && (state_ == kConnected || state_ == kClosing)) {
      short events = 0;
      if (input_open_) events |= POLLIN;
      if (!outbox_.empty()) events |= POLLOUT;
      if (events) p = {fd_.get(), events, 0};
    }
    const BoundedWait waiting(std::chrono::steady_clock::now() +
                              std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                  std::chrono::duration<double>(deadline - ClockSeconds())));
    // With nothing to watch this only sleeps to the deadline: never a spin.
    int ready = ::poll(&p, 1, PollTimeout(deadline));
    if (ready > 0 && p.revents) {
      if (state_ == kResolvingHost) {
        if (lookup_->Done()) {
          addresses_ = lookup_->Addresses();
          std::string why = lookup_->Error();
          lookup_.reset();
          if (addresses_.empty()) {
            Fail(0, why);
          } else {
            StartNextAddress();
          }
        }
      } else if (state_ == kConnecting) {
        ConnectFinished();
      } else {
        if (!outbox_.empty() && (p.revents & (POLLOUT | POLLHUP | POLLERR))) FlushOutput();
        if (fd_ && input_open_ && (p.revents & (POLLIN | POLLHUP | POLLERR))) ReadInput();
      }
    }
  }
  if (error_pending_) {
    error_pending_ = false;
    if (on_error_) on_error_(error_number_, error_text_);
  }
}

}  // namespace qz
