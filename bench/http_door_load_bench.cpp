// The front door under load, against a real qznotesd on loopback:
// - idle connections: kIdleClients keep-alive connections that each made one
//   authorised request and then say nothing; the daemon's RSS growth per
//   connection (target: at most 16 KiB);
// - event fan-out: 1 or 1,000 clients of GET /v1/events, then requests
//   one after another; the delay from each request's 202 answer to each
//   subscriber's receipt of its outcome (target: max within 100 ms).
// Clients are plain sockets on one thread with poll(), so that the figures
// are the daemon's, not a client library's.
//
//   build/bench/http_door_load_bench
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <regex>

#include "config/profile_string.h"
#include "http/front_door.h"
#include "http/token_store.h"
#include "integration/daemon_harness.h"
#include "proc_stats.h"

namespace qz::testing {
namespace {

using Clock = std::chrono::steady_clock;
constexpr int kIdleClients = 1000;
constexpr int kOutcomes = 20;
constexpr const char* kLoadToken = "load-token";

// The daemon with a token that may send and read everything; a gateway
// number no channel has, so each run ends at once without a peer.
struct LoadSetup {
  LoadSetup() {
    // Both ends of every client connection live in this machine's limits.
    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
    mblnWritePrivateProfileString((folder.path() / "QzNotes.ini").string(), "Default", "Index",
                                  "7");
    const auto tokens = folder.path() / std::string(kTokensFileName);
    std::ofstream(tokens) << TokenFileText(
        {{"load", TokenHash(kLoadToken), unsigned(Right::kSend) | unsigned(Right::kRead)}});
    chmod(tokens.c_str(), 0600);
    daemon = std::make_unique<Daemon>(
        bus, folder.path(),
        std::vector<std::string>{"--listen", "127.0.0.1:0", "--max-pending", "1000000"});
    daemon->Logged("http: serving http://127.0.0.1:", 10s);
    std::smatch port;
    const std::string log = daemon->Log();
    if (std::regex_search(log, port, std::regex(R"(serving http://127\.0\.0\.1:(\d+))")))
      this->port = static_cast<uint16_t>(std::stoi(port[1].str()));
    BusConnection probe = bus.Connect();
    pid = bench::OwnerPid(probe.get());
  }
  PrivateBus bus;
  ProgramFolder folder;
  std::unique_ptr<Daemon> daemon;
  uint16_t port = 0;
  pid_t pid = 0;
};

LoadSetup& Door() {
  static LoadSetup setup;
  return setup;
}

struct Fd {
  explicit Fd(int value) : fd(value) {}
  Fd(Fd&& other) noexcept : fd(std::exchange(other.fd, -1)) {}
  ~Fd() {
    if (fd >= 0) close(fd);
  }
  int fd;
};

Fd ConnectDoor(uint16_t port) {
  Fd socket_fd(socket(AF_INET, SOCK_STREAM, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(socket_fd.fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
    return Fd(-1);
  return socket_fd;
}

bool SendAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

std::string Request(std::string_view method, std::string_view path, std::string_view body = {}) {
  return std::string(method) + " " + std::string(path) +
         " HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: Bearer " + kLoadToken +
         "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\n\r\n" + std::string(body);
}

// Reads every client's socket until `done(i, received)` holds for each, or
// 30 s without progress; calls `got(i)` when client i's text grew.
template <typename Done>
bool ReadUntil(std::vector<Fd>& clients, std::vector<std::string>& received, Done done) {
  std::vector<pollfd> polls;
  std::vector<size_t> which;
  for (size_t i = 0; i < clients.size(); ++i)
    if (!done(i, received[i])) {
      polls.push_back({clients[i].fd, POLLIN, 0});
      which.push_back(i);
    }
  while (!polls.empty()) {
    if (poll(polls.data(), polls.size(), 30000) <= 0) return false;
    for (size_t k = 0; k < polls.size(); ++k) {
      if (!(polls[k].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char buffer[4096];
      const ssize_t n = recv(polls[k].fd, buffer, sizeof buffer, 0);
      if (n <= 0) return false;
      received[which[k]].append(buffer, static_cast<size_t>(n));
      if (done(which[k], received[which[k]])) polls[k].fd = -1;
    }
    std::erase_if(polls, [](const pollfd& p) { return p.fd < 0; });
    which.clear();
    for (size_t i = 0; i < clients.size(); ++i)
      if (!done(i, received[i])) which.push_back(i);
  }
  return true;
}

// A complete answer with a Content-Length body.
bool AnswerComplete(const std::string& text) {
  const size_t head_end = text.find("\r\n\r\n");
  if (head_end == std::string::npos) return false;
  std::smatch length;
  const std::string head = text.substr(0, head_end);
  if (!std::regex_search(head, length, std::regex("Content-Length: (\\d+)", std::regex::icase)))
    return true;
  return text.size() >= head_end + 4 + std::stoul(length[1].str());
}

void BM_IdleConnectionMemory(benchmark::State& state) {
  LoadSetup& door = Door();
  if (!door.port || !door.pid) return state.SkipWithError("the door did not start");
  for (auto _ : state) {
    std::vector<Fd> clients;
    std::vector<std::string> received;
    // One connection first, so that what every connection shares is there.
    for (int round = 0; round < 2; ++round) {
      const double before = bench::MemoryMiB(door.pid, "VmRSS");
      const int count = round == 0 ? 1 : kIdleClients;
      const size_t first = clients.size();
      for (int i = 0; i < count; ++i) {
        clients.push_back(ConnectDoor(door.port));
        received.emplace_back();
        if (clients.back().fd < 0 ||
            !SendAll(clients.back().fd, Request("GET", "/v1/requests/0-none")))
          return state.SkipWithError(
              ("a client could not connect: " + std::to_string(i) + " " + strerror(errno)).c_str());
      }
      if (!ReadUntil(clients, received,
                     [&](size_t i, const std::string& text) {
                       return i < first || AnswerComplete(text);
                     }) ||
          received.back().find(" 404 ") == std::string::npos)
        return state.SkipWithError("an authorised request was not answered");
      const double grown = bench::MemoryMiB(door.pid, "VmRSS") - before;
      if (round == 1) state.counters["kib_per_connection"] = grown * 1024 / kIdleClients;
    }
  }
}
BENCHMARK(BM_IdleConnectionMemory)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

size_t CountOf(const std::string& text, std::string_view what) {
  size_t count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

void BM_EventFanOut(benchmark::State& state) {
  LoadSetup& door = Door();
  if (!door.port) return state.SkipWithError("the door did not start");
  constexpr std::string_view kDelivered = "event: delivered";
  const int kSubscribers = static_cast<int>(state.range(0));
  std::vector<double> delays_ms, spreads_ms;
  for (auto _ : state) {
    std::vector<Fd> subscribers;
    std::vector<std::string> received(kSubscribers);
    for (int i = 0; i < kSubscribers; ++i) {
      subscribers.push_back(ConnectDoor(door.port));
      if (subscribers.back().fd < 0 ||
          !SendAll(subscribers.back().fd, Request("GET", "/v1/events")))
        return state.SkipWithError("a subscriber could not connect");
    }
    if (!ReadUntil(subscribers, received, [](size_t, const std::string& text) {
          return text.find(": watching") != std::string::npos;
        }))
      return state.SkipWithError("a subscriber's stream did not open");
    Fd poster = ConnectDoor(door.port);
    std::vector<Fd> posters;
    posters.push_back(std::move(poster));
    for (int outcome = 1; outcome <= kOutcomes; ++outcome) {
      std::vector<std::string> answer(1);
      if (!SendAll(posters[0].fd,
                   Request("POST", "/v1/requests",
                           R"({"testId":"fan","groups":[{"messages":["x"],"pagers":["1"]}]})")) ||
          !ReadUntil(posters, answer,
                     [](size_t, const std::string& text) { return AnswerComplete(text); }) ||
          answer[0].find(" 202 ") == std::string::npos)
        return state.SkipWithError("a request was not accepted");
      const auto answered = Clock::now();
      std::vector<bool> seen(kSubscribers, false);
      std::optional<Clock::time_point> first;
      auto got_it = [&](size_t i, const std::string& text) {
        if (!seen[i] && CountOf(text, kDelivered) >= static_cast<size_t>(outcome)) {
          seen[i] = true;
          const auto now = Clock::now();
          if (!first) first = now;
          // An outcome may beat its own answer: that is no delay.
          delays_ms.push_back(
              std::max(0.0, std::chrono::duration<double, std::milli>(now - answered).count()));
          spreads_ms.push_back(std::chrono::duration<double, std::milli>(now - *first).count());
        }
        return seen[i];
      };
      if (!ReadUntil(subscribers, received, got_it))
        return state.SkipWithError("an outcome did not reach every subscriber");
    }
  }
  state.counters["p50_ms"] = bench::Quantile(delays_ms, 0.5);
  state.counters["p99_ms"] = bench::Quantile(delays_ms, 0.99);
  state.counters["max_ms"] = bench::Quantile(delays_ms, 1.0);
  // After the first subscriber had it: the fan-out's own share.
  state.counters["spread_p99_ms"] = bench::Quantile(spreads_ms, 0.99);
  state.counters["spread_max_ms"] = bench::Quantile(spreads_ms, 1.0);
}
BENCHMARK(BM_EventFanOut)
    ->Arg(1)
    ->Arg(1000)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace qz::testing

BENCHMARK_MAIN();
