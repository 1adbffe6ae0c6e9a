// Two daemons sharing one journal database: each one's status shows the
// whole fleet.
#include <gtest/gtest.h>

#include <regex>

#include "cli_runner.h"
#include "daemon_harness.h"
#include "support/pg_cluster.h"

namespace qz::testing {
namespace {

TEST(FleetState, EachDaemonsStatusShowsTheWholeFleet) {
  if (!PgCluster::Available()) GTEST_SKIP() << "PostgreSQL 15 is not installed";
  TempFolder scratch;
  ChildProcess help({QZ_DAEMON_PATH, "--help"}, scratch / "help");
  help.WaitExit(std::chrono::seconds(30));
  if (help.Output().find("postgresql://") == std::string::npos)
    GTEST_SKIP() << "this qznotesd keeps no fleet journal";
  PgCluster cluster;
  ASSERT_TRUE(cluster.Start()) << cluster.log();
  PrivateBus bus_a, bus_b;
  ProgramFolder folder_a, folder_b;
  Daemon a(bus_a, folder_a.path(), {"--journal", cluster.url(), "--serves", "1,mail"});
  Daemon b(bus_b, folder_b.path(), {"--journal", cluster.url(), "--serves", "2"});
  const struct {
    const char* why;
    const PrivateBus& bus;
  } rows[] = {{"asked of the first", bus_a}, {"asked of the second", bus_b}};
  for (const auto& row : rows) {
    const CliResult got = RunCli({"--address", row.bus.address(), "status", "--json"});
    ASSERT_EQ(got.status, 0) << row.why << got.Describe();
    for (
        const char* shows :
        {R"("fleet":\{"daemons":\{.*"serves":\["1","mail"\],"seen_ms":[0-9]+,"alive":true,"holds":0\})",
         R"("fleet":\{"daemons":\{.*"serves":\["2"\],"seen_ms":[0-9]+,"alive":true,"holds":0\})",
         R"("fleet":\{.*\},"unclaimable":0\})"})
      EXPECT_TRUE(std::regex_search(got.out, std::regex(shows))) << row.why << ": " << shows << "\n"
                                                                 << got.out;
  }
}

}  // namespace
}  // namespace qz::testing
