// Callers cannot touch each other's objects or have the server call back
// anyone but themselves: a second connection (and `nobody` on a
// system-type bus) finds another's object as if it did not exist, a
// callback reference must lead back to the caller, and the victim's
// request is still delivered by a daemon that stays up.
#include <fstream>
#include <memory>
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

constexpr const char* kIntrospectable = "org.freedesktop.DBus.Introspectable";
const std::string kFolderPath = std::string(kRoot) + "/cNotify";

// A request called back at `bus_name`'s /callback.
Answer SendCalledBackAt(Client& client, const std::string& path, const std::string& bus_name,
                        const char* test_id) {
  return client.Call(path, kNotify, "SendMessageCallBack",
                     g_variant_new("(@v@v@v@v(so)s)", OneGroup("x"), Marker(0), OnePager("1"),
                                   Marker(0), bus_name.c_str(), "/callback", test_id));
}

bool OwnName(Client& client, const char* name) {
  VariantPtr reply(g_dbus_connection_call_sync(
      client.connection(), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
      "RequestName", g_variant_new("(su)", name, 4u), G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE,
      5000, nullptr, nullptr));
  guint32 result = 0;
  if (reply) g_variant_get(reply.get(), "(u)", &result);
  return result == 1;
}

std::string UniqueName(Client& client) {
  return g_dbus_connection_get_unique_name(client.connection());
}

std::string Xml(const Answer& a) {
  if (!a.ok()) return a.Print();
  const char* xml = nullptr;
  g_variant_get(a.value.get(), "(&s)", &xml);
  return xml;
}

class CallbackReferences : public ::testing::Test {
 protected:
  CallbackReferences()
      : daemon_(bus_, folder_.path(), {"--linger", "30"}), caller_(bus_), other_(bus_) {}

  PrivateBus bus_;
  ProgramFolder folder_;
  Daemon daemon_;
  Client caller_, other_;
};

TEST_F(CallbackReferences, OnlyReferencesBackToTheCallerAreTaken) {
  ASSERT_TRUE(OwnName(caller_, "org.example.CallerHooks"));
  ASSERT_TRUE(OwnName(other_, "org.example.SameUserHooks"));
  struct Case {
    const char* why;
    std::string bus_name;
    Client* called_back;  // null: refused with E13
  } cases[] = {
      {"not a bus name", "not a bus name!", nullptr},
      {"a name of one element", "hooks", nullptr},
      {"another connection's unique name", UniqueName(other_), nullptr},
      {"a well-known name nobody owns", "org.example.Nobody", nullptr},
      {"the caller itself", "", &caller_},
      {"the caller's own unique name", UniqueName(caller_), &caller_},
      {"the caller's own well-known name", "org.example.CallerHooks", &caller_},
      {"a well-known name of the same user", "org.example.SameUserHooks", &other_},
  };
  size_t expected_caller = 0, expected_other = 0;
  for (const Case& c : cases) {
    const std::string path = caller_.Create();
    Answer a = SendCalledBackAt(caller_, path, c.bus_name, c.why);
    if (!c.called_back) {
      EXPECT_EQ(a.error, "org.qznotes.QzNotes.Error.E13") << c.why << ": " << a.Print();
      EXPECT_THAT(a.message, HasSubstr("QzNotes: ")) << c.why;
      continue;
    }
    EXPECT_EQ(a.Print(), "(<'Notes Server: Asynch mode'>,)") << c.why;
    ++(c.called_back == &caller_ ? expected_caller : expected_other);
  }
  // A path that is no object path cannot even be sent as `o`: as a string
  // the reference has the wrong type.
  Answer as_string = caller_.Call(caller_.Create(), kNotify, "SendMessageCallBack",
                                  g_variant_new("(@v@v@v@v(ss)s)", OneGroup("x"), Marker(0),
                                                OnePager("1"), Marker(0), "", "not a path", "T"));
  EXPECT_EQ(as_string.error, "org.qznotes.QzNotes.Error.E13") << as_string.Print();

  auto& to_caller = caller_.WaitForCallbacks(expected_caller, 60s);
  auto& to_other = other_.WaitForCallbacks(expected_other, 60s);
  std::vector<std::string> caller_ids, other_ids;
  for (auto& [id, message] : to_caller) caller_ids.push_back(id);
  for (auto& [id, message] : to_other) other_ids.push_back(id);
  EXPECT_THAT(caller_ids,
              ::testing::UnorderedElementsAre("the caller itself", "the caller's own unique name",
                                              "the caller's own well-known name"));
  EXPECT_THAT(other_ids, ::testing::ElementsAre("a well-known name of the same user"));
  EXPECT_EQ(daemon_.WaitExit(0ms), Daemon::kRunning) << daemon_.Log();
}

class ObjectOwnership : public CallbackReferences {};

