// The request journal across a SIGKILL: requests answered "Asynch mode"
// whose runs had not happened are delivered once after the restart, checked
// at the SNPP gateway.
//
// No run may be half done at the kill, or its page could legitimately come
// twice. So every run the first daemon starts meets a gateway that takes
// the connection and never answers PAGE: nothing is sent, and the run holds
// its apartment, so the apartment's other objects keep their requests.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>

#include "daemon_harness.h"
#include "dispatch/journal_file.h"
#include "platform/file_io.h"
#include "support/snpp_sim.h"

namespace qz::testing {
namespace {

constexpr int kApartments = 4;
constexpr int kRequests = 500;
constexpr int kClients = 5;
constexpr const char* kStall = "[*]\nREPLY PAGE NONE\n";

size_t Count(const SnppSim& sim, const std::string& kind, const std::string& prefix) {
  size_t n = 0;
  for (const auto& e : sim.Events()) n += e.kind == kind && e.text.starts_with(prefix);
  return n;
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::seconds limit) {
  auto give_up = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > give_up) return false;
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

// Live entries over every journal file of the folder.
size_t JournalEntries(const std::filesystem::path& folder) {
  size_t live = 0;
  std::error_code ec;
  for (auto& e : std::filesystem::directory_iterator(folder / kJournalFolderName, ec))
    if (auto bytes = ReadFileText(e.path().c_str())) live += ReadJournal(*bytes).live.size();
  return live;
}

class JournalCrash : public ::testing::Test {
 protected:
  JournalCrash() {
    const auto ini = folder_.path() / "QzNotes.ini";
    std::string text = folder_.Read("QzNotes.ini");
    std::ofstream(ini, std::ios::binary)
        << std::regex_replace(text, std::regex("\nIndex=0"), "\nIndex=1");
  }
  // `timeout`: seconds a run waits for each reply.
  void UseGateway(const SnppSim& sim, int timeout = 3000) {
    std::ofstream(folder_.path() / "QzSNPP.ini", std::ios::binary)
        << "[SNPP Paging Service]\nTCPPort=" << sim.port()
        << "\nHostName=127.0.0.1\nTimeout=" << timeout << "\n";
  }
  std::vector<std::string> Args() {
    return {"--linger", "forever", "--apartments", std::to_string(kApartments)};
  }

  PrivateBus bus_;
  ProgramFolder folder_;
};

// Sends requests without waiting and collects their answers.
class Pipeline {
 public:
  explicit Pipeline(GDBusConnection* connection)
      : connection_(connection), context_(g_main_context_new()) {}
  ~Pipeline() {
    while (answered_ < sent_ && g_main_context_iteration(context_, FALSE)) {
    }
    g_main_context_unref(context_);
  }
  void Send(const std::string& path, const std::string& text) {
    ++sent_;
    g_main_context_push_thread_default(context_);
    g_dbus_connection_call(
        connection_, kName, path.c_str(), kNotify, "SendMessageCallBack",
        g_variant_new("(@v@v@v@v(so)s)", OneGroup(text.c_str()), Marker(0), OnePager("100"),
                      Marker(0), "", "/", text.c_str()),
        nullptr, G_DBUS_CALL_FLAGS_NONE, 600000, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer self) {
          auto* p = static_cast<Pipeline*>(self);
          VariantPtr reply(
              g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, nullptr));
          ++p->answered_;
          VariantPtr boxed(reply ? g_variant_get_child_value(reply.get(), 0) : nullptr);
          VariantPtr inner(boxed ? g_variant_get_variant(boxed.get()) : nullptr);
          if (inner && g_variant_is_of_type(inner.get(), G_VARIANT_TYPE_STRING) &&
              std::string_view(g_variant_get_string(inner.get(), nullptr)) ==
                  "Notes Server: Asynch mode")
            ++p->asynch_;
        },
        this);
    g_main_context_pop_thread_default(context_);
  }
  // Waits (bounded) for every answer; the number that said "Asynch mode".
  int Collect(std::chrono::seconds limit) {
    auto give_up = std::chrono::steady_clock::now() + limit;
    while (answered_ < sent_ && std::chrono::steady_clock::now() < give_up)
      g_main_context_iteration(context_, FALSE) || (std::this_thread::sleep_for(5ms), true);
    return asynch_;
  }

 private:
  GDBusConnection* connection_;
  GMainContext* context_;
  int sent_ = 0, answered_ = 0, asynch_ = 0;
};

