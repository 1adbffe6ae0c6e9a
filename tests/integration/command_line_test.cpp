// What the daemon and the client say about their own command lines, before
// any bus is involved.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "integration/cli_runner.h"
#include "support/temp_folder.h"

namespace qz::testing {
namespace {

using ::testing::HasSubstr;

CliResult Daemon(std::vector<std::string> args) {
  return CliProcess(std::move(args), std::nullopt, QZ_DAEMON_PATH).Wait();
}

TEST(CommandLines, BothProgramsPrintTheirVersion) {
  CliResult daemon = Daemon({"--version"});
  EXPECT_EQ(daemon.status, 0) << daemon.Describe();
  EXPECT_EQ(daemon.out, std::string("qznotesd ") + QZ_VERSION + "\n");
  CliResult client = RunCli({"--version"});
  EXPECT_EQ(client.status, 0) << client.Describe();
  EXPECT_EQ(client.out, std::string("qznotes ") + QZ_VERSION + "\n");
}

TEST(CommandLines, TheDaemonRefusesABadCommandLineWithAReason) {
  TempFolder scratch;
  struct Case {
    std::vector<std::string> args;
    const char* says;
  } cases[] = {
      {{"--folder="}, "--folder needs a folder"},
      {{"--folder", scratch.File("missing")}, "is not a folder"},
      {{"--linger=soon"}, "--linger takes"},
      {{"--seat=maybe"}, "--seat takes"},
      {{"--no-such-option"}, "Unknown option"},
  };
  for (const Case& c : cases) {
    CliResult result = Daemon(c.args);
    EXPECT_EQ(result.status, 2) << c.args[0] << "\n" << result.Describe();
    EXPECT_THAT(result.err, HasSubstr(c.says)) << c.args[0];
  }
  CliResult help = Daemon({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_THAT(help.out, HasSubstr("--shutdown-grace"));
}

}  // namespace
}  // namespace qz::testing
