// Two daemons sharing one journal database: each one's status and journal
// listing show the whole fleet.
#include <gtest/gtest.h>

#include <regex>

#include "cli_runner.h"
#include "daemon_harness.h"
#include "support/pg_cluster.h"

namespace qz::testing {
namespace {

TEST(FleetState, EachDaemonShowsTheWholeFleet) {
  if (!PgCluster::Available()) GTEST_SKIP() << "PostgreSQL 15 is not installed";
  TempFolder scratch;
  ChildProcess help({QZ_DAEMON_PATH, "--help"}, scratch / "help");
  if (help.WaitExit(30s), help.Output().find("postgresql://") == std::string::npos)
    GTEST_SKIP() << "this qznotesd keeps no fleet journal";
  PgCluster cluster;
  ASSERT_TRUE(cluster.Start()) << cluster.log();
  PrivateBus bus_a, bus_b;
  ProgramFolder folder_a, folder_b;
  Daemon a(bus_a, folder_a.path(), {"--journal", cluster.url(), "--serves", "1,mail"});
  Daemon b(bus_b, folder_b.path(), {"--journal", cluster.url(), "--serves", "2"});
  const std::string json_fleet =
      R"("fleet":\{"daemons":\{("[^"]+":\{"serves":\[("1","mail"|"2")\],"seen_ms":[0-9]+,"alive":true,"holds":0\},?){2}\},"unclaimable":0\})";
  const struct {
    const PrivateBus& bus;
    std::vector<std::string> command;
    std::string shows;
  } rows[] = {
      {bus_a, {"status", "--json"}, json_fleet},
      {bus_b, {"status", "--json"}, json_fleet},
      {bus_a, {"journal", "list"}, "\nfleet +2 daemons, 2 alive, 0 tries nobody can claim\n"},
      {bus_b, {"journal", "list", "--failed"}, "^0 failed requests in the fleet's database\n$"},
  };
  for (const auto& row : rows) {
    std::vector<std::string> args = {"--address", row.bus.address()};
    args.insert(args.end(), row.command.begin(), row.command.end());
    const CliResult got = RunCli(args);
    EXPECT_TRUE(std::regex_search(got.out, std::regex(row.shows))) << got.Describe() << a.Log();
  }
}

}  // namespace
}  // namespace qz::testing
