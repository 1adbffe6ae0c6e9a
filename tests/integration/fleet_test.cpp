// Two daemons on buses and folders of their own share one PostgreSQL
// journal and one SNPP simulator: the pages of a daemon killed in flight go
// out from the other, each once but for those in progress at the kill; a
// database stopped under load loses nothing accepted, and what comes
// meanwhile is refused with a D-Bus error of its own; a request posted to a
// daemon that does not serve it is handed on, and each daemon shows the
// whole fleet; two daemons that dial one paging terminal through modems of
// their own never call it at once.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <thread>
#include <tuple>

#include "cli_runner.h"
#include "config/profile_string.h"
#include "daemon_harness.h"
#include "http/token_store.h"
#include "json_reader.h"
#include "support/pg_cluster.h"
#include "support/snpp_sim.h"
#include "tap_sim_process.h"

namespace qz::testing {
namespace {

// The wall-clock times of each page's SEND, by its text.
std::map<std::string, std::vector<double>> Sent(const SnppSim& sim) {
  std::map<int, std::string> text_of;  // by connection
  std::map<std::string, std::vector<double>> sent;
  for (const SimEvent& e : sim.Events())
    if (e.kind == "recv" && e.text.starts_with("MESSAGE \""))
      text_of[e.connection] = e.text.substr(9, e.text.size() - 10);
    else if (e.kind == "recv" && e.text.starts_with("SEND"))
      sent[text_of[e.connection]].push_back(e.ms);
  return sent;
}

Answer Request(Client& client, const std::string& id) {
  return client.Call(
      kRoot, kNotify, "SendMessageCallBackEx",
      g_variant_new("(@v@v@v@v@vs)", OneGroup(id.c_str()), Marker(0), OnePager("1"), Marker(0),
                    g_variant_new_variant(g_variant_new_string("")), id.c_str()));
}

// Waits (bounded) until every one of `ids` went; answers what went.
std::map<std::string, std::vector<double>> AllSent(const SnppSim& sim,
                                                   const std::vector<std::string>& ids) {
  std::map<std::string, std::vector<double>> sent;
  Eventually(
      [&] {
        return std::ranges::all_of(ids, [&](auto& id) { return (sent = Sent(sim)).contains(id); });
      },
      120s);
  return sent;
}

struct Fleet : ::testing::Test {
  void SetUp() override {
    if (!PgCluster::Available()) GTEST_SKIP() << "PostgreSQL 15 is not installed";
    ASSERT_TRUE(cluster.Start()) << cluster.log();
    folder.UseSnpp(sim.port(), 10);
    other_folder.UseSnpp(sim.port(), 10);
  }
  std::vector<std::string> Args(const char* lease) const {
    return {"--journal", cluster.url(), "--lease", lease, "--apartments", "4"};
  }
  PgCluster cluster;
  SnppSim sim{"[*]\ndelay SEND 40\n", "127.0.0.1", {"--unix-times"}};
  // Each daemon has a bus and a program folder of its own.
  PrivateBus bus, other_bus;
  ProgramFolder folder, other_folder;
};

TEST_F(Fleet, PagesOfADaemonKilledInFlightGoOutOnceFromAnother) {
  Daemon other(other_bus, other_folder.path(), Args("3"));
  std::vector<std::string> ids;
  Daemon accepting(bus, folder.path(), Args("3"));
  Client client(bus);
  for (int n = 0; n < 200; ++n) {
    ids.push_back("K-" + std::to_string(n));
    ASSERT_EQ(Request(client, ids.back()).Text(), "Notes Server: Asynch mode");
  }
  ASSERT_TRUE(Eventually([&] { return Sent(sim).size() >= 20; }, 60s));
  accepting.Signal(SIGKILL);
  // Before the lease runs out nobody runs the killed daemon's rows, so a
  // page sent twice was first sent by the killed daemon, its try in
  // progress. What the simulator has by then (the last bytes the killed
  // daemon wrote included) is the killed daemon's own.
  std::this_thread::sleep_for(500ms);
  const double killed = double(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::system_clock::now().time_since_epoch())
                                   .count());
  auto sent = AllSent(sim, ids);
  for (const auto& id : ids) {
    ASSERT_GE(sent[id].size(), 1u) << id << " never went\n" << other.Log();
    EXPECT_TRUE(sent[id].size() == 1 || sent[id].front() < killed)
        << id << " went twice, the first time after the kill";
  }
}

TEST_F(Fleet, ADatabaseStoppedUnderLoadLosesNothingAcceptedAndRefusesCleanly) {
  Daemon daemon(bus, folder.path(), Args("30"));
  Client client(bus);
  std::vector<std::string> accepted;
  std::vector<Answer> refused;
  auto send_until = [&](const std::function<bool()>& done) {
    for (int n = 0; !done() && n < 500; ++n) {
      const std::string id = "O-" + std::to_string(accepted.size() + refused.size());
      Answer answer = Request(client, id);
      answer.ok() ? accepted.push_back(id) : refused.push_back(std::move(answer));
      std::this_thread::sleep_for(100ms);
    }
  };
  send_until([&] { return accepted.size() >= 20; });
  ASSERT_TRUE(cluster.Stop());
  const auto back = std::chrono::steady_clock::now() + 10s;
  send_until([&] { return std::chrono::steady_clock::now() > back; });
  ASSERT_TRUE(cluster.Start());
  send_until([&] { return accepted.size() >= 40; });
  ASSERT_FALSE(refused.empty());
  for (const Answer& answer : refused)
    EXPECT_EQ(answer.Print(),
              "org.qznotes.QzNotes.Error.JournalUnavailable: the request journal at " +
                  cluster.url() + " cannot keep the request now: it is not accepted; try again");
  const auto sent = AllSent(sim, accepted);
  for (const auto& id : accepted) EXPECT_TRUE(sent.contains(id)) << id << "\n" << daemon.Log();
}

TEST_F(Fleet, ARequestPostedToADaemonThatDoesNotServeItIsHandedOnAndSaysSo) {
  std::ofstream(other_folder.path() / std::string(kTokensFileName)) << TokenFileText(
      {{"ops", TokenHash("ops"),
        static_cast<unsigned>(Right::kSend) | static_cast<unsigned>(Right::kRead)}});
  chmod((other_folder.path() / std::string(kTokensFileName)).c_str(), 0600);
  Daemon serving(bus, folder.path(), Args("30"));
  std::vector<std::string> args = Args("30");
  args.insert(args.end(), {"--serves", "mail", "--listen", "127.0.0.1:0"});
  Daemon mail_only(other_bus, other_folder.path(), args);
  std::smatch api;
  const std::string log = mail_only.Logged("http: serving", 10s) ? mail_only.Log() : "";
  ASSERT_TRUE(std::regex_search(log, api, std::regex(R"(serving (http://127\.0\.0\.1:\d+))")));
  const std::vector<std::string> bearer = {"-H", "Authorization: Bearer ops"};
  std::vector<std::string> post = bearer;
  post.insert(post.end(), {"--data", R"({"testId":"H-1","groups":[{"messages":["H-1"],)"
                                     R"("pagers":["5551234"]}]})"});
  const Fetched posted = Curl(api[1].str() + "/v1/requests", post);
  ASSERT_EQ(posted.status, 202) << posted.body << mail_only.Log();
  const std::optional<Json> id = JsonReader::Parse(posted.body);
  ASSERT_TRUE(id && id->Find("id")) << posted.body;
  const Fetched state = Curl(api[1].str() + "/v1/requests/" + id->Find("id")->text, bearer);
  EXPECT_THAT(state.body, ::testing::HasSubstr(R"("state":"handed-off")")) << state.body;
  EXPECT_EQ(AllSent(sim, {"H-1"})["H-1"].size(), 1u) << serving.Log();

  // Each daemon's status and journal listing show the whole fleet, with
  // what each serves (the SNPP gateway and mail, or mail alone).
  const std::string json_fleet =
      R"("fleet":\{"daemons":\{("[^"]+":\{"serves":\[("1","mail"|"mail")\],"seen_ms":[0-9]+,"alive":true,"holds":[0-9]+\},?){2}\},"unclaimable":0\})";
  const std::tuple<const PrivateBus&, std::vector<std::string>, std::string> rows[] = {
      // the daemon asked, the client's command, what its output shows
      {other_bus, {"status", "--json"}, json_fleet},
      {bus, {"journal", "list"}, "\nfleet +2 daemons, 2 alive, 0 tries nobody can claim\n"},
      {other_bus, {"journal", "list", "--failed"}, "^0 failed requests in the fleet's database\n$"},
  };
  for (const auto& [at, command, shows] : rows) {
    std::vector<std::string> args = {"--address", at.address()};
    args.insert(args.end(), command.begin(), command.end());
    const CliResult got = RunCli(args);
    EXPECT_TRUE(std::regex_search(got.out, std::regex(shows))) << got.Describe();
  }
}

