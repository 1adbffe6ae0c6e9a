// POST /v1/requests against the bus round trip of the same request, in the
// same run: 8 clients each, the journal on (every accepted request is made
// durable before it is answered). HTTP clients keep their connection; bus
// clients each have a connection and call SendMessageCallBackEx on the
// factory path, so that both run each request on a fresh object. Blocks of
// the two alternate so that both rates come from the same stretch of
// machine time; target: http_per_s / bus_per_s >= 0.8.
//
//   build/bench/http_request_bench
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <sys/stat.h>

#include <atomic>
#include <fstream>
#include <memory>
#include <regex>
#include <thread>

#include "config/profile_string.h"
#include "http/front_door.h"
#include "http/token_store.h"
#include "integration/daemon_harness.h"

namespace qz::testing {
namespace {

using Clock = std::chrono::steady_clock;
constexpr int kClients = 8;
constexpr int kPerBlock = 50;  // requests of each client in one block
constexpr const char* kBenchToken = "bench-token";
constexpr const char* kBody = R"({"testId":"rt","groups":[{"messages":["x"],"pagers":["1"]}]})";

// The daemon with limits far above what a block holds pending; a gateway
// number no channel has, so each run ends at once without a peer.
struct Setup {
  Setup() {
    mblnWritePrivateProfileString((folder.path() / "QzNotes.ini").string(), "Default", "Index",
                                  "7");
    const auto tokens = folder.path() / std::string(kTokensFileName);
    std::ofstream(tokens) << TokenFileText(
        {{"bench", TokenHash(kBenchToken), static_cast<unsigned>(Right::kSend)}});
    chmod(tokens.c_str(), 0600);
    daemon = std::make_unique<Daemon>(
        bus, folder.path(),
        std::vector<std::string>{"--listen", "127.0.0.1:0", "--linger", "60", "--max-pending",
                                 "1000000", "--max-user-pending", "1000000", "--max-total-pending",
                                 "1000000"});
    daemon->Logged("http: serving http://127.0.0.1:", 10s);
    std::smatch port;
    const std::string log = daemon->Log();
    if (std::regex_search(log, port, std::regex(R"(serving http://127\.0\.0\.1:(\d+))")))
      url = "http://127.0.0.1:" + port[1].str() + "/v1/requests";
  }
  PrivateBus bus;
  ProgramFolder folder;
  std::unique_ptr<Daemon> daemon;
  std::string url;
};

// One keep-alive connection per client.
struct HttpClient {
  explicit HttpClient(const std::string& url) : curl(curl_easy_init(), curl_easy_cleanup) {
    headers =
        curl_slist_append(nullptr, (std::string("Authorization: Bearer ") + kBenchToken).c_str());
    headers = curl_slist_append(headers, "Content-Type: application/json");
    curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl.get(), CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl.get(), CURLOPT_POSTFIELDS, kBody);
    curl_easy_setopt(
        curl.get(), CURLOPT_WRITEFUNCTION,
        +[](char*, size_t size, size_t count, void*) { return size * count; });
  }
  ~HttpClient() { curl_slist_free_all(headers); }
  bool Post() {
    long status = 0;
    return curl_easy_perform(curl.get()) == CURLE_OK &&
           curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &status) == CURLE_OK &&
           status == 202;
  }
  std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl;
  curl_slist* headers = nullptr;
};

struct BusClient {
  explicit BusClient(const PrivateBus& bus) : client(bus) {}
  bool Post() {
    return client
               .Call(
                   kRoot, kNotify, "SendMessageCallBackEx",
                   g_variant_new("(@v@v@v@v@vs)", OneGroup("x"), Marker(0), OnePager("1"),
                                 Marker(0), g_variant_new_variant(g_variant_new_string("")), "rt"))
               .Text() == "Notes Server: Asynch mode";
  }
  Client client;
};

// Seconds the clients took for a block together; negative when one failed.
template <typename C>
double Block(std::vector<std::unique_ptr<C>>& clients) {
  std::atomic<bool> failed = false;
  const auto start = Clock::now();
  std::vector<std::thread> threads;
  for (auto& client : clients)
    threads.emplace_back([&] {
      for (int i = 0; i < kPerBlock && !failed; ++i)
        if (!client->Post()) failed = true;
    });
  for (auto& thread : threads) thread.join();
  return failed ? -1 : std::chrono::duration<double>(Clock::now() - start).count();
}

void BM_HttpVersusBus(benchmark::State& state) {
  static Setup setup;
  if (setup.url.empty()) return state.SkipWithError("the API did not start");
  std::vector<std::unique_ptr<HttpClient>> http;
  std::vector<std::unique_ptr<BusClient>> bus;
  for (int i = 0; i < kClients; ++i) {
    http.push_back(std::make_unique<HttpClient>(setup.url));
    bus.push_back(std::make_unique<BusClient>(setup.bus));
  }
  double http_s = 0, bus_s = 0;
  for (auto _ : state) {
    const double h = Block(http), b = Block(bus);
    if (h < 0 || b < 0) return state.SkipWithError("a request was refused");
    http_s += h;
    bus_s += b;
  }
  const double per_block = kClients * kPerBlock * static_cast<double>(state.iterations());
  state.counters["http_per_s"] = per_block / http_s;
  state.counters["bus_per_s"] = per_block / bus_s;
  state.counters["ratio"] = bus_s / http_s;
}
BENCHMARK(BM_HttpVersusBus)->Iterations(10)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace qz::testing

BENCHMARK_MAIN();
