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
#include "platform/file_io.h"
#include "rfc1861_gateway.h"
#include "support/kannel_gateway.h"
#include "support/smtp_sink.h"
#include "support/snpp_sim.h"
#include "tap_sim_process.h"

namespace qz::testing {
namespace {

using ::testing::ContainsRegex;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::Pair;
namespace fs = std::filesystem;

void UseDelivery(const ProgramFolder& folder, const std::string& keys) {
  std::ofstream(folder.path() / "QzNotes.ini", std::ios::app) << "\n[Delivery]\n" << keys;
}

void SetKey(const ProgramFolder& folder, const char* section, const char* key,
            const std::string& value) {
  ASSERT_TRUE(
      mblnWritePrivateProfileString((folder.path() / "QzNotes.ini").string(), section, key, value));
}

// The texts of the pages the simulator took (MESSAGE "text"), with when.
std::vector<std::pair<std::string, double>> Messages(const SnppSim& sim) {
  std::vector<std::pair<std::string, double>> sent;
  for (const auto& e : sim.Events())
    if (e.kind == "recv" && e.text.starts_with("MESSAGE \""))
      sent.emplace_back(e.text.substr(9, e.text.size() - 10), e.ms);
  return sent;
}

constexpr const char* kSent = "QzNotes: Message Sent";

struct Try {
  const char* pagers = "1";         // the one group's pager list
  std::function<void()> back = {};  // run once the retry waits; none: no retry may come
  const char* outcome = kSent;      // the one callback
  std::string mail_server = {};     // a mail to oncall@x.org through it too
  bool release = false;             // the caller releases its object while the retry waits
};

// T-1 ("db down") sent to a peer failing for now; the caller hears one
// outcome once. Answers the daemon's log.
std::string PageWhileDown(const ProgramFolder& folder, const Try& t) {
  PrivateBus bus;
  // Margins wide enough for a peer slow to come back on a loaded machine.
  UseDelivery(folder, "Attempts=10\nFirstRetry=3\nMaxDelay=3\n");
  Daemon daemon(bus, folder.path(), {"--linger", "60"});
  Client client(bus);
  const std::string path = client.Create(),
                    pagers = std::string("<[<[<[<'") + t.pagers + "'>]>]>]>",
                    any = "<['Outage', 'ops@x.org', '', '" + t.mail_server + "', 'True']>";
  EXPECT_TRUE(SendMessage(client, path, "T-1", OneGroup("db down"),
                          t.mail_server.empty()
                              ? Marker(0)
                              : g_variant_new_parsed("<[<[<[<'oncall@x.org'>]>]>]>"),
                          g_variant_new_parsed(pagers.c_str()),
                          t.mail_server.empty() ? Marker(0) : g_variant_new_parsed(any.c_str()))
                  .ok());
  if (t.back) {
    EXPECT_TRUE(daemon.Logged("next try in", 60s)) << daemon.Log();
    t.back();
  }
  if (t.release) {
    EXPECT_EQ(client.Call(path, kDispatch, "Release", nullptr).Print(), "(uint32 0,)");
  }
  EXPECT_THAT(client.WaitForCallbacks(1, 90s), ElementsAre(Pair("T-1", t.outcome))) << daemon.Log();
  EXPECT_EQ(client.WaitForCallbacks(2, 2s).size(), 1u) << "a second outcome came";
  return daemon.Log();
}

// Each gateway's real peer failing for now at the first try, and back
// while the retry waits, takes the page once; a refusal for good is not
// tried again.
TEST(Retries, EachPeerTakesThePageOnceWhenBackAndARefusalIsNotTriedAgain) {
  const auto nothing = [] {};
  {
    SCOPED_TRACE("the SNPP simulator dropping two connections, released while the retry waits");
    ProgramFolder folder;
    SnppSim sim("", "127.0.0.1", {"--fail-first", "2"});
    folder.UseSnpp(sim.port(), 10);
    EXPECT_THAT(PageWhileDown(folder, {.back = nothing, .release = true}),
                HasSubstr("request T-1: try 2 of 10: page (SNPP) to 1: failed: "));
    EXPECT_EQ(sim.Lines("SEND").size(), 1u);
  }
  {
    SCOPED_TRACE("the SNPP simulator refusing for good in RFC 1861 mode");
    ProgramFolder folder;
    SnppSim sim("[*]\nreply PAGE 550 Unknown pager\n");
    folder.UseSnpp(sim.port(), 10);
    std::ofstream(folder.path() / "QzSNPP.ini", std::ios::app) << "Protocol=RFC1861\n";
    EXPECT_THAT(
        PageWhileDown(folder, {.outcome = "QzNotes: Message Undeliverable. See QzNotesLog.log "
                                          "file for details "}),
        HasSubstr("request T-1: try 1 of 10: page (SNPP) to 1: refused for good: "));
    EXPECT_EQ(sim.Count("open"), 1u) << "a refusal for good was tried again";
  }
  {
    SCOPED_TRACE("Net::SNPP::Server stopped, then started");
    ProgramFolder folder;
    std::optional<PerlGateway> perl(std::in_place);
    const int port = perl->port();
    perl.reset();
    folder.UseSnpp(port, 10);
    std::ofstream(folder.path() / "QzSNPP.ini", std::ios::app) << "Protocol=RFC1861\n";
    EXPECT_THAT(PageWhileDown(folder, {.pagers = "5551234", .back = [&] { perl.emplace(port); }}),
                HasSubstr("try 1 of 10: page (SNPP) to 5551234: failed: "));
    EXPECT_THAT(perl->Lines("PAGED"), ElementsAre("PAGED 5551234 db down"));
  }
  {
    SCOPED_TRACE("SMTP deferring the mail (451) while the page goes: the retry mails alone");
    ProgramFolder folder;
    SmtpSink sink({{"--defer-data", "1"}});
    SnppSim sim;
    folder.UseSnpp(sim.port(), 10);
    EXPECT_THAT(PageWhileDown(folder, {.back = nothing, .mail_server = sink.server()}),
                HasSubstr("try 1 of 10: mail (SMTP) to oncall@x.org: failed: "));
    EXPECT_EQ(sink.WaitForMails(1, 1s).size(), 1u);
    EXPECT_EQ(sim.Lines("SEND").size(), 1u) << sim.Received();
  }
  {
    SCOPED_TRACE("Kannel's bearerbox stopped, then started");
    ProgramFolder folder;
    KannelGateway kannel;
    kannel.Stop();
    SetKey(folder, "Default", "Index", "2");
    SetKey(folder, "SMS", "IPAddress", kannel.sendsms_address());
    SetKey(
        folder, "SMSMapping", "SMSTrailer",
        std::string("username=") + KannelGateway::kUser + "&password=" + KannelGateway::kPassword);
    EXPECT_THAT(PageWhileDown(folder, {.pagers = "07700900123", .back = [&] { kannel.Start(); }}),
                HasSubstr("try 1 of 10: page (SMS) to 07700900123: failed: "));
    EXPECT_THAT(kannel.Received(), ElementsAre(::testing::EndsWith(" db down")));
  }
  {
    SCOPED_TRACE("the terminal's line busy, then answering");
    ProgramFolder folder;
    TapSimulator tap(folder.path(), "modem\ndial-first 1 BUSY\n");
    SetKey(folder, "Pager Terminal", "ComPort", tap.link().string());
    SetKey(folder, "Pager Terminal", "Number", "555-1234");
    EXPECT_THAT(PageWhileDown(folder, {.pagers = "1001", .back = nothing}),
                HasSubstr("try 1 of 10: page (pager terminal) to 1001: failed: modem: the line to "
                          "5551234 is busy (BUSY)"));
    EXPECT_EQ(tap.Pages(), "1001 db down");
  }
}

// An SNPP gateway that drops its first two connections opens the breaker
// (BreakAfter=2): a request made meanwhile waits for the cool-down without
// using a try, and `qznotes status` shows the gateway down with the failure,
// then up again once both pages went.
TEST(Retries, ABreakerHoldsNewTriesToAGatewayThatIsDownAndStatusShowsIt) {
  PrivateBus bus;
  ProgramFolder folder;
  SnppSim sim("", "127.0.0.1", {"--fail-first", "2"});
  folder.UseSnpp(sim.port(), 10);
  UseDelivery(folder, "Attempts=3\nFirstRetry=5\nMaxDelay=5\nBreakAfter=2\n");
  Daemon daemon(bus, folder.path(), {"--linger", "60"});
  Client client(bus);
  ASSERT_TRUE(SendRequest(client, client.Create(), "T-1", "first").ok()) << daemon.Log();
  ASSERT_TRUE(daemon.Logged("gateway SNPP down after 2 failures in a row: ", 30s)) << daemon.Log();
  ASSERT_TRUE(SendRequest(client, client.Create(), "T-2", "second").ok()) << daemon.Log();
  const CliResult down = RunCli({"--address", bus.address(), "status"});
  const std::string log = daemon.Log(), why = log.substr(log.find("in a row: ") + 10),
                    failure = why.substr(0, why.find('\n'));
  EXPECT_THAT(down.out, ContainsRegex("gateway SNPP +down since [0-9T:-]+ \\(")) << down.Describe();
  EXPECT_THAT(down.out, HasSubstr(failure)) << down.out;

  EXPECT_THAT(client.WaitForCallbacks(2, 60s),
              ::testing::UnorderedElementsAre(Pair("T-1", "QzNotes: Message Sent"),
                                              Pair("T-2", "QzNotes: Message Sent")))
      << daemon.Log();
  EXPECT_THAT(daemon.Log(), HasSubstr("request T-2: gateway SNPP is down; try 1 waits "));
  EXPECT_THAT(daemon.Log(), HasSubstr("gateway SNPP back after "));
  EXPECT_THAT(daemon.Log(), Not(HasSubstr("request T-2: try"))) << "the wait was counted a try";
  EXPECT_EQ(sim.Lines("SEND").size(), 2u) << sim.Received();
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
      auto waiting = [&] {
        static const std::regex next("; next try in ");
        const std::string log = daemon.Log();
        return std::distance(std::sregex_iterator(log.begin(), log.end(), next), {});
      };
      ASSERT_TRUE(Eventually([&] { return waiting() == kRequests; }, 60s)) << daemon.Log();
      daemon.Signal(signal);
      ASSERT_EQ(daemon.WaitExit(60s), status) << daemon.Log();
    }
    EXPECT_EQ(sim.Count("open"), size_t{kRequests}) << "the stop tried a waiting retry";
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
    ASSERT_TRUE(Eventually([&] { return sim.Lines("SEND").size() >= kRequests; }, 120s))
        << restarted.Log();
    std::multiset<std::string> sent;
    for (const auto& [id, ms] : Messages(sim)) {
      sent.insert(id);
      EXPECT_GE(ms, static_cast<double>(due[id])) << id << " was sent before it was due";
    }
    for (const auto& [id, when] : due) EXPECT_EQ(sent.count(id), 1u) << id;
  }
}

