#include "snpp_sim/sim_session.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <algorithm>
#include <cctype>
#include <thread>

#include "platform/unique_fd.h"

namespace qz::snppsim {
namespace {

using Clock = std::chrono::steady_clock;

void Sleep(int ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

bool SendAll(int fd, std::string_view bytes, int flags = 0) {
  while (!bytes.empty()) {
    ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | flags);
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

std::string CommandWord(std::string_view line) {
  size_t end = line.find_first_of(" \t\r\n");
  std::string word(line.substr(0, end));
  std::transform(word.begin(), word.end(), word.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return word.empty() ? "*" : word;
}

class Session {
 public:
  Session(int fd, int number, Behaviour behaviour, const Record& record)
      : fd_(fd), number_(number), behaviour_(std::move(behaviour)), record_(record) {}

  void Run() {
    int one = 1;
    ::setsockopt(fd_.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    Log("open", "");
    if (behaviour_.refuse) {
      // A gateway that is down: the connection is reset before a word.
      linger hard{1, 0};
      ::setsockopt(fd_.get(), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
      Log("reset", "");
    } else if (Greet()) {
      Converse();
    }
    Log("close", "");
  }

 private:
  void Log(std::string_view kind, std::string_view text) const {
    record_.Write(number_, start_, kind, text);
  }

  bool Greet() {
    Sleep(behaviour_.greeting_delay_ms);
    if (behaviour_.greeting && !Send(*behaviour_.greeting + "\r\n")) return false;
    if (behaviour_.flood_bytes > 0) {
      std::string chunk(64 * 1024, 'x');
      for (long long left = behaviour_.flood_bytes; left > 0;) {
        size_t n =
            static_cast<size_t>(std::min<long long>(left, static_cast<long long>(chunk.size())));
        if (!SendAll(fd_.get(), std::string_view(chunk).substr(0, n))) return false;
        left -= static_cast<long long>(n);
      }
      Log("sent", "flood of " + std::to_string(behaviour_.flood_bytes) + " bytes");
    }
    return true;
  }

  // `last`: the connection ends after these bytes. They are corked and go
  // out with the FIN in one segment, so the client sees the reply and the
  // close together, never the reply alone.
  bool Send(const std::string& bytes, bool last = false) {
    Log("sent", bytes);
    if (!last) return SendAll(fd_.get(), bytes);
    bool ok = SendAll(fd_.get(), bytes, MSG_MORE);
    ::shutdown(fd_.get(), SHUT_WR);
    return ok;
  }

  void Converse() {
    std::string pending;
    char buffer[4096];
    for (;;) {
      ssize_t n = ::recv(fd_.get(), buffer, sizeof buffer, 0);
      if (n <= 0) break;
      pending.append(buffer, static_cast<size_t>(n));
      size_t end;
      while ((end = pending.find('\n')) != std::string::npos) {
        std::string line = pending.substr(0, end + 1);
        pending.erase(0, end + 1);
        bool crlf = line.size() >= 2 && line[line.size() - 2] == '\r';
        std::string_view content(line.data(), line.size() - (crlf ? 2 : 1));
        Log(crlf ? "recv" : "recv-lf", content);
        if (!Answer(std::string(content))) return;
      }
    }
    if (!pending.empty()) Log("partial", pending);
  }

  // False when the connection is to end.
  bool Answer(const std::string& line) {
    const std::string command = CommandWord(line);
    const ReplyRule rule = behaviour_.RuleFor(command);
    Sleep(rule.delay_ms);
    if (rule.reset) {
      linger hard{1, 0};  // closing with a zero linger sends RST
      ::setsockopt(fd_.get(), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
      Log("reset", "");
      return false;
    }
    if (rule.close) return false;
    const bool last = command == "QUIT" || (command == "SEND" && behaviour_.close_after_pages > 0 &&
                                            ++pages_ >= behaviour_.close_after_pages);
    if (rule.text) {
      const std::string reply = *rule.text + "\r\n";
      if (rule.split_ms >= 0) {
        size_t half = reply.size() / 2;
        if (!Send(reply.substr(0, half))) return false;
        Sleep(rule.split_ms);
        if (!Send(reply.substr(half), last)) return false;
      } else if (!Send(reply, last)) {
        return false;
      }
    } else if (last) {
      ::shutdown(fd_.get(), SHUT_WR);
    }
    return !last;
  }

  UniqueFd fd_;
  int number_;
  Behaviour behaviour_;
  const Record& record_;
  Clock::time_point start_ = Clock::now();
  int pages_ = 0;
};

}  // namespace

void ServeConnection(int fd, int number, Behaviour behaviour, const Record& record) {
  Session(fd, number, std::move(behaviour), record).Run();
}

}  // namespace qz::snppsim
