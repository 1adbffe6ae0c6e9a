// A one-request HTTP server on 127.0.0.1 for the callback tests: it accepts
// one connection on an ephemeral port, records the request and answers with
// a fixed status (or, when silent, never answers). Every wait is bounded, so
// the thread ends by itself even when no client comes.
#pragma once

#include "support/child_process.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <thread>

namespace qz::testing {

class OneRequestHttpServer {
 public:
  // `status` 0: read the request, then hold the connection without answering.
  // `headers`: extra response header lines, each ending in CR LF.
  explicit OneRequestHttpServer(int status = 200, std::string headers = {})
      : status_(status), headers_(std::move(headers)) {
    listener_ = ListenOnLoopback(1, port_);
    thread_ = std::thread([this] { Serve(); });
  }
  ~OneRequestHttpServer() {
    shutdown(listener_, SHUT_RDWR);  // wakes a thread still waiting for a client
    if (thread_.joinable()) thread_.join();
    close(listener_);
  }

  uint16_t port() const { return port_; }
  // The raw request, headers and body; complete once the client call returned.
  std::string request() {
    if (thread_.joinable()) thread_.join();
    return request_;
  }

 private:
  static constexpr int kWaitMs = 20000;

  void Serve() {
    pollfd p{listener_, POLLIN, 0};
    if (poll(&p, 1, kWaitMs) != 1 || !(p.revents & POLLIN)) return;
    const int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) return;
    ReadRequest(client);
    if (status_ == 0) {
      ReadUntilClosed(client);
    } else {
      const std::string answer = "HTTP/1.1 " + std::to_string(status_) + " Status\r\n" + headers_ +
                                 "Content-Length: 2\r\nConnection: close\r\n\r\nok";
      (void)!write(client, answer.data(), answer.size());
    }
    close(client);
  }

  // Headers, then as many body bytes as Content-Length says.
  void ReadRequest(int client) {
    size_t wanted = std::string::npos;
    while (request_.size() < wanted && Receive(client)) {
      const size_t end = request_.find("\r\n\r\n");
      if (end == std::string::npos || wanted != std::string::npos) continue;
      const size_t length = request_.find("Content-Length: ");
      wanted = end + 4 + (length < end ? std::stoul(request_.substr(length + 16)) : 0);
    }
  }

  void ReadUntilClosed(int client) {
    char buffer[512];
    pollfd p{client, POLLIN, 0};
    while (poll(&p, 1, kWaitMs) == 1 && read(client, buffer, sizeof buffer) > 0) {
    }
  }

  bool Receive(int client) {
    char buffer[4096];
    pollfd p{client, POLLIN, 0};
    if (poll(&p, 1, kWaitMs) != 1) return false;
    const ssize_t got = read(client, buffer, sizeof buffer);
    if (got <= 0) return false;
    request_.append(buffer, static_cast<size_t>(got));
    return true;
  }

  int status_;
  std::string headers_;
  int listener_ = -1;
  uint16_t port_ = 0;
  std::string request_;
  std::thread thread_;
};

}  // namespace qz::testing