// A request waiting for its next try is still its object's: a new request
// on the object replaces it. (Released meanwhile, the object hands it to an
// object of its own: the first of the peers above.)
TEST(Retries, AWaitingRequestStaysItsObjectsUntilReplaced) {
  PrivateBus bus;
  ProgramFolder folder;
  folder.UseSnpp(FreeLoopbackPort(), 5);  // nothing listens: each try fails for now
  UseDelivery(folder,
              "Attempts=3\nFirstRetry=3600\nMaxDelay=3600\nBreakAfter=0\nGiveUpAfter=86400\n");
  Daemon daemon(bus, folder.path(), {"--linger", "60"});
  Client client(bus);
  const std::string path = client.Create();
  ASSERT_TRUE(SendRequest(client, path, "W-1", "disk full").ok()) << daemon.Log();
  ASSERT_TRUE(daemon.Logged("request W-1: try 1 of 3: ", 60s)) << daemon.Log();
  EXPECT_TRUE(SendRequest(client, path, "W-1b", "disk full").ok());
  EXPECT_TRUE(
      daemon.Logged("request W-1: waiting for try 2, replaced by request W-1b on the same "
                    "object",
                    60s))
      << daemon.Log();
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
  const CliResult listed = cli({"list", "--failed", "--folder", folder.path()});
  std::smatch row;
  const std::regex t9("([0-9a-f]{12})  T-9  accepted \\S+  failed \\S+  Page Status: ");
  ASSERT_TRUE(std::regex_search(listed.out, row, t9)) << listed.Describe();
  const std::string id = row[1];

  daemon.reset();  // killed
  daemon.emplace(bus, folder.path(), std::vector<std::string>{"--linger", "60"});
  ASSERT_TRUE(daemon->Logged("journal: keeping 2 failed requests", 30s)) << daemon->Log();
  const char* journal = "org.qznotes.QzNotes.Journal";
  EXPECT_THAT(client.Call(kRoot, journal, "List", nullptr).Print(),
              ::testing::AllOf(HasSubstr("('" + id + "', 'T-9', "), HasSubstr("'T-10'")));
  EXPECT_EQ(client.Call(kRoot, journal, "Retry", g_variant_new("(s)", "0123456789ab")).error,
            "org.freedesktop.DBus.Error.InvalidArgs");
  const CliResult retried = cli({"retry", id});
  EXPECT_EQ(retried.out, "sent 1 failed requests again\n") << retried.Describe();
  EXPECT_THAT(client.WaitForCallbacks(3, 60s).back(), Pair("T-9", "QzNotes: Message Sent"))
      << daemon->Log();
  EXPECT_EQ(sim.Lines("SEND").size(), 1u) << sim.Received();
  EXPECT_EQ(sim.Count("open"), 5u) << "a failed request ran at the restart";
  EXPECT_EQ(client.Call(kRoot, journal, "Clear", nullptr).Print(), "(uint32 1,)");
  EXPECT_EQ(client.WaitForCallbacks(4, 2s).size(), 3u) << "another outcome came";
}

