// The metrics listener end to end: qznotesd pages once through the SNPP
// simulator; the scrape counts it and passes promtool, Prometheus's own
// check of the text format.
#include <gtest/gtest.h>

#include <regex>

#include "cli_runner.h"
#include "daemon_harness.h"
#include "support/snpp_sim.h"

namespace qz::testing {
namespace {

TEST(MetricsDaemon, AScrapeCountsTheDeliveryInTheTextFormat) {
  if (ToolMissing("/usr/bin/curl") || ToolMissing("/usr/bin/promtool"))
    GTEST_SKIP() << "no curl/promtool";
  PrivateBus bus;
  ProgramFolder folder;
  SnppSim snpp;
  folder.UseSnpp(snpp.port(), 5);
  Daemon daemon(bus, folder.path(), {"--metrics-listen", "127.0.0.1:0", "--linger", "60"});
  ASSERT_TRUE(daemon.Logged("metrics: serving http://127.0.0.1:", 10s)) << daemon.Log();
  std::smatch serving;
  const std::string log = daemon.Log();
  ASSERT_TRUE(
      std::regex_search(log, serving, std::regex(R"(serving http://127\.0\.0\.1:(\d+)/metrics)")));
  const std::string port = serving[1];
  Client client(bus);
  ASSERT_TRUE(SendRequest(client, client.Create(), "M-1").ok());
  ASSERT_EQ(client.WaitForCallbacks(1, 60s).size(), 1u) << daemon.Log();

  TempFolder scratch;
  const Fetched scrape = Curl("http://127.0.0.1:" + port + "/metrics", {"-m", "10"});
  ASSERT_EQ(scrape.status, 200) << scrape.head << daemon.Log();
  EXPECT_NE(scrape.head.find("Content-Type: text/plain; version=0.0.4"), std::string::npos)
      << scrape.head;
  const std::string& scraped = scrape.body;
  const std::string file = scratch.Write("metrics", scraped);
  for (const char* line : {
           "qznotes_requests_accepted_total{boundary=\"dbus\"} 1\n",
           "qznotes_deliveries_total{gateway=\"SNPP\",outcome=\"sent\"} 1\n",
           "qznotes_delivery_duration_seconds_count{gateway=\"SNPP\"} 1\n",
           "qznotes_callbacks_total{kind=\"dbus\",outcome=\"sent\"} 1\n",
           "qznotes_requests_pending 0\n",
       })
    EXPECT_NE(scraped.find(line), std::string::npos) << line << scraped;
  ChildProcess promtool({"/bin/sh", "-c", "/usr/bin/promtool check metrics < " + file},
                        scratch / "promtool.out");
  EXPECT_EQ(promtool.WaitExit(30s), 0) << promtool.Output() << scraped;
}

}  // namespace
}  // namespace qz::testing
