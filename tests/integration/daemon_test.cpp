// The real daemon on a real private bus, called the way clients call it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <map>
#include <set>

#include "contract/contract.h"
#include "daemon_harness.h"

namespace qz::testing {
namespace {

class DaemonTest : public ::testing::Test {
 protected:
  DaemonTest() : daemon_(bus_, folder_.path(), {"--linger", "30"}), client_(bus_) {}

  PrivateBus bus_;
  ProgramFolder folder_;
  Daemon daemon_;
  Client client_;
};

std::string Unboxed(const Answer& a, size_t child = 0) {
  if (!a.ok()) return a.error;
  VariantPtr value(g_variant_get_child_value(a.value.get(), child));
  if (g_variant_is_of_type(value.get(), G_VARIANT_TYPE_VARIANT))
    value.reset(g_variant_get_variant(value.get()));
  return PrintedVariant(value.get());
}

TEST_F(DaemonTest, ObjectsAreCountedAndReleased) {
  std::string a = client_.Create(), b = client_.Create();
  // Each object ends in its own random number (see ObjectOwnership).
  EXPECT_THAT(a, ::testing::MatchesRegex("/org/qznotes/QzNotes/cNotify/[0-9]+"));
  EXPECT_THAT(b, ::testing::MatchesRegex("/org/qznotes/QzNotes/cNotify/[0-9]+"));
  EXPECT_NE(a, b);
  EXPECT_THAT(client_.Create("QzNotes.cPager"),
              ::testing::MatchesRegex("/org/qznotes/QzNotes/cPager/[0-9]+"));
  for (const char* refused : {"QzNotes.cRegistry", "QzNotes.cNothing", ""}) {
    Answer no = client_.Call(kRoot, "org.qznotes.QzNotes.ClassFactory", "CreateObject",
                             g_variant_new("(s)", refused));
    EXPECT_EQ(no.error, "org.qznotes.QzNotes.Error.E429") << refused;
  }
  EXPECT_EQ(client_.Call(a, kDispatch, "AddRef", nullptr).Print(), "(uint32 2,)");
  EXPECT_EQ(client_.Call(a, kDispatch, "Release", nullptr).Print(), "(uint32 1,)");
  EXPECT_EQ(client_.Call(a, kDispatch, "Release", nullptr).Print(), "(uint32 0,)");
  EXPECT_EQ(client_.Call(a, kNotify, "gvarGetSettings", nullptr).error,
            "org.freedesktop.DBus.Error.UnknownObject");
  EXPECT_TRUE(client_.Call(b, kNotify, "gvarGetSettings", nullptr).ok());
}

TEST_F(DaemonTest, RequestIsAnsweredThenCalledBack) {
  std::string path = client_.Create();
  auto start = std::chrono::steady_clock::now();
  Answer a = SendRequest(client_, path, "T-42", "disk full");
  EXPECT_EQ(a.Print(), "(<'Notes Server: Asynch mode'>,)");
  auto& got = client_.WaitForCallbacks(1, 20s);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 1000ms);
  EXPECT_EQ(got[0].first, "T-42");
  // The sample's serial device is not there, so the page fails and says why.
  EXPECT_EQ(got[0].second, "QzNotes: Message Undeliverable. See QzNotesLog.log file for details ");
  EXPECT_NE(
      folder_.Read("QzNotesLog.log").find("Page Status: serial line /dev/ttyUSB0: cannot be found"),
      std::string::npos);
  const std::string short_path = path.substr(std::string(kRoot).size() + 1);
  EXPECT_NE(daemon_.Log().find(short_path + ": request T-42: Message Undeliverable."),
            std::string::npos);
}

TEST_F(DaemonTest, InvokeAnswersAsTheNamedMethod) {
  std::string path = client_.Create();
  struct Case {
    const char* name;
    int32_t dispid;
    const char* named_args;   // GVariant text of the named call's tuple
    const char* invoke_args;  // and of Invoke's av
  } cases[] = {
      {"GetMessageProfiles", 0x60030009, "()", "@av []"},
      {"gvarGetSettings", 0x6003000A, "()", "@av []"},
      {"gblnSetSettings", 0x6003000C, "(<['5551234', '1200,e,7,1', '/dev/ttyS0', '0']>,)",
       "[<['5551234', '1200,e,7,1', '/dev/ttyS0', '0']>]"},
      {"gvarTestGateway", 0x6003000D, "(int16 0, '555')", "[<int16 0>, <'555'>]"},
      {"gvarGetPagerSettings", 0x60030018, "(int16 2,)", "[<int16 2>]"},
      {"gvarGetPagerSettings", 0x60030018, "(int16 7,)", "[<int16 7>]"},
      {"gblnSetPagerSettings", 0x6003001A, "(int16 0, <['a']>)", "[<int16 0>, <['a']>]"},
      {"gvarGetPagerSettingsEx", 0x60030026, "(int16 3, <byte 3>)", "[<int16 3>]"},
      {"gblnSetPagerSettingsEx", 0x60030028, "('Default', <['Index=0']>)",
       "[<'Default'>, <['Index=0']>]"},
      {"gblnSetPagerSettingsEx", 0x60030028, "('Default', <['no equals']>)",
       "[<'Default'>, <['no equals']>]"},
      {"SendMessageCallBack", 0x60030000,
       "(<byte 0>, <byte 0>, <byte 0>, <byte 0>, ('', objectpath '/'), 'x')",
       "[<byte 0>, <byte 0>, <byte 0>, <byte 0>, <('', objectpath '/')>, <'x'>]"},
      {"SendMessageCallBackEx", 0x6003002A,
       "(<byte 0>, <byte 0>, <byte 0>, <byte 1>, <byte 1>, 'x')",
       "[<byte 0>, <byte 0>, <byte 0>, <byte 1>, <byte 1>, <'x'>]"},
  };
  for (const auto& c : cases) {
    Answer named = client_.Call(path, kNotify, c.name, g_variant_new_parsed(c.named_args));
    Answer invoked =
        client_.Call(path, kDispatch, "Invoke",
                     g_variant_new("(i@av)", c.dispid, g_variant_new_parsed(c.invoke_args)));
    EXPECT_EQ(Unboxed(named), Unboxed(invoked)) << c.name << " " << c.named_args;
    EXPECT_EQ(named.message, invoked.message) << c.name;
    EXPECT_NE(named.error, "org.qznotes.QzNotes.Error.E13") << c.name << " " << c.named_args;
  }
  Answer ids =
      client_.Call(path, kDispatch, "GetIDsOfNames",
                   g_variant_new_parsed("(['gvarGetPagerSettingsEx', 'lvarParams', 'Request'],)"));
  EXPECT_EQ(ids.Print(), "([1610809382, 1, 0],)");
  EXPECT_EQ(
      client_.Call(path, kDispatch, "GetIDsOfNames", g_variant_new_parsed("(['Nope'],)")).error,
      "org.qznotes.QzNotes.Error.E438");
}

TEST_F(DaemonTest, MarkersRoundTrip) {
  std::string path = client_.Create();
  // The by-reference lvarParams comes back as it went.
  for (uint8_t marker : {0, 1, 2, 3}) {
    Answer a = client_.Call(path, kNotify, "gvarGetPagerSettingsEx",
                            g_variant_new("(n@v)", 7, Marker(marker)));
    EXPECT_EQ(Unboxed(a, 0), "byte 0x02") << "an unknown request code answers no dimensions";
    EXPECT_EQ(Unboxed(a, 1), "byte 0x0" + std::to_string(marker));
  }
  std::filesystem::remove(folder_.path() / "QzNotes.ini");
  EXPECT_EQ(Unboxed(client_.Call(path, kNotify, "gvarGetSettings", nullptr)),
            "byte 0x00");  // Empty
}

TEST_F(DaemonTest, SettingsOperationsAndTheirErrors) {
  std::string path = client_.Create();
  Answer settings = client_.Call(path, kNotify, "gvarGetSettings", nullptr);
  EXPECT_EQ(Unboxed(settings), "[<''>, <'1200,e,7,1'>, <'/dev/ttyUSB0'>, <'0'>]");

  Answer page =
      client_.Call(path, kNotify, "gvarGetPagerSettingsEx", g_variant_new("(n@v)", 0, Marker(3)));
  ASSERT_TRUE(page.ok());
  VariantPtr pairs(g_variant_get_child_value(page.value.get(), 0));
  Answer write_back = client_.Call(path, kNotify, "gblnSetPagerSettingsEx",
                                   g_variant_new("(s@v)", "Pager Terminal", pairs.release()));
  EXPECT_EQ(write_back.Print(), "(true,)");

  Answer short_array =
      client_.Call(path, kNotify, "gblnSetSettings", g_variant_new_parsed("(<['1', '2']>,)"));
  EXPECT_EQ(short_array.error, "org.qznotes.QzNotes.Error.E9");
  EXPECT_EQ(short_array.message, "cNotify:gblnSetSettings: Subscript out of range");
  EXPECT_EQ(client_.Call(path, kNotify, "gblnSetSettings", g_variant_new_parsed("(<'no array'>,)"))
                .Print(),
            "(false,)");
  EXPECT_EQ(
      client_
          .Call(path, kNotify, "gblnSetPagerSettings", g_variant_new_parsed("(int16 1, <['x']>)"))
          .Print(),
      "(false,)");

  // The gateway is followed from the file at the next run.
  EXPECT_EQ(client_
                .Call(path, kNotify, "gblnSetPagerSettingsEx",
                      g_variant_new_parsed("('Default', <['Index=5']>)"))
                .Print(),
            "(true,)");
  EXPECT_NE(folder_.Read("QzNotes.ini").find("Index=5"), std::string::npos);
}

TEST_F(DaemonTest, WrongArgumentsAreRefusedAndTheDaemonGoesOn) {
  std::string path = client_.Create();
  struct Case {
    const char* method;
    const char* args;
    const char* error;
  } cases[] = {
      {"gvarGetPagerSettings", "('one',)", "org.qznotes.QzNotes.Error.E13"},
      {"gvarGetPagerSettings", "(1,)", "org.qznotes.QzNotes.Error.E13"},
      {"gvarGetPagerSettings", "(int16 1, int16 2)", "org.qznotes.QzNotes.Error.E450"},
      {"gvarGetPagerSettings", "()", "org.qznotes.QzNotes.Error.E450"},
      {"gvarTestGateway", "(int16 0, 5)", "org.qznotes.QzNotes.Error.E13"},
      {"SendMessageCallBack", "(<0>, <0>, <0>, <0>, 'not an object', 'x')",
       "org.qznotes.QzNotes.Error.E13"},
      {"SendMessageCallBack", "(<{'a': 1}>, <0>, <0>, <0>, ('', objectpath '/'), 'x')",
       "org.qznotes.QzNotes.Error.E13"},
      {"SendMessageCallBack", "(<byte 9>, <0>, <0>, <0>, ('', objectpath '/'), 'x')",
       "org.qznotes.QzNotes.Error.E13"},
      {"NoSuchOperation", "()", "org.qznotes.QzNotes.Error.E438"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(client_.Call(path, kNotify, c.method, g_variant_new_parsed(c.args)).error, c.error)
        << c.method << c.args;
  for (const char* invoke :
       {"(1, [<1>])", "(0x60030018, [<'one'>])", "(0x60030018, [<int16 1>, <2>, <3>])"})
    EXPECT_FALSE(client_.Call(path, kDispatch, "Invoke", g_variant_new_parsed(invoke)).ok())
        << invoke;
  EXPECT_EQ(client_.Call(path, kDispatch, "Invoke", g_variant_new_parsed("('x',)")).error,
            "org.qznotes.QzNotes.Error.E450");
  EXPECT_EQ(client_.Call(path, kDispatch, "Invoke", g_variant_new_parsed("('x', [<1>])")).error,
            "org.qznotes.QzNotes.Error.E13");

  // Deep and huge arrays are only wrong shapes to the request.
  std::string deep = "<'bottom'>";
  for (int i = 0; i < 30; ++i) deep = "<[" + deep + "]>";
  std::string deep_call =
      "(" + deep + ", " + deep + ", " + deep + ", <0>, ('', objectpath '/callback'), 'deep')";
  Answer deep_answer =
      client_.Call(path, kNotify, "SendMessageCallBack", g_variant_new_parsed(deep_call.c_str()));
  EXPECT_EQ(deep_answer.Print(), "(<'Notes Server: Asynch mode'>,)");
  GVariantBuilder huge;
  g_variant_builder_init(&huge, G_VARIANT_TYPE("av"));
  std::string text(100000, 'x');
  for (int i = 0; i < 200; ++i)
    g_variant_builder_add(&huge, "v", g_variant_new_string(text.c_str()));
  EXPECT_TRUE(client_
                  .Call(path, kNotify, "gblnSetSettings",
                        g_variant_new("(@v)", g_variant_new_variant(g_variant_builder_end(&huge))))
                  .ok());
  EXPECT_EQ(
      client_.Call("/org/qznotes/QzNotes/cNotify/999", kNotify, "gvarGetSettings", nullptr).error,
      "org.freedesktop.DBus.Error.UnknownObject");
  EXPECT_EQ(client_.Call(path, kNotify, "gvarGetSettings", nullptr).ok(), true);
  EXPECT_EQ(client_.WaitForCallbacks(1, 20s).size(), 1u) << daemon_.Log();
}

TEST_F(DaemonTest, OneShotCallsOnTheFactoryPath) {
  // Tools that make one call per connection (busctl) reach the operations
  // on the factory path; a request accepted there outlives its caller.
  Answer settings = client_.Call(kRoot, kNotify, "gvarGetPagerSettings", g_variant_new("(n)", 2));
  EXPECT_EQ(
      Unboxed(settings),
      "[<'Pager terminal on the local serial line'>, <'SNPP server (see QzSNPP.ini)'>, <'0'>]");
  Client service(bus_);
  ASSERT_TRUE(service.OwnCallbackService());
  {
    Client one_shot(bus_);
    Answer a = one_shot.Call(
        kRoot, kNotify, "SendMessageCallBackEx",
        g_variant_new("(@v@v@v@v@vs)", OneGroup("x"), Marker(0), OnePager("1"), Marker(0),
                      g_variant_new_variant(g_variant_new_string("localhost")), "one-shot"));
    EXPECT_EQ(a.Print(), "(<'Notes Server: Asynch mode'>,)");
    one_shot.Disconnect();
  }
  auto& got = service.WaitForCallbacks(1, 20s);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].first, "one-shot");
  EXPECT_EQ(client_.Call(kRoot, kNotify, "GetMessageProfiles", nullptr).Print(), "(<@av []>,)");
}

TEST(DaemonLifetime, ClientLeavingBeforeTheTickGetsNothingAndLeavesNothing) {
  PrivateBus bus;
  ProgramFolder folder;
  Daemon daemon(bus, folder.path(), {"--linger", "1"});
  {
    Client client(bus);
    std::string path = client.Create();
    ASSERT_TRUE(SendRequest(client, path, "gone").ok());
    client.Disconnect();
  }
  // The released object takes its request along, and the idle daemon ends.
  EXPECT_EQ(daemon.WaitExit(20s), 0);
  EXPECT_EQ(folder.Read("QzNotesLog.log"), "");
  EXPECT_NE(daemon.Log().find("left the bus"), std::string::npos);
}

TEST(DaemonLifetime, LingersWhileCallsArrive) {
  PrivateBus bus;
  ProgramFolder folder;
  Daemon daemon(bus, folder.path(), {"--linger", "2"});
  Client client(bus);
  for (int i = 0; i < 4; ++i) {
    std::this_thread::sleep_for(700ms);
    ASSERT_TRUE(
        client.Call(kRoot, "org.freedesktop.DBus.Introspectable", "Introspect", nullptr).ok());
  }
  EXPECT_EQ(daemon.WaitExit(0ms), Daemon::kRunning);  // 2.8 s in, kept alive by the calls
  EXPECT_EQ(daemon.WaitExit(20s), 0);
}

TEST(DaemonLifetime, TerminationDeliversPendingRequestsAtOnce) {
  PrivateBus bus;
  ProgramFolder folder;
  Daemon daemon(bus, folder.path(), {"--linger", "30"});
  Client client(bus);
  std::string path = client.Create();
  ASSERT_TRUE(SendRequest(client, path, "term").ok());
  daemon.Signal(SIGTERM);
  EXPECT_EQ(daemon.WaitExit(20s), 0);
  auto& got = client.WaitForCallbacks(1, 5s);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].first, "term");
  EXPECT_NE(daemon.Log().find("stopping"), std::string::npos);
}

