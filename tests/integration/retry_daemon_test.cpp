// Retries with [Delivery] set, against real peers made to fail for a while:
// what went out is never sent again, a refusal for good is not retried, the
// caller hears one outcome once, and a daemon killed while retries wait
// sends each of them once after its restart, never before it was due.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <cstring>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "cli_runner.h"
#include "config/profile_string.h"
#include "daemon_harness.h"
#include "dispatch/journal_file.h"
#include "dispatch/request_record.h"
#include "json_reader.h"
#include "platform/file_io.h"
#include "rfc1861_gateway.h"
#include "support/kannel_gateway.h"
#include "support/smtp_sink.h"
#include "support/snpp_sim.h"
#include "tap_sim_process.h"

namespace qz::testing {
namespace {

using ::testing::AllOf;
using ::testing::ContainsRegex;
using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::Pair;
namespace fs = std::filesystem;

void UseDelivery(const ProgramFolder& folder, const std::string& keys) {
  std::ofstream(folder.path() / "QzNotes.ini", std::ios::app) << "\n[Delivery]\n" << keys;
}

size_t Count(const SnppSim& sim, std::string_view kind, std::string_view prefix = "") {
  size_t n = 0;
  for (const auto& e : sim.Events()) n += e.kind == kind && e.text.starts_with(prefix);
  return n;
}

// One request at a time against an SNPP gateway that fails as the case says.
TEST(Retries, SnppFailuresAreRetriedUntilTheGatewayTakesThePageOrNotAtAllWhenRefused) {
  const struct {
    const char *why, *script;
    int fail_first;  // connections the simulator drops first
    const char* protocol;
    size_t connections, sends;  // when the callback comes
    const char *outcome, *line;
    bool release;  // the caller releases its object while the retry waits
  } cases[] = {
      {"down for two tries, released while the retry waits", "", 2, "", 3, 1,
       "QzNotes: Message Sent", ": try 2 of 4: page (SNPP) to 1: failed: ", true},
      {"refused for good in RFC 1861 mode", "[*]\nreply PAGE 550 Unknown pager\n", 0, "RFC1861", 1,
       0, "QzNotes: Message Undeliverable. See QzNotesLog.log file for details ",
       ": try 1 of 4: page (SNPP) to 1: refused for good: ", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    PrivateBus bus;
    ProgramFolder folder;
    SnppSim sim(c.script, "127.0.0.1", {"--fail-first", std::to_string(c.fail_first)});
    folder.UseSnpp(sim.port(), 10);
    std::ofstream(folder.path() / "QzSNPP.ini", std::ios::app) << "Protocol=" << c.protocol << "\n";
    UseDelivery(folder, "Attempts=4\nFirstRetry=1\nMaxDelay=2\n");
    Daemon daemon(bus, folder.path(), {"--linger", "60"});
    Client client(bus);
    const std::string path = client.Create();
    ASSERT_TRUE(SendRequest(client, path, "T-1", "page me").ok()) << daemon.Log();
    if (c.release) {
      ASSERT_TRUE(daemon.Logged("next try in", 30s));
      EXPECT_EQ(client.Call(path, kDispatch, "Release", nullptr).Print(), "(uint32 0,)");
    }
    EXPECT_THAT(client.WaitForCallbacks(1, 60s), ElementsAre(Pair("T-1", c.outcome)))
        << daemon.Log();
    EXPECT_EQ(Count(sim, "open"), c.connections) << sim.Received();
    EXPECT_EQ(Count(sim, "recv", "SEND"), c.sends) << sim.Received();
    EXPECT_THAT(daemon.Log(), HasSubstr("request T-1" + std::string(c.line)));
    EXPECT_EQ(client.WaitForCallbacks(2, 2s).size(), 1u) << "a second outcome came";
  }
}

// Mail deferred by the server while the page of the same group goes at
// once: the retry sends the mail alone.
TEST(Retries, DeferredMailIsSentAgainWithoutPagingTwice) {
  PrivateBus bus;
  ProgramFolder folder;
  SmtpSink sink({{"--defer-data", "1"}});
  SnppSim sim;
  folder.UseSnpp(sim.port(), 10);
  UseDelivery(folder, "Attempts=3\nFirstRetry=1\n");
  Daemon daemon(bus, folder.path(), {"--linger", "60"});
  Client client(bus);
  const std::string any = "<['Outage', 'ops@x.org', '', '" + sink.server() + "', 'True']>";
  Answer a = SendMessage(client, client.Create(), "T-2", OneGroup("db down"),
                         g_variant_new_parsed("<[<[<[<'oncall@x.org'>]>]>]>"), OnePager("5551234"),
                         g_variant_new_parsed(any.c_str()));
  ASSERT_TRUE(a.ok()) << daemon.Log();
  EXPECT_THAT(client.WaitForCallbacks(1, 60s), ElementsAre(Pair("T-2", "QzNotes: Message Sent")))
      << daemon.Log();
  EXPECT_EQ(sink.WaitForMails(1, 1s).size(), 1u);
  EXPECT_EQ(Count(sim, "recv", "SEND"), 1u) << sim.Received();
  EXPECT_THAT(daemon.Log(), HasSubstr("request T-2: try 1 of 3: mail (SMTP) to oncall@x.org: "
                                      "failed: "));
}

// A terminal that takes the first identifier of a call and hangs up, then
// is replaced by one that works: the retry pages only the identifier the
// first one did not take.
TEST(Retries, ATerminalThatTookSomeIdentifiersIsNotAskedForThemAgain) {
  PrivateBus bus;
  ProgramFolder folder;
  std::optional<TapSimulator> tap(std::in_place, folder.path(), "disconnect-after 1\n");
  ASSERT_TRUE(mblnWritePrivateProfileString((folder.path() / "QzNotes.ini").string(),
                                            "Pager Terminal", "ComPort", tap->link().string()));
  UseDelivery(folder, "Attempts=4\nFirstRetry=4\n");
  Daemon daemon(bus, folder.path(), {"--linger", "60"});
  Client client(bus);
  Answer a = SendMessage(client, client.Create(), "T-3", OneGroup("disk full"), Marker(0),
                         g_variant_new_parsed("<[<[<[<'1001'>, <'1002'>]>]>]>"), Marker(0));
  ASSERT_TRUE(a.ok()) << daemon.Log();
  ASSERT_TRUE(daemon.Logged("next try in", 30s));
  EXPECT_EQ(tap->Pages(), "1001 disk full");
  tap.reset();
  tap.emplace(folder.path(), "");
  EXPECT_THAT(client.WaitForCallbacks(1, 60s), ElementsAre(Pair("T-3", "QzNotes: Message Sent")))
      << daemon.Log();
  EXPECT_EQ(tap->Pages(), "1002 disk full") << daemon.Log();
}

// An SNPP gateway that drops its first two connections opens the breaker
// (BreakAfter=2): a request made meanwhile waits for the cool-down without
// using a try, and `qznotes status` shows the gateway down with the failure,
// then up with a success once both pages went.
TEST(Retries, ABreakerHoldsNewTriesToAGatewayThatIsDownAndStatusShowsIt) {
  PrivateBus bus;
  ProgramFolder folder;
  SnppSim sim("", "127.0.0.1", {"--fail-first", "2"});
  folder.UseSnpp(sim.port(), 10);
  UseDelivery(folder, "Attempts=3\nFirstRetry=5\nMaxDelay=5\nBreakAfter=2\n");
  Daemon daemon(bus, folder.path(), {"--linger", "60"});
  Client client(bus);
  auto status = [&](const char* json) {
    std::vector<std::string> words = {"--address", bus.address(), "status"};
    if (*json) words.emplace_back(json);
    return RunCli(words);
  };
  ASSERT_TRUE(SendRequest(client, client.Create(), "T-1", "first").ok()) << daemon.Log();
  ASSERT_TRUE(daemon.Logged("gateway SNPP down after 2 failures in a row: ", 30s)) << daemon.Log();
  ASSERT_TRUE(SendRequest(client, client.Create(), "T-2", "second").ok()) << daemon.Log();
  const CliResult down = status("");
  EXPECT_EQ(down.status, 0) << down.Describe();
  EXPECT_THAT(down.out, ::testing::ContainsRegex("gateway SNPP +down since [0-9T:-]+ \\("))
      << down.out;
  const std::string log = daemon.Log();
  const std::string why = log.substr(log.find("in a row: ") + 10);
  EXPECT_THAT(down.out, HasSubstr(why.substr(0, why.find('\n')))) << down.out;

  EXPECT_THAT(client.WaitForCallbacks(2, 60s),
              ::testing::UnorderedElementsAre(Pair("T-1", "QzNotes: Message Sent"),
                                              Pair("T-2", "QzNotes: Message Sent")))
      << daemon.Log();
  EXPECT_THAT(daemon.Log(), HasSubstr("request T-2: gateway SNPP is down; try 1 waits "));
  EXPECT_THAT(daemon.Log(), HasSubstr("gateway SNPP back after "));
  EXPECT_THAT(daemon.Log(), Not(HasSubstr("request T-2: try"))) << "the wait was counted a try";
  EXPECT_EQ(Count(sim, "recv", "SEND"), 2u) << sim.Received();

  const CliResult up = status("--json");
  ASSERT_EQ(up.status, 0) << up.Describe();
  const std::optional<Json> json = JsonReader::Parse(up.out);
  ASSERT_TRUE(json) << up.out;
  const Json* gateways = json->Find("gateways");
  const Json* snpp = gateways ? gateways->Find("SNPP") : nullptr;
  ASSERT_TRUE(snpp) << up.out;
  EXPECT_TRUE(snpp->Find("up")->boolean) << up.out;
  EXPECT_GT(snpp->Find("last_success_ms")->number, 0) << up.out;
  EXPECT_THAT(snpp->Find("last_failure")->text, HasSubstr(why.substr(0, why.find('\n'))));
  EXPECT_EQ(json->Find("pending")->number, 0) << up.out;

  daemon.Signal(SIGTERM);
  ASSERT_EQ(daemon.WaitExit(60s), 0) << daemon.Log();
  EXPECT_EQ(status("").status, 1) << "a server that is gone answered";
}

// One page sent while its peer is down (or busy); `back` brings the peer
// back once the retry waits. The caller hears "Message Sent" once. Answers
// the daemon's log.
std::string PageWhileDown(const ProgramFolder& folder, const char* pager,
                          const std::function<void()>& back) {
  PrivateBus bus;
  UseDelivery(folder, "Attempts=6\nFirstRetry=2\nMaxDelay=2\n");
  Daemon daemon(bus, folder.path(), {"--linger", "60"});
  Client client(bus);
  EXPECT_TRUE(SendMessage(client, client.Create(), "T-4", OneGroup("db down"), Marker(0),
                          OnePager(pager), Marker(0))
                  .ok());
  EXPECT_TRUE(daemon.Logged("next try in", 60s)) << daemon.Log();
  back();
  EXPECT_THAT(client.WaitForCallbacks(1, 90s), ElementsAre(Pair("T-4", "QzNotes: Message Sent")))
      << daemon.Log();
  EXPECT_EQ(client.WaitForCallbacks(2, 2s).size(), 1u) << "a second outcome came";
  return daemon.Log();
}

void SetKey(const ProgramFolder& folder, const char* section, const char* key,
            const std::string& value) {
  ASSERT_TRUE(
      mblnWritePrivateProfileString((folder.path() / "QzNotes.ini").string(), section, key, value));
}

// Each real peer, down or busy at the first try and back while the retry
// waits, takes the page once.
TEST(Retries, ARealPeerThatComesBackTakesThePageOnce) {
  {
    SCOPED_TRACE("Kannel stopped, then started with the fake centre behind it");
    ProgramFolder folder;
    KannelGateway kannel;
    kannel.Stop();
    SetKey(folder, "Default", "Index", "2");
    SetKey(folder, "SMS", "IPAddress", kannel.sendsms_address());
    SetKey(
        folder, "SMSMapping", "SMSTrailer",
        std::string("username=") + KannelGateway::kUser + "&password=" + KannelGateway::kPassword);
    EXPECT_THAT(PageWhileDown(folder, "07700900123", [&] { kannel.Start(); }),
                HasSubstr("try 1 of 6: page (SMS) to 07700900123: failed: "));
    EXPECT_THAT(kannel.Received(), ElementsAre(EndsWith(" db down")));
  }
  {
    SCOPED_TRACE("the terminal's line busy, then answering");
    ProgramFolder folder;
    TapSimulator tap(folder.path(), "modem\ndial-first 1 BUSY\n");
    SetKey(folder, "Pager Terminal", "ComPort", tap.link().string());
    SetKey(folder, "Pager Terminal", "Number", "555-1234");
    EXPECT_THAT(PageWhileDown(folder, "1001", [] {}), HasSubstr("is busy (BUSY)"));
    EXPECT_EQ(tap.Pages(), "1001 db down");
  }
  {
    SCOPED_TRACE("Net::SNPP::Server stopped, then started");
    ProgramFolder folder;
    std::optional<PerlGateway> perl(std::in_place);
    const int port = perl->port();
    perl.reset();
    folder.UseSnpp(port, 10);
    std::ofstream(folder.path() / "QzSNPP.ini", std::ios::app) << "Protocol=RFC1861\n";
    EXPECT_THAT(PageWhileDown(folder, "5551234", [&] { perl.emplace(port); }),
                HasSubstr("try 1 of 6: page (SNPP) to 5551234: failed: "));
    EXPECT_THAT(perl->Lines("PAGED"), ElementsAre("PAGED 5551234 db down"));
  }
}

// 50 requests wait for their next try when the daemon is killed, or
// stopped (which must not try them at once). The next run sends each page
// once, none before the due time the journal kept.
TEST(Retries, RetriesWaitingAtAKillOrStopAreSentOnceAfterTheRestartAndNotBeforeDue) {
  constexpr int kRequests = 50;
  for (const auto& [signal, status] : {std::pair{SIGKILL, -SIGKILL}, std::pair{SIGTERM, 0}}) {
    SCOPED_TRACE(strsignal(signal));
    PrivateBus bus;
    ProgramFolder folder;
    SnppSim sim("", "127.0.0.1", {"--fail-first", std::to_string(kRequests), "--unix-times"});
    folder.UseSnpp(sim.port(), 10);
    // Every first try fails; the breaker would hold most of them back.
    UseDelivery(folder, "Attempts=3\nFirstRetry=10\nMaxDelay=10\nBreakAfter=0\n");
    {
      Daemon daemon(bus, folder.path(), {"--linger", "120"});
      Client client(bus);
      for (int i = 0; i < kRequests; ++i) {
        const std::string id = "R-" + std::to_string(i);
        ASSERT_TRUE(SendRequest(client, client.Create(), id.c_str(), id.c_str()).ok());
      }
      auto waiting = [&] {  // requests whose next try is set
        static const std::regex next("; next try in ");
        const std::string log = daemon.Log();
        return std::distance(std::sregex_iterator(log.begin(), log.end(), next), {});
      };
      ASSERT_TRUE(Eventually([&] { return waiting() == kRequests; }, 60s)) << daemon.Log();
      daemon.Signal(signal);
      ASSERT_EQ(daemon.WaitExit(60s), status) << daemon.Log();
    }
    EXPECT_EQ(Count(sim, "open"), size_t{kRequests}) << "the stop tried a waiting retry";
    std::map<std::string, int64_t> due;  // by message text
    for (const auto& entry : fs::directory_iterator(folder.path() / kJournalFolderName)) {
      if (entry.path().extension() != kJournalFileSuffix) continue;
      for (const auto& [key, put] : ReadJournal(*ReadFileText(entry.path().c_str())).live) {
        const RequestRecord r = DecodeRequest(put.payload);
        EXPECT_EQ(r.tries, 1) << r.mstrTestID;
        due[r.mstrTestID] = r.next_try_unix_ms;
      }
    }
    ASSERT_EQ(due.size(), size_t{kRequests});

    // A short linger: requests still waiting for their time keep the
    // daemon from leaving idle before it has sent them.
    Daemon restarted(bus, folder.path(), {"--linger", "1"});
    ASSERT_TRUE(Eventually([&] { return Count(sim, "recv", "SEND") >= kRequests; }, 120s))
        << restarted.Log();
    EXPECT_THAT(restarted.Log(), ContainsRegex("journal: replaying 50 requests [^\n]*: [0-9]+ due "
                                               "now, [0-9]+ waiting"));
    std::multiset<std::string> sent;
    for (const auto& e : sim.Events()) {
      if (e.kind != "recv" || !e.text.starts_with("MESSAGE \"")) continue;
      const std::string id = e.text.substr(9, e.text.size() - 10);
      sent.insert(id);
      EXPECT_GE(e.ms, static_cast<double>(due[id])) << id << " was sent before it was due";
    }
    for (const auto& [id, when] : due) EXPECT_EQ(sent.count(id), 1u) << id;
    EXPECT_EQ(Count(sim, "recv", "SEND"), size_t{kRequests});
    EXPECT_THAT(restarted.Log(), Not(HasSubstr("try 3 of 3")));
  }
}

// A request waiting for its next try is still its object's: a new request
// on the object replaces it, and the object released meanwhile hands it,
// tries and all, to an object of its own.
TEST(Retries, AWaitingRequestStaysItsObjectsUntilReplacedOrReleased) {
  PrivateBus bus;
  ProgramFolder folder;
  folder.UseSnpp(FreeLoopbackPort(), 5);  // nothing listens: each try fails for now
  UseDelivery(folder,
              "Attempts=3\nFirstRetry=3600\nMaxDelay=3600\nBreakAfter=0\nGiveUpAfter=86400\n");
  Daemon daemon(bus, folder.path(), {"--linger", "60"});
  Client client(bus);
  const struct {
    const char* id;
    bool release;  // else replaced
    const char* line;
  } cases[] = {
      {"W-1", false, "request W-1: waiting for try 2, replaced by request W-1b on the same object"},
      {"W-2", true, "taking over request W-2 \\(.*, waiting for try 2\\)"},
  };
  for (const auto& c : cases) {
    const std::string path = client.Create(), id = c.id;
    ASSERT_TRUE(SendRequest(client, path, c.id, "disk full").ok()) << daemon.Log();
    ASSERT_TRUE(daemon.Logged("request " + id + ": try 1 of 3: ", 60s)) << daemon.Log();
    if (c.release)
      EXPECT_TRUE(client.Call(path, kDispatch, "Release", nullptr).ok());
    else
      EXPECT_TRUE(SendRequest(client, path, (id + "b").c_str(), "disk full").ok());
    EXPECT_TRUE(
        daemon.Logged(c.release ? "taking over request " + id : "replaced by request", 60s));
    EXPECT_THAT(daemon.Log(), ContainsRegex(c.line));
  }
}

// Two requests give up; they stay listed as failed through a restart that
// does not run them. One is sent again and its page goes once, with one
// more callback; the other is cleared.
TEST(Retries, RequestsThatGaveUpStayFailedUntilSentAgainOrCleared) {
  PrivateBus bus;
  ProgramFolder folder;
  SnppSim sim("", "127.0.0.1", {"--fail-first", "4"});
  folder.UseSnpp(sim.port(), 10);
  UseDelivery(folder, "Attempts=2\nFirstRetry=1\nMaxDelay=1\n");
  std::optional<Daemon> daemon(std::in_place, bus, folder.path(),
                               std::vector<std::string>{"--linger", "60"});
  Client client(bus);
  ASSERT_TRUE(client.OwnName("org.example.Hooks"));
  for (const char* id : {"T-9", "T-10"})
    ASSERT_TRUE(SendMessage(client, client.Create(), id, OneGroup(id), Marker(0), OnePager("1"),
                            Marker(0), "org.example.Hooks")
                    .ok());
  ASSERT_EQ(client.WaitForCallbacks(2, 60s).size(), 2u) << daemon->Log();
  auto cli = [&](std::vector<std::string> args) {
    args.insert(args.begin(), {"--address", bus.address(), "journal"});
    return CliProcess(args).Wait();
  };
  const std::vector<std::string> list_failed = {"list", "--failed", "--folder", folder.path()};
  const CliResult listed = cli(list_failed);
  EXPECT_THAT(listed.out, HasSubstr("\n2 failed requests in ")) << listed.Describe();
  std::smatch row;
  const std::regex t9("([0-9a-f]{12})  T-9  accepted \\S+  failed \\S+  Page Status: ");
  ASSERT_TRUE(std::regex_search(listed.out, row, t9)) << listed.out;
  const std::string id = row[1];

  daemon.reset();  // killed
  daemon.emplace(bus, folder.path(), std::vector<std::string>{"--linger", "60"});
  ASSERT_TRUE(daemon->Logged("journal: keeping 2 failed requests", 30s)) << daemon->Log();
  const Answer list = client.Call(kRoot, "org.qznotes.QzNotes.Journal", "List", nullptr);
  EXPECT_THAT(list.Print(), AllOf(HasSubstr("('" + id + "', 'T-9', "), HasSubstr("'T-10'")));
  EXPECT_THAT(
      client
          .Call(kRoot, "org.qznotes.QzNotes.Journal", "Retry", g_variant_new("(s)", "0123456789ab"))
          .error,
      "org.freedesktop.DBus.Error.InvalidArgs");
  const CliResult retried = cli({"retry", id});
  EXPECT_EQ(retried.out, "sent 1 failed requests again\n") << retried.Describe();
  EXPECT_THAT(client.WaitForCallbacks(3, 60s).back(), Pair("T-9", "QzNotes: Message Sent"))
      << daemon->Log();
  EXPECT_EQ(Count(sim, "recv", "SEND"), 1u) << sim.Received();
  EXPECT_EQ(Count(sim, "open"), 5u) << "a failed request ran at the restart";
  EXPECT_EQ(client.Call(kRoot, "org.qznotes.QzNotes.Journal", "Clear", nullptr).Print(),
            "(uint32 1,)");
  EXPECT_EQ(cli({"clear", "--failed"}).out, "dropped 0 failed requests\n");
  EXPECT_THAT(cli(list_failed).out, ::testing::StartsWith("0 failed requests in "));
  EXPECT_EQ(client.WaitForCallbacks(4, 2s).size(), 3u) << "another outcome came";
}

// Five pages to one number under a cap of two per ten seconds: two go at
// once, the others as the window frees, each once and none lost.
TEST(Throttles, PagesOverTheCapWaitForTheWindowAndAllGoOnce) {
  PrivateBus bus;
  ProgramFolder folder;
  SnppSim sim("", "127.0.0.1", {"--unix-times"});
  folder.UseSnpp(sim.port(), 10);
  UseDelivery(folder, "MaxPerRecipient=2/10\n");
  Daemon daemon(bus, folder.path(), {"--linger", "120"});
  Client client(bus);
  for (const char* id : {"P-1", "P-2", "P-3", "P-4", "P-5"})
    ASSERT_TRUE(SendRequest(client, client.Create(), id, id).ok()) << daemon.Log();
  for (const auto& [id, outcome] : client.WaitForCallbacks(5, 120s))
    EXPECT_EQ(outcome, "QzNotes: Message Sent") << id;
  std::multiset<std::string> sent;
  std::vector<double> times;
  for (const auto& e : sim.Events())
    if (e.kind == "recv" && e.text.starts_with("MESSAGE \"")) {
      sent.insert(e.text.substr(9, e.text.size() - 10));
      times.push_back(e.ms);
    }
  EXPECT_EQ(sent, (std::multiset<std::string>{"P-1", "P-2", "P-3", "P-4", "P-5"}));
  std::sort(times.begin(), times.end());
  for (size_t i = 2; i < times.size(); ++i)
    EXPECT_GE(times[i] - times[i - 2], 10'000.0) << "three pages within one window";
  EXPECT_THAT(daemon.Log(), HasSubstr(": try 1 of 1: page (SNPP) to 1: throttled (2 in 10 s); "
                                      "next try in "));
}

// The same text twice goes once, and both callers hear it went; the window
// outlives the daemon.
TEST(Throttles, ARepeatedTextIsSentOnceEvenAfterARestart) {
  PrivateBus bus;
  ProgramFolder folder;
  SnppSim sim;
  folder.UseSnpp(sim.port(), 10);
  UseDelivery(folder, "SuppressDuplicates=60\n");
  // D-1 and D-2 in one run, D-3 after a restart.
  for (const std::vector<const char*>& run : {std::vector{"D-1", "D-2"}, std::vector{"D-3"}}) {
    Daemon daemon(bus, folder.path(), {"--linger", "60"});
    Client client(bus);
    for (size_t n = 0; n < run.size(); ++n) {
      const std::string id = run[n];
      ASSERT_TRUE(SendRequest(client, client.Create(), id.c_str(), "disk full").ok());
      const auto outcomes = client.WaitForCallbacks(n + 1, 60s);
      ASSERT_EQ(outcomes.size(), n + 1) << daemon.Log();
      EXPECT_EQ(outcomes.back(), std::pair(id, std::string("QzNotes: Message Sent")));
      if (id == "D-1") continue;
      EXPECT_THAT(daemon.Log(),
                  HasSubstr("request " + id + ": page (SNPP) to 1: suppressed (duplicate of D-1)"));
    }
    daemon.Signal(SIGTERM);
    ASSERT_EQ(daemon.WaitExit(60s), 0) << daemon.Log();
  }
  EXPECT_EQ(Count(sim, "recv", "SEND"), 1u) << sim.Received();
}

}  // namespace
}  // namespace qz::testing
