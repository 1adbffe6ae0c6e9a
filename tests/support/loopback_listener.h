// A TCP listener on 127.0.0.1 for tests of callbacks and stuck gateways. It
// accepts every connection and records what each sends; depending on its
// mode it holds every connection without a word (a tarpit), greets and then
// holds (a gateway that stops answering), or answers each complete HTTP
// request with 200 and closes, at once or `kSlowAnswer` after it came. One thread polls everything;
// it stops when the listener is destroyed or after `kLifetime`, whichever comes first.
#pragma once

#include "support/child_process.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace qz::testing {

class LoopbackListener {
 public:
  enum class Mode { kHold, kGreetThenHold, kHttpOk, kHttpOkSlowly };
  static constexpr auto kSlowAnswer = std::chrono::milliseconds(2000);

  explicit LoopbackListener(Mode mode, std::string greeting = {})
      : mode_(mode), greeting_(std::move(greeting)) {
    listener_ = ListenOnLoopback(64, port_);
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

  uint16_t port() const { return port_; }
  std::string PortText() const { return std::to_string(port_); }
  size_t accepted() const { return accepted_; }
  // Connections the peer has closed (or reset).
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
    auto give_up = std::chrono::steady_clock::now() + limit;
    while (!done()) {
      if (std::chrono::steady_clock::now() >= give_up) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
  }

 private:
  static constexpr auto kLifetime = std::chrono::seconds(180);
  struct Connection {
    int fd;
    std::string received;
    bool answered = false;
    std::chrono::steady_clock::time_point accepted_at = std::chrono::steady_clock::now();
  };

  // A complete request: headers and as many body bytes as Content-Length says.
  static bool CompleteHttpRequest(const std::string& text) {
    size_t end = text.find("\r\n\r\n");
    if (end == std::string::npos) return false;
    size_t length = 0;
    size_t at = text.find("Content-Length:");
    if (at != std::string::npos && at < end) length = std::stoul(text.substr(at + 15));
    return text.size() >= end + 4 + length;
  }

  void Serve() {
    const auto give_up = std::chrono::steady_clock::now() + kLifetime;
    while (!stop_ && std::chrono::steady_clock::now() < give_up) {
      std::vector<pollfd> fds{{listener_, POLLIN, 0}};
      {
        std::lock_guard lock(mutex_);
        for (const Connection& c : connections_)
          if (c.fd >= 0) fds.push_back({c.fd, POLLIN, 0});
      }
      if (poll(fds.data(), fds.size(), 50) > 0) {
        if (fds[0].revents & POLLIN) Accept();
        for (size_t i = 1; i < fds.size(); ++i)
          if (fds[i].revents) Read(fds[i].fd);
      }
      AnswerDue();
    }
  }

  void AnswerDue() {
    if (mode_ != Mode::kHttpOk && mode_ != Mode::kHttpOkSlowly) return;
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard lock(mutex_);
    for (Connection& c : connections_) {
      if (c.fd < 0 || c.answered || !CompleteHttpRequest(c.received)) continue;
      if (mode_ == Mode::kHttpOkSlowly && now < c.accepted_at + kSlowAnswer) continue;
      static const std::string ok =
          "HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
      (void)!send(c.fd, ok.data(), ok.size(), MSG_NOSIGNAL);
      c.answered = true;
      ++answered_;
      shutdown(c.fd, SHUT_WR);
    }
  }

  void Accept() {
    int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    if (mode_ == Mode::kGreetThenHold)
      (void)!send(fd, greeting_.data(), greeting_.size(), MSG_NOSIGNAL);
    std::lock_guard lock(mutex_);
    connections_.push_back({fd, {}});
    ++accepted_;
  }

  void Read(int fd) {
    char buffer[4096];
    ssize_t got = read(fd, buffer, sizeof buffer);
    std::lock_guard lock(mutex_);
    for (Connection& c : connections_) {
      if (c.fd != fd) continue;
      if (got <= 0) {
        close(c.fd);
        c.fd = -1;
        if (!c.answered) ++closed_by_peer_;
        return;
      }
      c.received.append(buffer, static_cast<size_t>(got));
      return;
    }
  }

  Mode mode_;
  std::string greeting_;
  int listener_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<size_t> accepted_{0};
  std::atomic<size_t> closed_by_peer_{0};
  std::atomic<size_t> answered_{0};
  mutable std::mutex mutex_;
  std::vector<Connection> connections_;
  std::thread thread_;
};

}  // namespace qz::testing
