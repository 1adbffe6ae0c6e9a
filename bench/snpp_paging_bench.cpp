// SNPP paging over loopback against qznotes-snpp-sim.
// BM_SnppPagesPerSecond: full PAGE/MESSAGE/SEND exchanges per second over one
//   connection through cPager, next to a raw blocking socket client doing the
//   same exchanges against the same simulator in the same run (the ceiling).
//   Target: ratio at least 0.8.
// BM_SnppTimeoutWaitCpu: CPU time of one SendPage that waits out a 20 s
//   timeout on a gateway that never answers. Target: under 0.05 s.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <chrono>
#include <string>

#include "gateways/snpp/c_pager.h"
#include "platform/unique_fd.h"
#include "support/snpp_sim.h"

namespace {

using Clock = std::chrono::steady_clock;

// The ceiling: blocking send and receive, one reply line per command.
class RawClient {
 public:
  explicit RawClient(int port) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int one = 1;
    ::setsockopt(fd_.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    ok_ = ::connect(fd_.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && ReadLine();
  }
  bool ok() const { return ok_; }
  bool Page() {
    return Exchange("PAGE \"100\"\r\n") && Exchange("MESSAGE \"disk full\"\r\n") &&
           Exchange("SEND\r\n");
  }

 private:
  bool Exchange(std::string_view line) {
    return ::send(fd_.get(), line.data(), line.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(line.size()) &&
           ReadLine();
  }
  // One reply a command: read until its line end arrives.
  bool ReadLine() {
    char buffer[512];
    for (;;) {
      ssize_t n = ::recv(fd_.get(), buffer, sizeof buffer, 0);
      if (n <= 0) return false;
      if (buffer[n - 1] == '\n') return true;
    }
  }
  qz::UniqueFd fd_;
  bool ok_ = false;
};

void BM_SnppPagesPerSecond(benchmark::State& state) {
  qz::testing::SnppSim sim;
  RawClient raw(sim.port());
  qz::cPager pager;
  pager.HostName("127.0.0.1");
  pager.Port(sim.PortText());
  pager.Timeout("20");
  if (!raw.ok() || !pager.Connect()) return state.SkipWithError("no connection to the simulator");
  constexpr int kPages = 200;
  double raw_seconds = 0, pager_seconds = 0;
  long pages = 0;
  for (auto _ : state) {
    auto start = Clock::now();
    for (int i = 0; i < kPages; ++i)
      if (!raw.Page()) return state.SkipWithError("raw page failed");
    auto middle = Clock::now();
    for (int i = 0; i < kPages; ++i)
      if (!pager.SendPage("\"100\"", "\"disk full\""))
        return state.SkipWithError("page not confirmed");
    auto end = Clock::now();
    raw_seconds += std::chrono::duration<double>(middle - start).count();
    pager_seconds += std::chrono::duration<double>(end - middle).count();
    pages += kPages;
  }
  state.counters["pages_per_s"] = pages / pager_seconds;
  state.counters["ceiling_per_s"] = pages / raw_seconds;
  state.counters["ratio"] = raw_seconds / pager_seconds;
}
BENCHMARK(BM_SnppPagesPerSecond)->Iterations(10)->Unit(benchmark::kMillisecond);

double ThreadCpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_THREAD, &u);
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + 1e-6 * (u.ru_utime.tv_usec + u.ru_stime.tv_usec);
}

void BM_SnppTimeoutWaitCpu(benchmark::State& state) {
  qz::testing::SnppSim sim("reply PAGE none\n");
  qz::cPager pager;
  pager.HostName("127.0.0.1");
  pager.Port(sim.PortText());
  pager.Timeout("20");
  if (!pager.Connect()) return state.SkipWithError("no connection to the simulator");
  double cpu = 0, wall = 0;
  for (auto _ : state) {
    double before = ThreadCpuSeconds();
    auto start = Clock::now();
    if (pager.SendPage("\"100\"", "\"never answered\""))
      return state.SkipWithError("page confirmed");
    wall += std::chrono::duration<double>(Clock::now() - start).count();
    cpu += ThreadCpuSeconds() - before;
  }
  state.counters["cpu_s"] = cpu / static_cast<double>(state.iterations());
  state.counters["wall_s"] = wall / static_cast<double>(state.iterations());
}
BENCHMARK(BM_SnppTimeoutWaitCpu)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