// Each daemon has a modem of its own (a simulator on its own
// pseudo-terminal, so no device lock is shared) and both dial the same
// number: only the fleet's lock on the line keeps their calls apart. Calls
// are slow enough (1200 bit/s) that two sessions begun together overlap.
TEST_F(Fleet, TwoDaemonsDialingOneTerminalNeverCallItAtOnce) {
  TapSimulator modem(folder.path(), "modem\nbaud 1200\n"),
      other_modem(other_folder.path(), "modem\nbaud 1200\n");
  for (const auto& [at, line] : {std::pair{&folder, &modem}, {&other_folder, &other_modem}}) {
    const std::string ini = (at->path() / "QzNotes.ini").string();
    for (const auto& [key, value] :
         {std::pair<const char*, std::string>{"ComPort", line->link()}, {"Number", "555-1234"}})
      ASSERT_TRUE(mblnWritePrivateProfileString(ini, "Pager Terminal", key, value));
    ASSERT_TRUE(mblnWritePrivateProfileString(ini, "Default", "Index", "0"));
  }
  Daemon daemon(bus, folder.path(), Args("30")), other(other_bus, other_folder.path(), Args("30"));
  Client client(bus), other_client(other_bus);
  std::set<std::string> ids;
  for (int n = 0; n < 3; ++n)
    for (auto [prefix, to] : {std::pair{"A-", &client}, {"B-", &other_client}}) {
      ids.insert(prefix + std::to_string(n));
      ASSERT_EQ(Request(*to, prefix + std::to_string(n)).Text(), "Notes Server: Asynch mode");
    }
  std::set<std::string> arrived;
  Eventually(
      [&] {
        std::istringstream pages(modem.Pages() + "; " + other_modem.Pages());
        arrived.clear();
        for (std::string page; std::getline(pages, page, ';');)
          if (const size_t blank = page.rfind(' '); blank != std::string::npos)
            arrived.insert(page.substr(blank + 1));
        return arrived == ids;
      },
      120s);
  EXPECT_EQ(arrived, ids) << daemon.Log() << other.Log();
  auto calls = modem.Calls();
  std::ranges::copy(other_modem.Calls(), std::back_inserter(calls));
  std::ranges::sort(calls);
  ASSERT_GE(calls.size(), 2u);
  for (size_t n = 1; n < calls.size(); ++n)
    EXPECT_LE(calls[n - 1].second, calls[n].first)
        << "calls " << n - 1 << " and " << n << " overlap";
}

}  // namespace
}  // namespace qz::testing
