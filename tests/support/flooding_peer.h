// A peer that never stops talking, for tests that a wait keeps its deadline
// whatever arrives. It is either a TCP listener on 127.0.0.1 (the first
// connection is flooded) or a pseudo-terminal whose device end a component
// opens as its serial line. It greets, waits for the component to say
// something, answers once, and from then on sends its pattern again and
// again, reading and dropping whatever the component sends, until it is
// destroyed, the component goes, or `kGiveUp` has passed; then it hangs up,
// so a component that never gives up still gets its call back, late. One
// thread of its own waits in poll(2); the stop is an eventfd.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>

#include "platform/unique_fd.h"
#include "support/child_process.h"

namespace qz::testing {

struct FloodScript {
  std::string greeting;  // as soon as the component is there (TCP only)
  std::string answer;    // once it has said something
  std::string pattern;   // then, endlessly
  // Between two patterns; zero: as fast as the component takes them.
  std::chrono::milliseconds pause{0};
};

class FloodingPeer {
 public:
  enum class Kind { kLoopback, kPseudoTerminal };
  using Clock = std::chrono::steady_clock;
  static constexpr auto kGiveUp = std::chrono::seconds(30);

  FloodingPeer(Kind kind, FloodScript script)
      : script_(std::move(script)), stop_(::eventfd(0, EFD_CLOEXEC)) {
    // A listener (it throws when it cannot) is what makes the peer a socket.
    if (kind == Kind::kLoopback)
      listener_.Reset(ListenOnLoopback(1, port_, SOCK_NONBLOCK));
    else
      OpenPseudoTerminal();
    if (!stop_ || script_.pattern.empty()) throw std::runtime_error("no flooding peer");
    thread_ = std::thread([this] {
      Serve();
      peer_.Reset();  // the component reads the end of the line, or of the stream
    });
  }
  ~FloodingPeer() {
    const uint64_t one = 1;
    (void)!::write(stop_.get(), &one, sizeof one);
    thread_.join();
  }
  FloodingPeer(const FloodingPeer&) = delete;
  FloodingPeer& operator=(const FloodingPeer&) = delete;

  std::string PortText() const { return std::to_string(port_); }
  // The device end of the pseudo-terminal.
  const std::string& device() const { return device_; }
  // Bytes of the pattern sent so far.
  size_t flooded() const { return flooded_; }

 private:
  void OpenPseudoTerminal() {
    peer_.Reset(::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!peer_ || ::grantpt(peer_.get()) != 0 || ::unlockpt(peer_.get()) != 0)
      throw std::runtime_error("no pseudo-terminal");
    device_ = ::ptsname(peer_.get());
    // Held open so the line does not hang up between the component's opens.
    device_end_.Reset(::open(device_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
    termios t{};
    if (!device_end_ || ::tcgetattr(device_end_.get(), &t) != 0)
      throw std::runtime_error("cannot open " + device_);
    ::cfmakeraw(&t);
    ::tcsetattr(device_end_.get(), TCSANOW, &t);
  }

  // Waits for `events` on the component's end; false when told to stop,
  // past the give-up time or the component is gone.
  bool Await(short events, Clock::time_point until = Clock::time_point::max()) {
    pollfd p[2] = {{peer_.get(), events, 0}, {stop_.get(), POLLIN, 0}};
    const int ready = ::poll(p, 2, MillisecondsTo(std::min(until, give_up_)));
    if (p[1].revents || Clock::now() >= give_up_) return false;
    if (ready > 0 && (p[0].revents & POLLIN)) {
      char dropped[4096];
      const ssize_t n = ::read(peer_.get(), dropped, sizeof dropped);
      if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) return false;
      heard_ = true;
    }
    return !(p[0].revents & (POLLERR | POLLHUP | POLLNVAL)) || (p[0].revents & POLLIN);
  }

  // Sends all of `bytes`; false as for Await.
  bool Send(std::string_view bytes, std::atomic<size_t>* count = nullptr) {
    while (!bytes.empty()) {
      const ssize_t w = listener_ ? ::send(peer_.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL)
                                  : ::write(peer_.get(), bytes.data(), bytes.size());
      if (w > 0) {
        bytes.remove_prefix(static_cast<size_t>(w));
        if (count) *count += static_cast<size_t>(w);
      } else if (errno != EAGAIN && errno != EINTR) {
        return false;
      }
      if (!bytes.empty() && !Await(POLLOUT | POLLIN)) return false;
    }
    return true;
  }

  static int MillisecondsTo(Clock::time_point when) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(when - Clock::now()).count();
    return static_cast<int>(std::max<int64_t>(0, left));
  }

  void Serve() {
    give_up_ = Clock::now() + kGiveUp;
    if (listener_) {
      pollfd p[2] = {{listener_.get(), POLLIN, 0}, {stop_.get(), POLLIN, 0}};
      if (::poll(p, 2, MillisecondsTo(give_up_)) <= 0 || p[1].revents) return;
      peer_.Reset(::accept4(listener_.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
      if (!peer_ || !Send(script_.greeting)) return;
    }
    while (!heard_)
      if (!Await(POLLIN)) return;
    if (!Send(script_.answer)) return;
    for (;;) {
      if (!Send(script_.pattern, &flooded_)) return;
      const auto next = Clock::now() + script_.pause;
      while (Clock::now() < next)
        if (!Await(POLLIN, next)) return;
    }
  }

  const FloodScript script_;
  UniqueFd stop_, listener_, peer_, device_end_;
  uint16_t port_ = 0;
  std::string device_;
  Clock::time_point give_up_;
  bool heard_ = false;  // the component has said something
  std::atomic<size_t> flooded_{0};
  std::thread thread_;
};

}  // namespace qz::testing
