// Who hears the Delivered signal on a system-type bus with the policy the
// packaging installs: root does; the unprivileged user `nobody` must not,
// since the signal names every user's requests and recipients.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <string>
#include <vector>

#include "cli_runner.h"
#include "daemon_harness.h"
#include "support/unix_user.h"

namespace qz::testing {
namespace {

using ::testing::HasSubstr;

const std::string kPolicy = std::string(QZ_SOURCE_DIR) + "/packaging/org.qznotes.QzNotes.conf";

bool WaitListening(CliProcess& watch) {
  for (int i = 0; i < 1500; ++i) {
    if (watch.ErrSoFar().find("watching") != std::string::npos) return true;
    std::this_thread::sleep_for(20ms);
  }
  return false;
}

TEST(MonitorPolicy, OnlyRootReceivesDelivered) {
  std::optional<UnixUser> nobody = FindUser("nobody");
  if (!CanSwitchUsers() || !nobody) GTEST_SKIP() << "needs root, setpriv and the user nobody";
  PrivateBus bus(SystemType{{kPolicy}});
  ProgramFolder folder;
  Daemon daemon(bus, folder.path(), {"--system", "--linger", "60"});
  const std::vector<std::string> watch_args = {"--address", bus.address(), "watch", "--count", "1"};

  CliProcess outsider(watch_args, nobody);
  CliProcess root(watch_args);
  ASSERT_TRUE(WaitListening(outsider)) << outsider.ErrSoFar();
  ASSERT_TRUE(WaitListening(root)) << root.ErrSoFar();

  CliResult sent =
      RunCli({"--address", bus.address(), "send", "--test-id", "T-private", "-m", "x", "-p", "1"});
  ASSERT_EQ(sent.status, 0) << sent.Describe();
  CliResult heard = root.Wait(60s);
  ASSERT_EQ(heard.status, 0) << heard.Describe() << daemon.Log();
  EXPECT_THAT(heard.out, HasSubstr("T-private: Message Undeliverable"));

  // The bus hands a broadcast to every allowed receiver in one go, so by
  // now the outsider would have it too; it is stopped and must have printed
  // nothing.
  outsider.Signal(SIGTERM);
  CliResult unheard = outsider.Wait(60s);
  EXPECT_EQ(unheard.out, "") << unheard.Describe();
}

}  // namespace
}  // namespace qz::testing