// Under a cap of two per ten seconds and a duplicate window of a minute:
// five pages to one number go two at once and the rest as the window frees,
// each once; the same text to another number twice goes once, while every
// caller hears it went. (That the window outlives a restart is the ledger's
// own test.)
TEST(Throttles, PagesOverTheCapWaitForTheWindowAndARepeatedTextGoesOnce) {
  PrivateBus bus;
  ProgramFolder folder;
  SnppSim sim("", "127.0.0.1", {"--unix-times"});
  folder.UseSnpp(sim.port(), 10);
  UseDelivery(folder, "MaxPerRecipient=2/10\nSuppressDuplicates=60\n");
  const std::vector<const char*> run = {"D-1", "D-2", "P-1", "P-2", "P-3", "P-4", "P-5"};
  Daemon daemon(bus, folder.path(), {"--linger", "120"});
  Client client(bus);
  for (size_t n = 0; n < run.size(); ++n) {
    const bool repeat = run[n][0] == 'D';
    ASSERT_TRUE(SendMessage(client, client.Create(), run[n],
                            OneGroup(repeat ? "disk full" : run[n]), Marker(0),
                            OnePager(repeat ? "2" : "1"), Marker(0))
                    .ok())
        << daemon.Log();
    // Each repeat once the one before it has gone.
    if (repeat) {
      ASSERT_EQ(client.WaitForCallbacks(n + 1, 60s).size(), n + 1) << daemon.Log();
    }
  }
  const auto outcomes = client.WaitForCallbacks(run.size(), 120s);
  ASSERT_EQ(outcomes.size(), run.size()) << daemon.Log();
  for (const auto& [id, outcome] : outcomes) EXPECT_EQ(outcome, "QzNotes: Message Sent") << id;
  EXPECT_THAT(daemon.Log(),
              HasSubstr("request D-2: page (SNPP) to 2: suppressed (duplicate of D-1)"));
  EXPECT_THAT(daemon.Log(), HasSubstr(": try 1 of 1: page (SNPP) to 1: throttled (2 in 10 s); "
                                      "next try in "));
  std::multiset<std::string> sent;
  std::vector<double> times;
  for (const auto& [text, ms] : Messages(sim)) {
    sent.insert(text);
    if (text != "disk full") times.push_back(ms);
  }
  EXPECT_EQ(sent, (std::multiset<std::string>{"P-1", "P-2", "P-3", "P-4", "P-5", "disk full"}));
  std::sort(times.begin(), times.end());
  for (size_t i = 2; i < times.size(); ++i)
    EXPECT_GE(times[i] - times[i - 2], 10'000.0) << "three pages within one window";
}

}  // namespace
}  // namespace qz::testing