TEST_F(ObjectOwnership, AnotherConnectionFindsNoObject) {
  const std::string victim = caller_.Create();
  ASSERT_FALSE(victim.empty());
  ASSERT_TRUE(SendRequest(caller_, victim, "T-victim").ok());
  // What a path that does not exist answers, for comparison.
  const std::string absent = kFolderPath + "/12345";
  const std::string absent_xml = Xml(other_.Call(absent, kIntrospectable, "Introspect", nullptr));
  ASSERT_THAT(absent_xml,
              ::testing::Not(HasSubstr("<interface name=\"org.qznotes.QzNotes._cNotify\"")));

  struct Case {
    const char* why;
    const char* interface;
    const char* member;
    std::string args;  // GVariant text; empty: no arguments
  } cases[] = {
      {"Release", kDispatch, "Release", ""},
      {"AddRef", kDispatch, "AddRef", ""},
      {"Invoke", kDispatch, "Invoke", "(int32 1610809354, @av [])"},
      {"GetTypeInfo", kDispatch, "GetTypeInfo", ""},
      {"a read", kNotify, "gvarGetSettings", ""},
      {"a failing request", kNotify, "SendMessageCallBack",
       "(<int16 5>, <byte 0>, <int16 5>, <byte 0>, ('', objectpath '/callback'), 'T-attack')"},
  };
  for (const Case& c : cases) {
    auto args = [&] { return c.args.empty() ? nullptr : g_variant_new_parsed(c.args.c_str()); };
    Answer stolen = other_.Call(victim, c.interface, c.member, args());
    Answer missing = other_.Call(absent, c.interface, c.member, args());
    EXPECT_EQ(stolen.error, "org.freedesktop.DBus.Error.UnknownObject")
        << c.why << ": " << stolen.Print();
    EXPECT_EQ(stolen.message, "No such object: " + victim) << c.why;
    EXPECT_EQ(missing.message, "No such object: " + absent) << c.why;
  }
  EXPECT_EQ(Xml(other_.Call(victim, kIntrospectable, "Introspect", nullptr)), absent_xml);
  EXPECT_THAT(Xml(caller_.Call(victim, kIntrospectable, "Introspect", nullptr)),
              HasSubstr("<interface name=\"org.qznotes.QzNotes._cNotify\""));

  // The class folder lists each caller's own objects only.
  const std::string mine = other_.Create();
  const std::string tail_victim = victim.substr(kFolderPath.size() + 1),
                    tail_mine = mine.substr(kFolderPath.size() + 1);
  const std::string seen_by_other =
      Xml(other_.Call(kFolderPath, kIntrospectable, "Introspect", nullptr));
  const std::string seen_by_caller =
      Xml(caller_.Call(kFolderPath, kIntrospectable, "Introspect", nullptr));
  EXPECT_THAT(seen_by_other, HasSubstr("<node name=\"" + tail_mine + "\"/>"));
  EXPECT_THAT(seen_by_other, ::testing::Not(HasSubstr(tail_victim)));
  EXPECT_THAT(seen_by_caller, HasSubstr("<node name=\"" + tail_victim + "\"/>"));
  EXPECT_THAT(seen_by_caller, ::testing::Not(HasSubstr(tail_mine)));

  // The creator's object is untouched: one reference, its request delivered.
  EXPECT_EQ(caller_.Call(victim, kDispatch, "AddRef", nullptr).Print(), "(uint32 2,)");
  auto& got = caller_.WaitForCallbacks(1, 30s);
  ASSERT_EQ(got.size(), 1u) << daemon_.Log();
  EXPECT_EQ(got[0].first, "T-victim");
  EXPECT_TRUE(other_.WaitForCallbacks(1, 2s).empty());
  EXPECT_EQ(daemon_.WaitExit(0ms), Daemon::kRunning) << daemon_.Log();
}

// On a system-type bus the unprivileged user runs a bare D-Bus tool.
class SystemBusOwnership : public ::testing::Test {
 protected:
  void SetUp() override {
    nobody_ = FindUser("nobody");
    if (!CanSwitchUsers() || !nobody_) GTEST_SKIP() << "needs root, setpriv and the user nobody";
    // Lets root's test connection own the name the callback cases use.
    std::ofstream(hooks_policy_.path() / "hooks.conf")
        << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN\" "
           "\"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
           "<busconfig><policy user=\"root\"><allow "
           "own=\"org.example.RootHooks\"/></policy></busconfig>\n";
    bus_ = std::make_unique<PrivateBus>(
        SystemType{{std::string(QZ_SOURCE_DIR) + "/packaging/org.qznotes.QzNotes.conf",
                    (hooks_policy_.path() / "hooks.conf").string()}});
    daemon_ = std::make_unique<Daemon>(*bus_, folder_.path(),
                                       std::vector<std::string>{"--system", "--linger", "30"});
    root_ = std::make_unique<Client>(*bus_);
  }
  CliResult GdbusAsNobody(std::vector<std::string> args) const {
    args.insert(args.begin(), {"call", "--address", bus_->address(), "--dest", kName});
    return RunAs(*nobody_, "/usr/bin/gdbus", args);
  }

