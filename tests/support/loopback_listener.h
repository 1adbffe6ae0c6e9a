// A TCP listener on 127.0.0.1 for tests of callbacks and stuck gateways. It
// accepts every connection and records what each sends; depending on its
// mode it holds every connection without a word (a tarpit), greets and then
// holds (a gateway that stops answering, or an HTTP server that answers
// before the request is in), or answers each complete HTTP request with 200
// and closes, at once or `kSlowAnswer` after it came. One thread polls
// everything; it stops when the listener is destroyed or after three minutes.
#pragma once

#include "support/child_process.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qz::testing {

class LoopbackListener {
 public:
  enum class Mode { kHold, kGreetThenHold, kHttpOk, kHttpOkSlowly };
  static constexpr auto kSlowAnswer = std::chrono::milliseconds(2000);

  explicit LoopbackListener(Mode mode, std::string greeting = {})
      : mode_(mode), greeting_(std::move(greeting)), listener_(ListenOnLoopback(64, port_)) {
    thread_ = std::thread([this] { Serve(); });
  }
  ~LoopbackListener() {
    stop_ = true;
    thread_.join();
    for (Connection& c : connections_)
      if (c.fd >= 0) close(c.fd);
    close(listener_);
  }
  LoopbackListener(const LoopbackListener&) = delete;
  LoopbackListener& operator=(const LoopbackListener&) = delete;

  std::string PortText() const { return std::to_string(port_); }
  size_t accepted() const { return accepted_; }
  // Connections the peer has closed (or reset) before they were answered.
  size_t closed_by_peer() const { return closed_by_peer_; }
  // HTTP requests answered with 200 (whether the peer was still there).
  size_t answered() const { return answered_; }
  // Everything each connection has sent so far, in the order accepted.
  std::vector<std::string> Received() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> all;
    for (const Connection& c : connections_) all.push_back(c.received);
    return all;
  }
  // True once `done` holds, polled for at most `limit`.
  template <typename F>
  bool WaitUntil(F done, std::chrono::milliseconds limit) const {
    return Eventually(done, limit);
  }

 private:
  struct Connection {
    int fd;
    std::string received;
    bool answered = false;
    std::chrono::steady_clock::time_point accepted_at = std::chrono::steady_clock::now();
  };

  // Only this thread changes the connections; readers elsewhere take the lock.
  void Serve() {
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::minutes(3);
    while (!stop_ && std::chrono::steady_clock::now() < give_up) {
      std::vector<pollfd> fds{{listener_, POLLIN, 0}};
      for (const Connection& c : connections_) fds.push_back({c.fd, POLLIN, 0});  // -1: skipped
      if (poll(fds.data(), fds.size(), 50) > 0) {
        if (fds[0].revents & POLLIN) Accept();
        for (size_t i = 1; i < fds.size(); ++i)
          if (fds[i].revents) Read(connections_[i - 1]);
      }
      if (mode_ == Mode::kHttpOk || mode_ == Mode::kHttpOkSlowly) AnswerDue();
    }
  }

  void Accept() {
    const int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    if (mode_ == Mode::kGreetThenHold)
      (void)!send(fd, greeting_.data(), greeting_.size(), MSG_NOSIGNAL);
    std::lock_guard lock(mutex_);
    connections_.push_back({fd, {}});
    ++accepted_;
  }

  void Read(Connection& c) {
    char buffer[4096];
    const ssize_t got = read(c.fd, buffer, sizeof buffer);
    std::lock_guard lock(mutex_);
    if (got > 0) {
      c.received.append(buffer, static_cast<size_t>(got));
    } else {
      close(c.fd);
      c.fd = -1;
      if (!c.answered) ++closed_by_peer_;
    }
  }

  // Answers each complete request (headers and Content-Length body bytes).
  void AnswerDue() {
    const auto due = std::chrono::steady_clock::now() -
                     (mode_ == Mode::kHttpOkSlowly ? kSlowAnswer : std::chrono::milliseconds(0));
    for (Connection& c : connections_) {
      const size_t end = c.received.find("\r\n\r\n"), at = c.received.find("Content-Length:");
      if (c.fd < 0 || c.answered || c.accepted_at > due || end == std::string::npos ||
          c.received.size() < end + 4 + (at < end ? std::stoul(c.received.substr(at + 15)) : 0))
        continue;
      static constexpr std::string_view kOk =
          "HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
      (void)!send(c.fd, kOk.data(), kOk.size(), MSG_NOSIGNAL);
      c.answered = true;
      ++answered_;
      shutdown(c.fd, SHUT_WR);
    }
  }

  const Mode mode_;
  const std::string greeting_;
  uint16_t port_ = 0;
  const int listener_;  // after port_, which it sets
  std::atomic<bool> stop_{false};
  std::atomic<size_t> accepted_{0}, closed_by_peer_{0}, answered_{0};
  mutable std::mutex mutex_;
  std::vector<Connection> connections_;
  std::thread thread_;
};

}  // namespace qz::testing