TEST_F(JournalCrash, EveryPendingRequestIsDeliveredOnceAfterSigkill) {
  SnppSim first_stall(kStall);
  SnppSim second_stall(kStall);
  SnppSim gateway;
  // The blockers give up waiting for PAGE after this long; the requests
  // below are sent and queued well within it.
  UseGateway(first_stall, 45);

  {
    Daemon daemon(bus_, folder_.path(), Args());
    // The bus allows a connection 128 calls awaiting replies: the requests
    // come from several clients, each calling only the objects it created.
    std::vector<std::unique_ptr<Client>> clients;
    for (int c = 0; c < kClients; ++c) clients.push_back(std::make_unique<Client>(bus_));
    // Created one after another, object k sits on apartment k mod 4.
    std::vector<std::string> paths;
    for (int i = 0; i < kApartments + kRequests; ++i) {
      paths.push_back(clients[i % kClients]->Create());
      ASSERT_FALSE(paths.back().empty()) << daemon.Log();
    }
    // One stalled run on every apartment: what is sent to the apartments
    // now waits there, and all of it runs in one go when they come free.
    for (int i = 0; i < kApartments; ++i)
      ASSERT_EQ(SendRequest(*clients[i % kClients], paths[i], "blocker", "blocker").Text(),
                "Notes Server: Asynch mode");
    ASSERT_TRUE(WaitUntil([&] { return Count(first_stall, "recv", "PAGE") == kApartments; }, 120s))
        << daemon.Log();

    std::vector<std::unique_ptr<Pipeline>> pipelines;
    for (auto& client : clients)
      pipelines.push_back(std::make_unique<Pipeline>(client->connection()));
    for (int i = kApartments; i < kApartments + kRequests; ++i)
      pipelines[i % kClients]->Send(paths[i], "req-" + std::to_string(i - kApartments));
    // Calls from one connection are routed in order: once this main-thread
    // slot has answered on every connection, every request above waits on
    // its apartment.
    for (int c = 0; c < kClients; ++c) {
      Answer barrier = clients[c]->Call(paths[c], kDispatch, "AddRef", nullptr);
      ASSERT_TRUE(barrier.ok()) << barrier.Print();
    }
    UseGateway(second_stall);
    // The blockers' runs fail when their wait ends; then the queued
    // requests are taken, all before any of their runs is due.
    int accepted = 0;
    for (auto& pipeline : pipelines) accepted += pipeline->Collect(200s);
    EXPECT_EQ(accepted, kRequests) << daemon.Log();
    // Each apartment's first run now stalls at the second gateway; the rest wait.
    ASSERT_TRUE(WaitUntil([&] { return Count(second_stall, "recv", "PAGE") == kApartments; }, 120s))
        << daemon.Log();
    EXPECT_EQ(JournalEntries(folder_.path()), size_t{kRequests});
    daemon.Signal(SIGKILL);
    ASSERT_EQ(daemon.WaitExit(60s), -SIGKILL);
  }
  EXPECT_EQ(Count(second_stall, "recv", "SEND"), 0u);

  UseGateway(gateway);
  Daemon restarted(bus_, folder_.path(), Args());
  std::regex replayed(": request req-[0-9]+: Message Sent \\(replayed\\)");
  auto replays = [&] {
    std::string log = restarted.Log();
    return static_cast<size_t>(std::distance(std::sregex_iterator(log.begin(), log.end(), replayed),
                                             std::sregex_iterator()));
  };
  ASSERT_TRUE(WaitUntil([&] { return replays() == kRequests; }, 600s)) << replays() << " replayed\n"
                                                                       << restarted.Log();
  EXPECT_NE(restarted.Log().find("journal: replaying 500 requests"), std::string::npos);

  std::map<std::string, int> delivered;
  std::map<int, std::string> message;  // by connection: runs overlap
  for (const auto& e : gateway.Events()) {
    if (e.kind != "recv") continue;
    if (e.text.starts_with("MESSAGE ")) message[e.connection] = e.text;
    if (e.text == "SEND") ++delivered[message[e.connection]];
  }
  EXPECT_EQ(delivered.size(), size_t{kRequests});
  for (int i = 0; i < kRequests; ++i)
    EXPECT_EQ(delivered["MESSAGE \"req-" + std::to_string(i) + "\""], 1) << "req-" << i;
  EXPECT_EQ(delivered.count("MESSAGE \"blocker\""), 0u) << "a run that ended is not replayed";
  EXPECT_TRUE(WaitUntil([&] { return JournalEntries(folder_.path()) == 0; }, 60s));
}

}  // namespace
}  // namespace qz::testing