  std::optional<UnixUser> nobody_;
  ProgramFolder folder_;
  ProgramFolder hooks_policy_{false};
  std::unique_ptr<PrivateBus> bus_;
  std::unique_ptr<Daemon> daemon_;
  std::unique_ptr<Client> root_;
};

TEST_F(SystemBusOwnership, NobodyCannotTouchRootsObject) {
  const std::string victim = root_->Create();
  ASSERT_FALSE(victim.empty());
  ASSERT_TRUE(SendRequest(*root_, victim, "job-42").ok());
  struct Case {
    const char* why;
    std::vector<std::string> args;
  } cases[] = {
      {"Release", {"--object-path", victim, "--method", std::string(kDispatch) + ".Release"}},
      {"a read", {"--object-path", victim, "--method", std::string(kNotify) + ".gvarGetSettings"}},
      {"a failing request",
       {"--object-path", victim, "--method", std::string(kNotify) + ".SendMessageCallBack",
        "<int16 5>", "<byte 0>", "<int16 5>", "<byte 0>", "('', objectpath '/callback')",
        "'T-attack'"}},
  };
  for (const Case& c : cases) {
    CliResult result = GdbusAsNobody(c.args);
    EXPECT_NE(result.status, 0) << c.why << "\n" << result.Describe();
    EXPECT_THAT(result.err, HasSubstr("org.freedesktop.DBus.Error.UnknownObject"))
        << c.why << "\n"
        << result.Describe();
    EXPECT_THAT(result.err, HasSubstr("No such object: " + victim)) << c.why;
  }
  CliResult folder = GdbusAsNobody(
      {"--object-path", kFolderPath, "--method", std::string(kIntrospectable) + ".Introspect"});
  EXPECT_EQ(folder.status, 0) << folder.Describe();
  EXPECT_THAT(folder.out, ::testing::Not(HasSubstr(victim.substr(kFolderPath.size() + 1))));
  CliResult object = GdbusAsNobody(
      {"--object-path", victim, "--method", std::string(kIntrospectable) + ".Introspect"});
  EXPECT_EQ(object.status, 0) << object.Describe();
  EXPECT_THAT(object.out, ::testing::Not(HasSubstr("_cNotify")));

  // Root, the creator, still sees its object, and so does any connection
  // of root's on the system bus; the request is delivered.
  EXPECT_THAT(Xml(root_->Call(kFolderPath, kIntrospectable, "Introspect", nullptr)),
              HasSubstr(victim.substr(kFolderPath.size() + 1)));
  Client other_root(*bus_);
  EXPECT_THAT(Xml(other_root.Call(kFolderPath, kIntrospectable, "Introspect", nullptr)),
              HasSubstr(victim.substr(kFolderPath.size() + 1)));
  EXPECT_TRUE(other_root.Call(victim, kNotify, "gvarGetSettings", nullptr).ok());
  auto& got = root_->WaitForCallbacks(1, 30s);
  ASSERT_EQ(got.size(), 1u) << daemon_->Log();
  EXPECT_EQ(got[0].first, "job-42");
  EXPECT_EQ(daemon_->WaitExit(0ms), Daemon::kRunning) << daemon_->Log();
}

TEST_F(SystemBusOwnership, NobodyCannotHaveRootCalledBack) {
  ASSERT_TRUE(OwnName(*root_, "org.example.RootHooks"));
  // One-shot calls on the factory path, as such tools make them.
  struct Case {
    const char* why;
    std::string reference;
  } cases[] = {
      {"root's well-known name", "('org.example.RootHooks', objectpath '/callback')"},
      {"root's unique name", "('" + UniqueName(*root_) + "', objectpath '/callback')"},
      {"not a bus name", "('not a bus name!', objectpath '/callback')"},
  };
  for (const Case& c : cases) {
    CliResult result = GdbusAsNobody(
        {"--object-path", kRoot, "--method", std::string(kNotify) + ".SendMessageCallBack",
         "<[<[<'x'>]>]>", "<byte 0>", "<[<[<[<'1'>]>]>]>", "<byte 0>", c.reference, "'forged'"});
    EXPECT_NE(result.status, 0) << c.why << "\n" << result.Describe();
    EXPECT_THAT(result.err, HasSubstr("org.qznotes.QzNotes.Error.E13")) << c.why << "\n"
                                                                        << result.Describe();
  }
  EXPECT_TRUE(root_->WaitForCallbacks(1, 3s).empty());
  EXPECT_EQ(daemon_->WaitExit(0ms), Daemon::kRunning) << daemon_->Log();
}

}  // namespace
}  // namespace qz::testing