TEST(DaemonLifetime, StartsByBusActivation) {
  ProgramFolder services(false), folder;
  std::ofstream(services.path() / "org.qznotes.QzNotes.service")
      << "[D-BUS Service]\nName=org.qznotes.QzNotes\nExec=" << QZ_DAEMON_PATH << " --folder "
      << folder.path().string() << " --linger 1\n";
  PrivateBus bus({services.path().string()});
  Client client(bus);
  std::string path = client.Create();  // no daemon yet: the bus starts one
  EXPECT_THAT(path, ::testing::MatchesRegex("/org/qznotes/QzNotes/cNotify/[0-9]+"));
  EXPECT_TRUE(Daemon::HasOwner(client.connection()));
}

// Every request answered "Asynch mode" is called back, however close to a
// stop it came, unless a later request on the same object replaced it; the
// rest are refused or find nobody.
TEST(DaemonLifetime, RequestsRacingAStopAreDeliveredOrRefused) {
  PrivateBus bus;
  ProgramFolder folder;
  Daemon daemon(bus, folder.path(), {"--linger", "30"});
  Client client(bus);
  std::vector<std::string> paths;
  for (int i = 0; i < 8; ++i) paths.push_back(client.Create());
  std::map<std::string, std::string> last_accepted;  // object -> test identifier
  for (int i = 0; i < 400; ++i) {
    if (i == 40) daemon.Signal(SIGTERM);
    const std::string& path = paths[i % paths.size()];
    std::string id = "race-" + std::to_string(i);
    Answer a = SendRequest(client, path, id.c_str());
    if (a.ok()) {
      ASSERT_NE(a.Print().find("Asynch mode"), std::string::npos) << a.Print();
      last_accepted[path] = id;
    } else if (a.error != kStoppingError) {
      break;  // gone from the bus
    }
  }
  EXPECT_EQ(daemon.WaitExit(30s), 0) << daemon.Log();
  ASSERT_EQ(last_accepted.size(), paths.size());
  std::set<std::string> called;
  for (const auto& [id, message] : client.WaitForCallbacks(paths.size(), 10s)) called.insert(id);
  for (const auto& [path, id] : last_accepted)
    EXPECT_TRUE(called.count(id)) << id << "\n" << daemon.Log();
}

TEST(DaemonLifetime, OneShotCallsRacingAnIdleExitAreDeliveredOrRefused) {
  PrivateBus bus;
  ProgramFolder folder;
  Daemon daemon(bus, folder.path(), {"--linger", "0"});
  Client client(bus);
  size_t accepted = 0;
  for (int i = 0; i < 200 && daemon.WaitExit(0ms) == Daemon::kRunning; ++i) {
    std::string id = "idle-" + std::to_string(i);
    Answer a = client.Call(kRoot, kNotify, "SendMessageCallBack",
                           g_variant_new("(@v@v@v@v(so)s)", OneGroup("x"), Marker(0), OnePager("1"),
                                         Marker(0), "", "/callback", id.c_str()));
    if (a.ok())
      ++accepted;
    else if (a.error != kStoppingError)
      break;
  }
  EXPECT_EQ(daemon.WaitExit(30s), 0) << daemon.Log();
  EXPECT_EQ(client.WaitForCallbacks(accepted, 10s).size(), accepted) << daemon.Log();
}

}  // namespace
}  // namespace qz::testing
