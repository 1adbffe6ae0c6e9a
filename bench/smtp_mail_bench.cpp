// Mails per second through mblnSendSMTPMail (one message to 100 recipients,
// one "qzSMTP.cMail" instance and one connection per mail, as the channel
// works) next to a plain libcurl loop sending the same 100 mails, one handle
// and connection each, to the same SMTP sink on loopback in the same run.
// Target: the channel reaches at least 0.8 of the plain loop.
#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <cstdio>
#include <map>

#include "automation/component_registry.h"
#include "diagnostics/last_error.h"
#include "gateways/mail/mail_message.h"
#include "gateways/mail/smtp_mail.h"
#include "gateways/mail/smtp_mail_channel.h"
#include "gateways/sms/sms_settings.h"
#include "support/smtp_sink.h"

namespace {

constexpr int kRecipients = 100;
constexpr const char* kText = "db1 down since 10:00: disk /srv at 99%, replication stopped";

std::string Recipient(int i) { return "ops" + std::to_string(i) + "@example.org"; }

void ChannelMails(benchmark::State& state, std::string server) {
  qz::ComponentRegistry components;
  qz::RegisterSmtpMail(components);
  std::vector<qz::Variant> recipients;
  for (int i = 0; i < kRecipients; ++i) recipients.emplace_back(Recipient(i));
  const qz::Variant notes = qz::Variant::Array({qz::Variant(kText)});
  const qz::Variant lists = qz::Variant::Array({qz::Variant::Array(recipients)});
  std::string snpp;
  qz::GatewayStates kept;
  qz::ChannelCall call{"/nonexistent", components, "", "notes@example.org", "", server, snpp, kept};
  for (auto _ : state) {
    if (!qz::mblnSendSMTPMail(call, notes, lists)) state.SkipWithError(qz::gstrLastError.c_str());
  }
  state.SetItemsProcessed(state.iterations() * kRecipients);
}

size_t ReadData(char* buffer, size_t size, size_t count, void* user) {
  auto* rest = static_cast<std::string_view*>(user);
  const size_t n = std::min(size * count, rest->size());
  rest->copy(buffer, n);
  rest->remove_prefix(n);
  return n;
}

void PlainCurlMails(benchmark::State& state, std::string server) {
  const std::string url = "smtp://" + server;
  std::vector<std::string> data;
  for (int i = 0; i < kRecipients; ++i)
    data.push_back(
        qz::ComposeMail({{"", "notes@example.org"}, {{"", Recipient(i)}}, {}, kText, kText}));
  for (auto _ : state) {
    for (int i = 0; i < kRecipients; ++i) {
      CURL* h = curl_easy_init();
      curl_slist* rcpt = curl_slist_append(nullptr, Recipient(i).c_str());
      std::string_view rest = data[i];
      curl_easy_setopt(h, CURLOPT_URL, url.c_str());
      curl_easy_setopt(h, CURLOPT_MAIL_FROM, "notes@example.org");
      curl_easy_setopt(h, CURLOPT_MAIL_RCPT, rcpt);
      curl_easy_setopt(h, CURLOPT_UPLOAD, 1L);
      curl_easy_setopt(h, CURLOPT_READFUNCTION, ReadData);
      curl_easy_setopt(h, CURLOPT_READDATA, &rest);
      curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
      const CURLcode code = curl_easy_perform(h);
      curl_slist_free_all(rcpt);
      curl_easy_cleanup(h);
      if (code != CURLE_OK) state.SkipWithError(curl_easy_strerror(code));
    }
  }
  state.SetItemsProcessed(state.iterations() * kRecipients);
}

// Prints as usual and keeps every benchmark's rate for the ratio.
class RateReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      auto items = run.counters.find("items_per_second");
      if (items != run.counters.end() && run.aggregate_name == "median")
        rates[run.run_name.function_name] = items->second.value;
    }
  }
  std::map<std::string, double> rates;
};

}  // namespace

int main(int argc, char** argv) {
  curl_global_init(CURL_GLOBAL_DEFAULT);
  qz::testing::SmtpSink sink({.store = false});
  // Repetitions of the two loops interleaved, so both see the same machine load.
  std::vector<char*> args(argv, argv + argc);
  std::string interleave = "--benchmark_enable_random_interleaving=true";
  args.insert(args.begin() + 1, interleave.data());
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  benchmark::RegisterBenchmark("BM_PlainCurlMails", PlainCurlMails, sink.server())
      ->Iterations(3)
      ->Repetitions(5)
      ->ReportAggregatesOnly(true)
      ->UseRealTime()
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("BM_ChannelMails", ChannelMails, sink.server())
      ->Iterations(3)
      ->Repetitions(5)
      ->ReportAggregatesOnly(true)
      ->UseRealTime()
      ->Unit(benchmark::kMillisecond);
  RateReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const double plain = reporter.rates["BM_PlainCurlMails"],
               channel = reporter.rates["BM_ChannelMails"];
  if (plain > 0)
    std::printf("mails/s: channel %.0f, plain libcurl %.0f, ratio %.2f (target >= 0.80)\n", channel,
                plain, channel / plain);
  benchmark::Shutdown();
  curl_global_cleanup();
  return 0;
}
