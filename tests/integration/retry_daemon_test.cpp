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
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "config/profile_string.h"
#include "daemon_harness.h"
#include "dispatch/journal_file.h"
#include "dispatch/request_record.h"
#include "platform/file_io.h"
#include "support/smtp_sink.h"
#include "support/snpp_sim.h"
#include "tap_sim_process.h"

namespace qz::testing {
namespace {

using ::testing::ElementsAre;
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
    UseDelivery(folder, "Attempts=3\nFirstRetry=10\nMaxDelay=10\n");
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

    Daemon restarted(bus, folder.path(), {"--linger", "120"});
    ASSERT_TRUE(Eventually([&] { return Count(sim, "recv", "SEND") >= kRequests; }, 120s))
        << restarted.Log();
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
