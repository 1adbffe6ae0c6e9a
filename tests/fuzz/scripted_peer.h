// The far end of a line for fuzz targets whose parser only listens to a
// socket or a terminal: it plays the input's chunks one at a time, each
// after the code under test has had its say (or a short quiet), then hangs
// up. The code under test runs unchanged on the real descriptor.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <thread>
#include <vector>

#include "platform/unique_fd.h"
#include "support/child_process.h"

namespace qz::fuzz {

// How long the peer waits for the other side before saying its next piece.
inline constexpr int kPeerQuietMs = 2;
inline constexpr int kPeerRounds = 64;  // bounds the reads of one wait

// At most `count` pieces of up to `length` bytes each, as the input runs.
inline std::vector<std::string> Pieces(FuzzedDataProvider& input, size_t count, size_t length) {
  std::vector<std::string> pieces;
  while (input.remaining_bytes() > 0 && pieces.size() < count)
    pieces.push_back(input.ConsumeRandomLengthString(length));
  return pieces;
}

// Reads what the other side says until it has been quiet for kPeerQuietMs.
inline void HearOut(int fd) {
  char buffer[4096];
  for (int round = 0; round < kPeerRounds; ++round) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, kPeerQuietMs) <= 0 || ::read(fd, buffer, sizeof buffer) <= 0) return;
  }
}

// Plays `chunks` on `fd` and lets the other side speak between them.
inline void PlayChunks(int fd, const std::vector<std::string>& chunks) {
  HearOut(fd);
  for (const std::string& chunk : chunks) {
    for (size_t sent = 0; sent < chunk.size();) {
      ssize_t n = ::send(fd, chunk.data() + sent, chunk.size() - sent, MSG_NOSIGNAL);
      if (n < 0 && errno == ENOTSOCK) n = ::write(fd, chunk.data() + sent, chunk.size() - sent);
      if (n <= 0) return;
      sent += static_cast<size_t>(n);
    }
    HearOut(fd);
  }
}

// A TCP listener on 127.0.0.1 whose one connection of a run is played by a
// thread; the connection ends in a reset, so the code under test sees an
// error at once rather than waiting out its deadline on a quiet socket.
class ScriptedServer {
 public:
  ScriptedServer() : listener_(testing::ListenOnLoopback(4, port_)) {}
  int port() const { return port_; }

  // Answers the next connection with `chunks` while `client` runs here.
  template <typename Client>
  void Serve(std::vector<std::string> chunks, Client&& client) {
    std::jthread peer([this, chunks = std::move(chunks)] {
      pollfd p{listener_.get(), POLLIN, 0};
      if (::poll(&p, 1, 2000) <= 0) return;  // the client never came
      UniqueFd connection(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
      if (!connection) return;
      PlayChunks(connection.get(), chunks);
      linger reset{1, 0};
      ::setsockopt(connection.get(), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    });
    client();
  }

 private:
  uint16_t port_ = 0;
  UniqueFd listener_;  // after port_, which it sets
};

}  // namespace qz::fuzz
