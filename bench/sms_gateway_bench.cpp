// Requests per second from one mblnPagingEx call with 1,000 numbers, next to
// curl's own rate (one process, one connection, no --parallel) sending the
// same 1,000 request texts to the same gateway. Blocks of the two alternate
// so both rates come from the same stretch of machine time; target ratio
// (channel rate over curl rate) >= 0.8. Against the scripted gateway and
// against Kannel's sendsms.
//
//   build/default/sms_gateway_bench
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "automation/component_registry.h"
#include "diagnostics/last_error.h"
#include "gateways/sms/sms_channel.h"
#include "gateways/sms/sms_gateway_request.h"
#include "gateways/sms/sms_request_text.h"
#include "support/gateway_sim.h"
#include "support/kannel_gateway.h"
#include "support/temp_folder.h"

extern char** environ;

namespace qz::testing {
namespace {

using Clock = std::chrono::steady_clock;
constexpr int kNumbers = 1000;
constexpr const char* kMessage = "Disk full on db1";

struct Target {
  std::string address;
  std::string connect;
  std::string response;
  std::string trailer;
};

// The channel's state aimed at one gateway, and curl's configuration file
// holding the very requests the channel sends.
class Run {
 public:
  explicit Run(const Target& t) {
    RegisterSmsGatewayRequest(components_);
    sms_.mstrProtocol = "http";
    sms_.mstrIPAddress = t.address;
    sms_.mstrConnect = t.connect;
    sms_.mstrAccess = "0";
    sms_.mstrMethod = "GET";
    sms_.mstrResponse = t.response;
    sms_.mstrCountryCode = "44";
    sms_.mstrSMSTo = "to";
    sms_.mstrSMSFrom = "from";
    sms_.mstrSMSMsg = "text";
    sms_.mstrSMSOffset = "left";
    sms_.mstrSMSTrailer = t.trailer;
    std::vector<Variant> numbers;
    std::ofstream config(folder_.File("curl.cfg"));
    const SmsMessageField message = SmsMessageFieldOf(kMessage, SmsEncoding::Seed);
    for (int i = 0; i < kNumbers; ++i) {
      const std::string number = "07700" + std::to_string(900000 + i);
      numbers.emplace_back(number);
      config << "url = \"http://" << t.address << t.connect << "?"
             << SmsRequestText(sms_, message, number, SmsEncoding::Seed)
             << "\"\noutput = /dev/null\n";
    }
    notes_ = Variant::Array({Variant(kMessage)});
    pagers_ = Variant::Array({Variant::Array(std::move(numbers))});
  }

  // Seconds for one channel call; negative when it failed.
  double Channel() {
    ChannelCall call{folder_.path(), components_, {}, {}, {}, {}, snpp_, kept_};
    const auto start = Clock::now();
    const bool ok = mblnPagingEx(call, notes_, pagers_);
    const double s = std::chrono::duration<double>(Clock::now() - start).count();
    return ok ? s : -1;
  }

  // Seconds for curl to send the same requests; negative when it failed.
  double Curl() {
    std::string config = folder_.File("curl.cfg");
    std::vector<std::string> args = {"curl", "--silent", "--fail", "--config", config};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const auto start = Clock::now();
    pid_t pid = -1;
    if (posix_spawnp(&pid, "curl", nullptr, nullptr, argv.data(), environ) != 0) return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    const double s = std::chrono::duration<double>(Clock::now() - start).count();
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? s : -1;
  }

 private:
  TempFolder folder_;
  ComponentRegistry components_;
  std::string snpp_;
  GatewayStates kept_;
  SmsSettings& sms_ = kept_.Get<SmsSettings>();
  Variant notes_, pagers_;
};

void Compare(benchmark::State& state, const Target& target) {
  Run run(target);
  constexpr int kBlocks = 5;
  double channel_s = 0, curl_s = 0;
  for (auto _ : state) {
    for (int b = 0; b < kBlocks; ++b) {
      const double c = run.Channel(), k = run.Curl();
      if (c < 0) return state.SkipWithError(("channel failed: " + gstrLastError).c_str());
      if (k < 0) return state.SkipWithError("curl failed");
      channel_s += c;
      curl_s += k;
    }
  }
  const double requests =
      static_cast<double>(kBlocks) * kNumbers * static_cast<double>(state.iterations());
  state.counters["channel_per_s"] = requests / channel_s;
  state.counters["curl_per_s"] = requests / curl_s;
  state.counters["ratio"] = curl_s / channel_s;  // channel rate over curl rate
}

void BM_PagingExVersusCurl_Simulator(benchmark::State& state) {
  static GatewaySim sim;
  Compare(state, {sim.address(), "/cgi-bin/sendsms", "Accepted for delivery", "go=1"});
}
BENCHMARK(BM_PagingExVersusCurl_Simulator)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_PagingExVersusCurl_Kannel(benchmark::State& state) {
  static KannelGateway kannel;
  Compare(state, {kannel.sendsms_address(), "/cgi-bin/sendsms", "Accepted for delivery",
                  std::string("username=") + KannelGateway::kUser +
                      "&password=" + KannelGateway::kPassword});
}
BENCHMARK(BM_PagingExVersusCurl_Kannel)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
}  // namespace qz::testing

BENCHMARK_MAIN();
