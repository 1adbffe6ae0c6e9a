// Mail profiles end to end: qznotes profiles against the daemon on a private
// bus, and GetMessageProfiles listing what was set.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "cli_runner.h"
#include "daemon_harness.h"

namespace qz::testing {
namespace {

using ::testing::HasSubstr;

constexpr const char* kProfiles = "org.qznotes.QzNotes.Profiles";

class ProfilesTest : public ::testing::Test {
 protected:
  ProfilesTest() : daemon_(bus_, folder_.path(), {"--linger", "60", "--seat=present"}) {}

  CliResult Run(std::vector<std::string> args) const {
    args.insert(args.begin(), {"--address", bus_.address()});
    return RunCli(std::move(args));
  }

  PrivateBus bus_;
  ProgramFolder folder_;
  Daemon daemon_;
  Client client_{bus_};
};

TEST_F(ProfilesTest, SetListRemoveAndGetMessageProfiles) {
  EXPECT_EQ(Run({"profiles", "list"}).out, "");
  CliResult set = Run({"profiles", "set", "Ops Desk", "--transport", "smtp://relay.example:2525",
                       "--from", "alerts@example.org"});
  ASSERT_EQ(set.status, 0) << set.Describe();
  ASSERT_EQ(Run({"profiles", "set", "backup", "--transport", "sendmail"}).status, 0);
  ASSERT_EQ(Run({"profiles", "set", "backup", "--transport", "sendmail", "--from", "b@example.org"})
                .status,
            0);

  CliResult list = Run({"profiles"});
  EXPECT_EQ(list.out, "backup\nOps Desk\n") << list.Describe();
  EXPECT_EQ(Run({"--json", "profiles", "list"}).out, "[\"backup\",\"Ops Desk\"]\n");

  // The same names through cNotify, on an object and one-shot on the factory path.
  std::string path = client_.Create();
  EXPECT_EQ(client_.Call(path, kNotify, "GetMessageProfiles", nullptr).Print(),
            "(<[<'backup'>, <'Ops Desk'>]>,)");
  EXPECT_EQ(client_.Call(kRoot, kNotify, "GetMessageProfiles", nullptr).Print(),
            "(<[<'backup'>, <'Ops Desk'>]>,)");

  ASSERT_EQ(Run({"profiles", "remove", "ops desk"}).status, 0);  // names ignore case
  EXPECT_EQ(Run({"profiles", "list"}).out, "backup\n");
  CliResult again = Run({"profiles", "remove", "Ops Desk"});
  EXPECT_EQ(again.status, 1);
  EXPECT_THAT(again.err, HasSubstr("no profile named Ops Desk"));
  // The store is the file in the program folder.
  EXPECT_TRUE(std::filesystem::exists(folder_.path() / "QzRegistry.db"));
}

TEST_F(ProfilesTest, BadProfilesAreRefusedWithAReason) {
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* err;
  } cases[] = {
      {{"profiles", "set", "x", "--transport", "http://relay"}, 1, "smtp:// or smtps://"},
      {{"profiles", "set", "x", "--transport", "smtp://"}, 1, "names no server"},
      {{"profiles", "set", "a\\b", "--transport", "sendmail"}, 1, "must not hold"},
      {{"profiles", "set", "x", "--transport", "sendmail", "--from", "a@b\r\nBcc: c@d"},
       1,
       "line break"},
      {{"profiles", "set", "x"}, 2, "needs --transport"},
      {{"profiles", "remove"}, 2, "one profile name"},
      {{"profiles", "list", "--from", "a@b"}, 2, "belong to profiles set"},
      {{"profiles", "rename", "x"}, 2, "no action rename"},
  };
  for (const Case& c : cases) {
    CliResult r = Run(c.args);
    EXPECT_EQ(r.status, c.status) << r.Describe();
    EXPECT_THAT(r.err, HasSubstr(c.err)) << r.Describe();
  }
  EXPECT_EQ(Run({"profiles", "list"}).out, "");

  // Wrong argument types on the bus itself.
  Answer wrong = client_.Call(kRoot, kProfiles, "Set", g_variant_new("(s)", "x"));
  EXPECT_EQ(wrong.error, "org.freedesktop.DBus.Error.InvalidArgs");
  Answer xml = client_.Call(kRoot, "org.freedesktop.DBus.Introspectable", "Introspect", nullptr);
  EXPECT_THAT(xml.Print(), HasSubstr("<interface name=\"org.qznotes.QzNotes.Profiles\">"));
}

TEST_F(ProfilesTest, ADamagedStoreIsReportedAndKept) {
  const std::string garbage(8192, 'x');
  std::ofstream(folder_.path() / "QzRegistry.db", std::ios::binary) << garbage;
  CliResult list = Run({"profiles", "list"});
  EXPECT_EQ(list.status, 1) << list.Describe();
  EXPECT_THAT(list.err, HasSubstr("damaged or is no database"));
  EXPECT_EQ(Run({"profiles", "set", "x", "--transport", "sendmail"}).status, 1);
  // The listing for clients finds nothing rather than failing.
  EXPECT_EQ(client_.Call(kRoot, kNotify, "GetMessageProfiles", nullptr).Print(), "(<@av []>,)");
  EXPECT_EQ(folder_.Read("QzRegistry.db"), garbage);
}

}  // namespace
}  // namespace qz::testing
