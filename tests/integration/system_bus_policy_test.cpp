// The daemon on a system-type bus with the policy the packaging installs,
// called by root and by the unprivileged user `nobody`.
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "cli_runner.h"
#include "daemon_harness.h"
#include "support/unix_user.h"

namespace qz::testing {
namespace {

using ::testing::HasSubstr;

const std::string kPolicy = std::string(QZ_SOURCE_DIR) + "/packaging/org.qznotes.QzNotes.conf";

class SystemBusPolicy : public ::testing::Test {
 protected:
  void SetUp() override {
    nobody_ = FindUser("nobody");
    if (!CanSwitchUsers() || !nobody_) GTEST_SKIP() << "needs root, setpriv and the user nobody";
    root_ = FindUser("root");
    bus_ = std::make_unique<PrivateBus>(SystemType{{kPolicy}});
    daemon_ = std::make_unique<Daemon>(*bus_, folder_.path(), std::vector<std::string>{"--system"});
  }
  std::vector<std::string> On(std::vector<std::string> args) const {
    args.insert(args.begin(), {"--address", bus_->address()});
    return args;
  }

  std::optional<UnixUser> root_, nobody_;
  ProgramFolder folder_;
  std::unique_ptr<PrivateBus> bus_;
  std::unique_ptr<Daemon> daemon_;
};

TEST_F(SystemBusPolicy, OnlyRootChangesSettingsAndEveryoneReadsThem) {
  const std::string settings = R"(["from-%s", "1200,e,7,1", "/dev/ttyS0", "0"])";
  auto SetBy = [&](const char* who) {
    std::string text = settings;
    text.replace(text.find("%s"), 2, who);
    return text;
  };
  struct Case {
    const char* why;
    const UnixUser& user;
    std::vector<std::string> args;
    int status;
    const char* output;  // in stdout for 0, in stderr otherwise
  };
  const Case cases[] = {
      {"root changes settings", *root_, {"call", "gblnSetSettings", SetBy("root")}, 0, "True"},
      {"nobody may not",
       *nobody_,
       {"call", "gblnSetSettings", SetBy("nobody")},
       2,
       "Rejected send message"},
      {"nor through Invoke",
       *nobody_,
       {"call", "0x6003000C", SetBy("nobody")},
       2,
       "Rejected send message"},
      {"nobody reads them", *nobody_, {"settings", "get", "terminal-short"}, 0, "Number=from-root"},
  };
  for (const Case& c : cases) {
    CliResult result = RunCliAs(c.user, On(c.args));
    EXPECT_EQ(result.status, c.status) << c.why << "\n" << result.Describe();
    EXPECT_THAT(c.status == 0 ? result.out : result.err, HasSubstr(c.output)) << c.why;
  }
  // Any program runs as nobody the same way: here a bare D-Bus call.
  CliResult direct = RunAs(*nobody_, "/usr/bin/gdbus",
                           {"call", "--address", bus_->address(), "--dest", kName, "--object-path",
                            kRoot, "--method", std::string(kNotify) + ".gvarGetSettings"});
  EXPECT_EQ(direct.status, 0) << direct.Describe();
  EXPECT_THAT(direct.out, HasSubstr("'from-root'"));

  EXPECT_THAT(folder_.Read("QzNotes.ini"), HasSubstr("Number=from-root"));
  EXPECT_THAT(folder_.Read("QzNotes.ini"), ::testing::Not(HasSubstr("from-nobody")));
  EXPECT_EQ(daemon_->WaitExit(0ms), Daemon::kRunning);
}

}  // namespace
}  // namespace qz::testing
