// The real daemon on a real private bus, called the way clients call it:
// answers and errors on the wire, callbacks, who may touch which object,
// the trace of a request in the daemon's lines and the Delivered signal,
// the limits a connection is held to, and how the daemon ends: every
// request it answered "Asynch mode" is delivered, named or replayed once,
// whatever a full disk cost.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <set>

#include "cli_runner.h"
#include "contract/contract.h"
#include "daemon_harness.h"
#include "dispatch/journal_file.h"
#include "platform/unique_fd.h"
#include "support/loopback_listener.h"
#include "support/snpp_sim.h"

namespace qz::testing {
namespace {

using ::testing::_;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;
using ::testing::Not;
using ::testing::Pair;
using ::testing::StartsWith;
using ::testing::UnorderedElementsAre;
namespace fs = std::filesystem;

constexpr const char* kAsynch = "(<'Notes Server: Asynch mode'>,)";
constexpr const char* kE13 = "org.qznotes.QzNotes.Error.E13";
constexpr const char* kE438 = "org.qznotes.QzNotes.Error.E438";
constexpr const char* kE450 = "org.qznotes.QzNotes.Error.E450";
constexpr const char* kUnknownObject = "org.freedesktop.DBus.Error.UnknownObject";
constexpr const char* kIntrospectable = "org.freedesktop.DBus.Introspectable";
const std::string kFolderPath = std::string(kRoot) + "/cNotify";

class DaemonTest : public ::testing::Test {
 protected:
  DaemonTest() : daemon_(bus_, folder_.path(), {"--linger", "30"}), client_(bus_), other_(bus_) {}
  void TearDown() override { EXPECT_EQ(daemon_.WaitExit(0ms), Daemon::kRunning) << daemon_.Log(); }

  // `method` of the interface that has it, with the arguments `args` spell.
  Answer Call(const std::string& path, const std::string& method, const char* args = nullptr,
              Client* client = nullptr) {
    const char* interface = method == "Introspect"     ? kIntrospectable
                            : method == "CreateObject" ? "org.qznotes.QzNotes.ClassFactory"
                                                       : kNotify;
    for (const char* name : {"AddRef", "Release", "Invoke", "GetIDsOfNames"})
      if (method == name) interface = kDispatch;
    return (client ? *client : client_)
        .Call(path, interface, method.c_str(), args ? g_variant_new_parsed(args) : nullptr);
  }
  // The introspection XML as GVariant text (its double quotes stay as they are).
  std::string Introspect(Client& client, const std::string& path) {
    return Call(path, "Introspect", nullptr, &client).Print();
  }

  PrivateBus bus_;
  ProgramFolder folder_;
  Daemon daemon_;
  Client client_, other_;
};

// An accepted request is run a tick later and called back; its outcome is
// signalled (as `qznotes watch` prints it) and logged.
TEST_F(DaemonTest, RequestIsAnsweredThenCalledBackSignalledAndLogged) {
  CliProcess watch({"--address", bus_.address(), "watch", "--json", "--count", "2"});
  ASSERT_TRUE(
      Eventually([&] { return watch.ErrSoFar().find("watching") != std::string::npos; }, 20s));
  std::string path = client_.Create(), other = client_.Create();
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(SendRequest(client_, path, "T-42", "disk full").Print(), kAsynch);
  // A caller's text can neither forge nor colour the daemon's lines.
  const char* forged = "T\x1b[2J\nqznotesd: cNotify/9: request X: Message Sent";
  EXPECT_EQ(SendRequest(client_, other, forged).Print(), kAsynch);
  auto& got = client_.WaitForCallbacks(2, 20s);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 1000ms);
  // The sample's serial device is not there, so the page fails and says why.
  const std::string outcome = "Message Undeliverable. See QzNotesLog.log file for details ";
  EXPECT_THAT(
      got, ::testing::Contains(std::pair<std::string, std::string>("T-42", "QzNotes: " + outcome)));
  EXPECT_THAT(watch.Wait(20s).out,
              HasSubstr("{\"testId\":\"T-42\",\"outcome\":\"" + outcome +
                        "\",\"details\":[\"group 0: page (pager terminal) to 1: failed: "));
  const std::string log = daemon_.Log();
  EXPECT_THAT(log,
              HasSubstr("request T\\x1b[2J\\x0aqznotesd: cNotify/9: request X: Message Sent: "));
  EXPECT_THAT(log, Not(HasSubstr("\nqznotesd: cNotify/9: request X")));
}

// Answers and errors as the bus carries them; a wrong call leaves the
// daemon serving.
TEST_F(DaemonTest, ObjectsOperationsAndTheirErrorsOnTheWire) {
  const std::string a = client_.Create(), path = client_.Create();
  EXPECT_THAT(client_.Create("QzNotes.cPager"), MatchesRegex("/org/qznotes/QzNotes/cPager/[0-9]+"));
  for (const char* refused : {"('QzNotes.cRegistry',)", "('QzNotes.cNothing',)", "('',)"})
    EXPECT_EQ(Call(kRoot, "CreateObject", refused).error, "org.qznotes.QzNotes.Error.E429");
  EXPECT_EQ(Call(a, "Release").Print(), "(uint32 0,)");
  EXPECT_EQ(Call(a, "gvarGetSettings").error, kUnknownObject);
  // The other object serves on.
  const std::tuple<const char*, const char*, const char*> cases[] = {
      // method, arguments, the start of Answer::Print()
      // The by-reference lvarParams comes back as it went; an unknown
      // request code answers no dimensions.
      {"gvarGetPagerSettingsEx", "(int16 7, <byte 3>)", "(<byte 0x02>, <byte 0x03>)"},
      {"gblnSetSettings", "(<['1', '2']>,)",
       "org.qznotes.QzNotes.Error.E9: cNotify:gblnSetSettings: Subscript out of range"},
      {"gvarGetPagerSettings", "(int16 1, int16 2)", kE450},
      {"gvarGetPagerSettings", "()", kE450},  // no body at all
      {"gvarTestGateway", "(int16 0, 5)", kE13},
      {"SendMessageCallBack", "(<0>, <0>, <0>, <0>, 'not an object', 'x')", kE13},
      {"NoSuchOperation", "()", kE438},
      // Invoke: a dispatch identifier and a list of variants; it answers the
      // result and the by-reference arguments, which may be left out.
      {"GetIDsOfNames", "(['gvarGetPagerSettingsEx', 'lvarParams', 'Request'],)",
       "([1610809382, 1, 0],)"},
      {"GetIDsOfNames", "(['Nope'],)", kE438},
      {"Invoke", "(0x60030018, [<int16 2>])",
       "(<[<'Pager terminal on the local serial line'>, <'SNPP server (see QzSNPP.ini)'>, "
       "<'0'>]>, @av [])"},
      {"Invoke", "(0x60030026, [<int16 7>])", "(<byte 0x02>, [<byte 0x03>])"},
      {"Invoke", "(1, [<1>])", kE438},
      {"Invoke", "(0x60030018, [<'one'>])", kE13},
      {"Invoke", "('x',)", kE450},
      {"Invoke", "('x', [<1>])", kE13},
      // The gateway is followed from the file at the next run.
      {"gblnSetPagerSettingsEx", "('Default', <['Index=5']>)", "(true,)"},
  };
  for (const auto& [method, args, answer] : cases)
    EXPECT_THAT(Call(path, method, args).Print(), StartsWith(answer)) << method << args;
  EXPECT_THAT(folder_.Read("QzNotes.ini"), HasSubstr("Index=5"));
  // The write is logged with its caller, not its values.
  EXPECT_TRUE(daemon_.Logged("settings write gblnSetPagerSettingsEx Default: True by uid " +
                                 std::to_string(getuid()) + " pid " + std::to_string(getpid()),
                             10s));
  EXPECT_THAT(daemon_.Log(), Not(HasSubstr("Index=5")));

  // Tools that make one call per connection (busctl) reach the operations on
  // the factory path; a request accepted there outlives its caller.
  EXPECT_EQ(Call(kRoot, "GetMessageProfiles").Print(), "(<@av []>,)");
  ASSERT_TRUE(other_.OwnCallbackService());
  Client one_shot(bus_);
  EXPECT_EQ(SendRequestEx(one_shot, kRoot, "one-shot", "localhost").Print(), kAsynch);
  one_shot.Disconnect();
  EXPECT_THAT(other_.WaitForCallbacks(1, 20s), ElementsAre(Pair("one-shot", _)));

  fs::remove(folder_.path() / "QzNotes.ini");
  EXPECT_EQ(Call(path, "gvarGetSettings").Print(), "(<byte 0x00>,)");  // Empty
}

// Callers cannot touch each other's objects or have the server call back
// anyone but themselves (malformed names are refused before the bus is
// asked: object_table_test); the victim's request is still delivered.
TEST_F(DaemonTest, CallersReachOnlyTheirOwnObjectsAndCallbacks) {
  ASSERT_TRUE(client_.OwnName("org.example.CallerHooks"));
  ASSERT_TRUE(other_.OwnName("org.example.SameUserHooks"));
  const std::pair<std::string, const char*> cases[] = {
      // bus name, test identifier; "refused" ones are answered E13
      {other_.UniqueName(), "refused: another connection's unique name"},
      {"org.example.Nobody", "refused: a well-known name nobody owns"},
      {"", "the caller itself"},
      {client_.UniqueName(), "own unique name"},
      {"org.example.CallerHooks", "own well-known name"},
      {"org.example.SameUserHooks", "same user"},
  };
  for (const auto& [bus_name, id] : cases) {
    Answer a = SendMessage(client_, client_.Create(), id, OneGroup("x"), Marker(0), OnePager("1"),
                           Marker(0), bus_name.c_str());
    const bool refused = std::string_view(id).starts_with("refused");
    EXPECT_THAT(a.Print(), StartsWith(refused ? std::string(kE13) + ": QzNotes: " : kAsynch));
  }

  // Nor can another connection touch the caller's object: it finds none.
  const std::string victim = client_.Create();
  ASSERT_TRUE(SendRequest(client_, victim, "T-victim").ok());
  // What a path that does not exist answers, for comparison.
  const std::string absent = kFolderPath + "/12345";
  for (const std::string& target : {victim, absent})
    EXPECT_EQ(Call(target, "Release", nullptr, &other_).Print(),
              std::string(kUnknownObject) + ": No such object: " + target);
  EXPECT_EQ(Introspect(other_, victim), Introspect(other_, absent));
  // The class folder lists each caller's own objects only.
  const std::string mine = other_.Create();
  EXPECT_THAT(Introspect(other_, kFolderPath),
              AllOf(HasSubstr("<node name=\"" + mine.substr(kFolderPath.size() + 1) + "\"/>"),
                    Not(HasSubstr(victim.substr(kFolderPath.size() + 1)))));
  // The creator's object is untouched: one reference, its request delivered.
  EXPECT_EQ(Call(victim, "AddRef").Print(), "(uint32 2,)");
  EXPECT_THAT(client_.WaitForCallbacks(4, 60s),
              UnorderedElementsAre(Pair("the caller itself", _), Pair("own unique name", _),
                                   Pair("own well-known name", _), Pair("T-victim", _)));
  EXPECT_THAT(other_.WaitForCallbacks(2, 2s), ElementsAre(Pair("same user", _)));
}

// A call one past a limit is answered LimitsExceeded naming the limit.
void ExpectRefused(const Answer& answer, const char* limit) {
  EXPECT_EQ(answer.error, "org.freedesktop.DBus.Error.LimitsExceeded") << limit;
  EXPECT_THAT(answer.message, HasSubstr(std::string("limit ") + limit + " (")) << answer.Print();
}

// Small limits: at each the call is taken, one past it is refused, and
// nothing else changes.
TEST(ConnectionLimits, ObjectsAndTheArraysOfEachCall) {
  PrivateBus bus;
  ProgramFolder folder;
  // One group of one message to one pager is 5 elements, 3 arrays deep.
  Daemon daemon(bus, folder.path(),
                {"--max-objects", "2", "--max-elements", "5", "--max-depth", "3",
                 "--max-settings-elements", "3", "--max-references", "2"});
  Client client(bus), other(bus);
  const std::string path = client.Create(), second = client.Create();
  ExpectRefused(client.Call(kRoot, "org.qznotes.QzNotes.ClassFactory", "CreateObject",
                            g_variant_new("(s)", "QzNotes.cNotify")),
                "max-objects");
  EXPECT_FALSE(other.Create().empty()) << "another connection has its own count";
  // References: one from CreateObject, one AddRef, and the next refused
  // without changing the count.
  auto slot = [&](const char* member, const char* args = nullptr) {
    return client.Call(second, kDispatch, member, args ? g_variant_new_parsed(args) : nullptr);
  };
  EXPECT_EQ(slot("AddRef").Print(), "(uint32 2,)");
  ExpectRefused(slot("AddRef"), "max-references");
  EXPECT_EQ(slot("Release").Print(), "(uint32 1,)");

  auto send = [&](const char* pagers) {
    return SendMessage(client, path, "T-refused", OneGroup("x"), Marker(0),
                       g_variant_new_parsed(pagers), Marker(0));
  };
  ASSERT_TRUE(SendRequest(client, path, "T-kept").ok());
  ExpectRefused(send("<[<[<[<'1'>, <'1'>]>]>]>"), "max-elements");
  ExpectRefused(send("<[<[<[<[<'1'>]>]>]>]>"), "max-depth");
  auto set = [&](const char* array) {
    return client.Call(path, kNotify, "gblnSetPagerSettingsEx",
                       g_variant_new_parsed("('Default', <%v>)", g_variant_new_parsed(array)));
  };
  EXPECT_EQ(set("[<'A1=a'>, <'A2=b'>, <'A3=c'>]").Print(), "(true,)");
  ExpectRefused(set("[<'B1=a'>, <'B2=b'>, <'B3=c'>, <'B4=d'>]"), "max-settings-elements");
  // Invoke's list of arguments is no array of the request.
  EXPECT_TRUE(slot("Invoke",
                   "(0x60030000, [<[<[<'x'>]>]>, <byte 0>, <[<[<[<'1'>]>]>]>, <byte 0>, "
                   "<('', @o '/callback')>, <'T-invoke'>])")
                  .ok());
  // The refused calls replaced nothing.
  EXPECT_THAT(client.WaitForCallbacks(2, 60s),
              UnorderedElementsAre(Pair("T-kept", _), Pair("T-invoke", _)))
      << daemon.Log();
  EXPECT_THAT(folder.Read("QzNotes.ini"), AllOf(HasSubstr("A3=c"), Not(HasSubstr("B1"))));
}

// However the system bus was named to the daemon, callbacks keep to its
// allow-list. An allowed HTTP callback leaves on a worker of its own: one
// that hangs holds back no other object's run on its apartment.
TEST(CallerLimits, TheAllowListHoldsHoweverTheSystemBusIsNamed) {
  for (const bool system_address : {false, true}) {
    SCOPED_TRACE(system_address ? "DBUS_SYSTEM_BUS_ADDRESS names the bus served" : "a session bus");
    const bool posted = !system_address;
    PrivateBus bus;
    ProgramFolder folder;  // the samples list no allowed hosts
    std::vector<std::string> environment;
    if (system_address) environment.push_back("DBUS_SYSTEM_BUS_ADDRESS=" + bus.address());
    Daemon daemon(bus, folder.path(), {"--linger=5", "--apartments", "1"}, environment);
    LoopbackListener hooks(LoopbackListener::Mode::kHold);  // takes and never answers
    Client client(bus);
    for (int i = 0; i < 8; ++i)
      ASSERT_TRUE(
          SendRequestEx(client, client.Create(), "T-http", "127.0.0.1:" + hooks.PortText()).ok());
    // Requested last, so its run comes after the others' on the one apartment;
    // posted there, each held callback would first run out its time limit.
    ASSERT_TRUE(SendRequest(client, client.Create(), "T-after").ok());
    ASSERT_EQ(client.WaitForCallbacks(1, 60s).size(), 1u) << daemon.Log();
    EXPECT_LT(hooks.closed_by_peer(), 8u);
    EXPECT_EQ(hooks.WaitUntil([&] { return hooks.accepted() > 0; }, posted ? 60s : 1s), posted);
  }
}

// Every object's last request answered "Asynch mode" reaches its callback
// (D-Bus or HTTP) or is named in the log; earlier ones were replaced.
TEST(ShutdownDelivery, TerminationRacingRequestsDeliversOrNamesEach) {
  LoopbackListener receiver(LoopbackListener::Mode::kHttpOk);
  PrivateBus bus;
  ProgramFolder folder;
  Daemon daemon(bus, folder.path(), {"--linger", "30", "--apartments", "2"});
  Client client(bus);
  std::vector<std::string> paths;
  for (int i = 0; i < 8; ++i) paths.push_back(client.Create());
  std::map<std::string, std::string> last_accepted;  // object -> test identifier
  for (int i = 0; i < 300; ++i) {
    if (i == 60) daemon.Signal(SIGTERM);
    const std::string& path = paths[i % paths.size()];
    const std::string id = "race-" + std::to_string(i);
    // Half the objects are called back over D-Bus, half over HTTP.
    Answer a = i % 2 ? SendRequestEx(client, path, id, "127.0.0.1:" + receiver.PortText())
                     : SendRequest(client, path, id.c_str());
    if (a.ok())
      last_accepted[path] = id;
    else if (a.error != kStoppingError)
      break;  // the name is gone: the stop released it
  }
  EXPECT_EQ(daemon.WaitExit(60s), 0) << daemon.Log();
  ASSERT_EQ(last_accepted.size(), paths.size());
  std::string delivered;  // the HTTP callbacks' bodies, and the D-Bus ones' in that form
  for (const std::string& body : receiver.Received()) delivered += body;
  for (const auto& [id, message] : client.WaitForCallbacks(paths.size() / 2, 10s))
    delivered += "\"testId\":\"" + id + "\"";
  const std::string log = daemon.Log();
  for (const auto& [path, id] : last_accepted)
    EXPECT_TRUE(delivered.find("\"testId\":\"" + id + "\"") != std::string::npos ||
                log.find("request " + id + " of ") != std::string::npos ||
                log.find("callback of request " + id + " to ") != std::string::npos)
        << id + "\n" + log;
  // Nothing was stuck here, so nothing should need naming.
  EXPECT_EQ(log.find("not delivered within"), std::string::npos) << log;
}

// A run stuck on a gateway that stopped answering, and one waiting behind it
// on the same apartment, are named when the grace runs out of a SIGTERM; the
// next run replays each once, as the working gateway sees. (The stuck one's
// gateway took its page and never answered it, so that page was not sent.)
TEST(ShutdownDelivery, RequestsStuckAtAStopAreNamedAndReplayedOnce) {
  PrivateBus bus;
  ProgramFolder folder;
  SnppSim stall("[*]\nREPLY PAGE NONE\n"), gateway;
  folder.UseSnpp(stall.port(), 300);
  {
    Daemon daemon(bus, folder.path(), {"--apartments", "1", "--shutdown-grace", "1"});
    Client client(bus);
    const std::pair<const char*, std::string> runs[] = {{"stuck-1", client.Create()},
                                                        {"behind-2", client.Create()}};
    for (const auto& [id, path] : runs) ASSERT_TRUE(SendRequest(client, path, id, id).ok());
    ASSERT_TRUE(Eventually([&] { return stall.Lines("PAGE").size() == 1; }, 60s)) << daemon.Log();
    daemon.Signal(SIGTERM);
    EXPECT_EQ(daemon.WaitExit(60s), 1) << daemon.Log();
    for (const auto& [id, path] : runs)
      EXPECT_THAT(daemon.Log(), HasSubstr(std::string("request ") + id + " of " + path +
                                          " not delivered within 1 s"));
  }
  folder.UseSnpp(gateway.port(), 300);
  Daemon restarted(bus, folder.path());
  EXPECT_TRUE(Eventually([&] { return gateway.Lines("SEND").size() == 2; }, 120s))
      << restarted.Log();
  EXPECT_EQ(gateway.Lines("MESSAGE"),
            (std::multiset<std::string>{"MESSAGE \"stuck-1\"", "MESSAGE \"behind-2\""}));
  // Ended, the replayed runs leave nothing for a later run.
  restarted.Signal(SIGTERM);
  EXPECT_EQ(restarted.WaitExit(60s), 0);
  EXPECT_TRUE(fs::is_empty(folder.path() / kJournalFolderName));
}

// Three requests are kept while there is space; the disk fills up and a
// large request cannot be kept; then the three end. Stopped and started
// again, the daemon runs none of them a second time.
TEST(ShutdownDelivery, RequestsEndingOnAFullDiskAreNotRunAgain) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to mount a small tmpfs";
  PrivateBus bus;
  ProgramFolder folder;
  // A small tmpfs over the journal folder, filled up when it is time.
  const fs::path disk = folder.path() / kJournalFolderName;
  fs::create_directories(disk);
  if (mount("tmpfs", disk.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=4m,mode=0700") != 0)
    GTEST_SKIP() << "cannot mount a tmpfs: " << std::strerror(errno);
  const auto unmount = [](const char* at) { umount2(at, MNT_DETACH); };
  const std::unique_ptr<const char, decltype(unmount)> mounted(disk.c_str(), unmount);
  const auto fill = [&] {  // a bounded loop: 4 MiB
    UniqueFd fd(open((disk / "filler").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600));
    const std::string block(4096, 'f');
    for (int i = 0; i < 2048 && write(fd.get(), block.data(), block.size()) > 0; ++i) {
    }
    fsync(fd.get());
  };
  // Each page waits at SEND long enough for the disk to fill meanwhile.
  SnppSim gateway("[*]\ndelay SEND 4000\n");
  folder.UseSnpp(gateway.port(), 60);
  const std::set<std::string> ids = {"ended-1", "ended-2", "ended-3"};
  {
    Daemon daemon(bus, folder.path(), {"--linger", "30"});
    Client client(bus);
    for (const std::string& id : ids)
      ASSERT_TRUE(SendRequest(client, client.Create(), id.c_str(), id.c_str()).ok())
          << daemon.Log();
    ASSERT_TRUE(Eventually([&] { return gateway.Lines("SEND").size() == 3; }, 60s)) << daemon.Log();
    fill();
    // Larger than the journal's spare room: its record needs space there is not.
    const std::string large(1536 * 1024, 'L');
    SendRequest(client, client.Create(), large.c_str());
    fill();
    EXPECT_EQ(client.WaitForCallbacks(4, 60s).size(), 4u) << daemon.Log();
    daemon.Signal(SIGTERM);
    EXPECT_EQ(daemon.WaitExit(60s), 0) << daemon.Log();
    // The premise: the disk was full when it was kept.
    EXPECT_THAT(daemon.Log(), HasSubstr("journal: cannot write request LLLL"));
  }
  fs::remove(disk / "filler");
  Daemon restarted(bus, folder.path());
  Client client(bus);
  ASSERT_FALSE(client.Create().empty()) << restarted.Log();  // serving: any replay has begun
  restarted.Signal(SIGTERM);
  EXPECT_EQ(restarted.WaitExit(60s), 0);
  EXPECT_THAT(restarted.Log(), Not(HasSubstr("replaying"))) << restarted.Log();
  for (const std::string& id : ids)
    EXPECT_EQ(gateway.Lines("MESSAGE \"" + id + "\"").size(), 1u) << id;
}

// CreateObject calls made steadily while a termination signal stops the
// daemon: each gets an object or the stopping error (or, once the name is
// gone, the bus's own answer), never silence nor a failure to create.
TEST(DaemonLifetime, CreateObjectRacingTheStopIsAnsweredOrRefusedAsStopping) {
  PrivateBus bus;
  ProgramFolder folder;
  Daemon daemon(bus, folder.path(), {"--linger", "30", "--max-objects", "10000"});
  Client client(bus);
  ASSERT_FALSE(client.Create().empty());
  struct Calls {
    std::vector<std::string> errors;
    size_t sent = 0, answered = 0;
  } calls;
  const std::set<std::string> gone = {"org.freedesktop.DBus.Error.ServiceUnknown",
                                      "org.freedesktop.DBus.Error.NameHasNoOwner"};
  GMainContext* context = g_main_context_new();
  g_main_context_push_thread_default(context);
  // Many at once (as many as the bus lets one connection wait for), so the
  // daemon still has calls to read when it stops.
  constexpr size_t kCalls = 3000, kAtOnce = 100;
  for (; calls.sent < kCalls; ++calls.sent) {
    while (calls.sent - calls.answered >= kAtOnce) g_main_context_iteration(context, TRUE);
    if (calls.sent == kCalls / 3) daemon.Signal(SIGTERM);
    g_dbus_connection_call(
        client.connection(), kName, kRoot, "org.qznotes.QzNotes.ClassFactory", "CreateObject",
        g_variant_new("(s)", "QzNotes.cNotify"), nullptr, G_DBUS_CALL_FLAGS_NONE, 60000, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
          auto* calls = static_cast<Calls*>(data);
          GError* error = nullptr;
          GVariant* reply =
              g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
          const Answer a = Answer::Of(reply, error);
          if (!a.ok()) calls->errors.push_back(a.error.empty() ? a.message : a.error);
          ++calls->answered;
        },
        &calls);
  }
  const auto give_up = std::chrono::steady_clock::now() + 90s;
  while (calls.answered < calls.sent && std::chrono::steady_clock::now() < give_up)
    g_main_context_iteration(context, TRUE);  // each call ends by its own time-out at the latest
  g_main_context_pop_thread_default(context);
  g_main_context_unref(context);
  ASSERT_EQ(calls.answered, calls.sent);
  for (const std::string& error : calls.errors)
    EXPECT_TRUE(error == kStoppingError || gone.count(error)) << error;
  EXPECT_EQ(daemon.WaitExit(60s), 0) << daemon.Log();
}

// A client leaving before its request's run takes the request along, and
// the idle daemon ends.
TEST(DaemonLifetime, AClientLeavingTakesItsRequestAlong) {
  PrivateBus bus;
  ProgramFolder folder;
  Daemon daemon(bus, folder.path(), {"--linger", "1"});
  Client leaving(bus);
  ASSERT_TRUE(SendRequest(leaving, leaving.Create(), "gone").ok());
  leaving.Disconnect();
  EXPECT_EQ(daemon.WaitExit(20s), 0);
  EXPECT_EQ(folder.Read("QzNotesLog.log"), "");
}

// Under a service manager the daemon says it is ready and what it is doing,
// and pings the watchdog while its apartments answer or wait within a
// peer's time-out (an SNPP gateway that never replies, Timeout=300). An
// apartment stuck where nothing times out (a settings read that never
// returns) stops the pings, so the manager would restart the daemon.
TEST(ServiceManager, TheWatchdogIsPingedUntilAnApartmentIsStuckPastEveryTimeOut) {
  PrivateBus bus;
  for (const bool stuck : {false, true}) {
    SCOPED_TRACE(stuck ? "stuck in a settings read" : "waiting within the SNPP time-out");
    ProgramFolder folder;
    SnppSim stall("[*]\nREPLY PAGE NONE\n");
    folder.UseSnpp(stall.port(), 300);
    const fs::path socket_path = folder.path() / "notify", snpp = folder.path() / "QzSNPP.ini";
    UniqueFd manager(socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_un address{.sun_family = AF_UNIX, .sun_path = {}};
    socket_path.string().copy(address.sun_path, sizeof address.sun_path - 1);
    ASSERT_EQ(bind(manager.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    auto next = [&] {  // one message, or empty after 100 ms without one
      pollfd p{manager.get(), POLLIN, 0};
      char buffer[4096];
      const ssize_t n = poll(&p, 1, 100) == 1 ? recv(manager.get(), buffer, sizeof buffer, 0) : 0;
      return std::string(buffer, static_cast<size_t>(std::max<ssize_t>(n, 0)));
    };
    Daemon daemon(bus, folder.path(), {},
                  {"NOTIFY_SOCKET=" + socket_path.string(), "WATCHDOG_USEC=2000000"});
    std::string said;
    auto hears = [&](std::string_view text) {  // within 20 s
      for (int i = 0; i < 200 && said.find(text) == std::string::npos; ++i) said += next() + "\n";
      return said.find(text) != std::string::npos;
    };
    for (const char* text : {"READY=1", "STATUS=serving: 0 pending", "WATCHDOG=1"})
      ASSERT_TRUE(hears(text)) << text << " in:\n" << said << daemon.Log();
    if (stuck) {  // with no writer ever, the daemon's open of it never returns
      fs::remove(snpp);
      ASSERT_EQ(mkfifo(snpp.c_str(), 0600), 0);
    }
    Client client(bus);
    ASSERT_EQ(SendRequest(client, client.Create(), "T-1", "m").Print(), kAsynch);
    if (!stuck) {
      ASSERT_TRUE(Eventually([&] { return !stall.Lines("PAGE").empty(); }, 60s));
    }
    ASSERT_TRUE(hears("STATUS=serving: 1 pending")) << said;
    // Pings may go on until the run reaches the hang; a waiting run's are
    // counted until six have come.
    int pings = 0;
    const auto begin = std::chrono::steady_clock::now();
    auto last_ping = begin, now = begin;
    for (; now - begin < 30s && (stuck || pings < 6) && now - last_ping < 6s;
         now = std::chrono::steady_clock::now())
      if (next().find("WATCHDOG=1") != std::string::npos) ++pings, last_ping = now;
    EXPECT_EQ(now - last_ping >= 6s, stuck) << pings << " pings\n" << daemon.Log();
  }
}

}  // namespace
}  // namespace qz::testing
