// Following a request from its answer to its outcome: the daemon's trace
// lines, the Delivered signal and `qznotes watch`, the settings-write line
// with its caller, and what the factory path offers one-shot tools.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <regex>

#include "cli_runner.h"
#include "daemon_harness.h"
#include "support/snpp_sim.h"

namespace qz::testing {
namespace {

using ::testing::HasSubstr;

constexpr const char* kMonitor = "org.qznotes.QzNotes.Monitor";
constexpr const char* kSent = "Message Sent";
constexpr const char* kUndeliverable =
    "Message Undeliverable. See QzNotesLog.log file for details ";

struct Delivered {
  std::string test_id;
  std::string outcome;
  std::vector<std::string> details;
};

// Collects the daemon's Delivered signals on a connection of its own.
class DeliveredListener {
 public:
  explicit DeliveredListener(const PrivateBus& bus)
      : connection_(bus.Connect()), context_(g_main_context_new()) {
    g_main_context_push_thread_default(context_);
    subscription_ = g_dbus_connection_signal_subscribe(
        connection_.get(), kName, kMonitor, "Delivered", kRoot, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
        [](GDBusConnection*, const char*, const char*, const char*, const char*, GVariant* params,
           gpointer self) {
          Delivered d;
          const char* id = nullptr;
          const char* outcome = nullptr;
          GVariantIter* details = nullptr;
          g_variant_get(params, "(&s&sas)", &id, &outcome, &details);
          d.test_id = id;
          d.outcome = outcome;
          const char* line = nullptr;
          while (g_variant_iter_next(details, "&s", &line)) d.details.emplace_back(line);
          g_variant_iter_free(details);
          static_cast<DeliveredListener*>(self)->received_.push_back(std::move(d));
        },
        this, nullptr);
    g_main_context_pop_thread_default(context_);
    // Answered after the match rule was added: no later signal is missed.
    VariantPtr id(g_dbus_connection_call_sync(
        connection_.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "GetId", nullptr, nullptr, G_DBUS_CALL_FLAGS_NONE, 10000, nullptr, nullptr));
  }
  ~DeliveredListener() {
    g_dbus_connection_signal_unsubscribe(connection_.get(), subscription_);
    while (g_main_context_iteration(context_, FALSE)) {
    }
    g_main_context_unref(context_);
  }

  const std::vector<Delivered>& WaitFor(size_t count, std::chrono::milliseconds limit) {
    IterateUntil(
        context_, [&] { return received_.size() >= count; }, limit);
    return received_;
  }

 private:
  BusConnection connection_;
  GMainContext* context_;
  guint subscription_ = 0;
  std::vector<Delivered> received_;
};

class DeliveryTrace : public ::testing::Test {
 protected:
  DeliveryTrace() : daemon_(bus_, folder_.path(), {"--linger", "60"}), client_(bus_) {
    // Paging through the SNPP simulator.
    std::string text = folder_.Read("QzNotes.ini");
    text = std::regex_replace(text, std::regex("\nIndex=0"), "\nIndex=1");
    std::ofstream(folder_.path() / "QzNotes.ini", std::ios::binary) << text;
    std::ofstream(folder_.path() / "QzSNPP.ini", std::ios::binary)
        << "[SNPP Paging Service]\nTCPPort=" << sim_.PortText()
        << "\nHostName=127.0.0.1\nTimeout=5\n";
  }

  // A request to pager 100, with a mail to `email` through an SMTP server
  // that refuses connections when `email` is given.
  Answer Send(const std::string& path, const char* test_id, const char* email = nullptr) {
    GVariant* emails = email ? g_variant_new_parsed("<[<[<[<%s>]>]>]>", email) : Marker(0);
    // Port 1 on loopback: nothing listens, so the mail fails at once.
    GVariant* options =
        email ? g_variant_new_parsed(
                    "<[<'subject'>, <'q@example.org'>, <''>, <'127.0.0.1:1'>, <'True'>]>")
              : Marker(0);
    return client_.Call(path, kNotify, "SendMessageCallBack",
                        g_variant_new("(@v@v@v@v(so)s)", OneGroup("disk full"), emails,
                                      OnePager("100"), options, "", "/callback", test_id));
  }

  // The daemon's log once it holds `text` (bounded wait).
  std::string LogWith(const std::string& text) {
    for (int i = 0; i < 500 && daemon_.Log().find(text) == std::string::npos; ++i)
      std::this_thread::sleep_for(20ms);
    return daemon_.Log();
  }

  SnppSim sim_;
  PrivateBus bus_;
  ProgramFolder folder_;
  Daemon daemon_;
  Client client_;
};

TEST_F(DeliveryTrace, EachRunIsSignalledAndLoggedWithItsChannelsAndOutcome) {
  DeliveredListener listener(bus_);
  const std::string path = client_.Create();
  ASSERT_EQ(Send(path, "T-sent").Print(), "(<'Notes Server: Asynch mode'>,)");
  ASSERT_EQ(client_.WaitForCallbacks(1, 60s).size(), 1u) << daemon_.Log();
  ASSERT_EQ(Send(path, "T-failed", "a@example.org").Print(), "(<'Notes Server: Asynch mode'>,)");
  ASSERT_EQ(client_.WaitForCallbacks(2, 60s).size(), 2u) << daemon_.Log();

  const auto& got = listener.WaitFor(2, 60s);
  ASSERT_EQ(got.size(), 2u) << daemon_.Log();
  EXPECT_EQ(got[0].test_id, "T-sent");
  EXPECT_EQ(got[0].outcome, kSent);
  EXPECT_EQ(got[0].details, std::vector<std::string>{"group 0: page (SNPP) to 100: delivered"});
  EXPECT_EQ(got[1].test_id, "T-failed");
  EXPECT_EQ(got[1].outcome, kUndeliverable);
  ASSERT_EQ(got[1].details.size(), 2u);
  EXPECT_THAT(got[1].details[0],
              ::testing::StartsWith("group 0: mail (SMTP) to a@example.org: failed: "));
  EXPECT_THAT(got[1].details[0], HasSubstr("127.0.0.1:1"));
  EXPECT_EQ(got[1].details[1], "group 0: page (SNPP) to 100: delivered");

  // The same story in the daemon's lines, each with its time and object.
  const std::string object = path.substr(std::string(kRoot).size() + 1);
  const std::string log = LogWith("request T-failed: Message Undeliverable");
  const std::string stamp = R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z qznotesd: )";
  const std::string who = stamp + object + ": request ";
  const char* expected[] = {
      "group 0: page \\(SNPP\\) to 100: delivered",
      "Message Sent",
  };
  for (const char* line : expected)
    EXPECT_TRUE(std::regex_search(log, std::regex("(^|\n)" + who + "T-sent: " + line + "\n")))
        << line << "\n"
        << log;
  EXPECT_TRUE(std::regex_search(
      log,
      std::regex(
          "(^|\n)" + who +
          "T-failed: group 0: mail \\(SMTP\\) to a@example.org: failed: [^\n]*127\\.0\\.0\\.1:1")))
      << log;
  EXPECT_TRUE(std::regex_search(
      log, std::regex("(^|\n)" + who + "T-failed: Message Undeliverable\\. See QzNotesLog")))
      << log;
  // The log file's entry is the behaviour's, untouched by the tracing.
  EXPECT_THAT(folder_.Read("QzNotesLog.log"), HasSubstr("Mail Status: "));
  EXPECT_THAT(folder_.Read("QzNotesLog.log"), ::testing::Not(HasSubstr("group 0")));
}

TEST_F(DeliveryTrace, WatchPrintsTheDeliveryAsJson) {
  CliProcess watch({"--address", bus_.address(), "watch", "--json", "--count", "1"});
  for (int i = 0; i < 1000 && watch.ErrSoFar().find("watching") == std::string::npos; ++i)
    std::this_thread::sleep_for(20ms);
  ASSERT_THAT(watch.ErrSoFar(), HasSubstr("watching deliveries of org.qznotes.QzNotes"));
  const std::string path = client_.Create();
  ASSERT_EQ(Send(path, "T-watch").Print(), "(<'Notes Server: Asynch mode'>,)");
  CliResult result = watch.Wait(60s);
  ASSERT_EQ(result.status, 0) << result.Describe() << daemon_.Log();
  EXPECT_EQ(result.out,
            "{\"testId\":\"T-watch\",\"outcome\":\"Message Sent\","
            "\"details\":[\"group 0: page (SNPP) to 100: delivered\"]}\n");
}

TEST_F(DeliveryTrace, SettingsWritesNameTheirCaller) {
  const std::string path = client_.Create();
  Answer answer =
      client_.Call(path, kNotify, "gblnSetPagerSettingsEx",
                   g_variant_new_parsed("('SNPP Paging Service', <[<'TCPPort=444'>]>)"));
  ASSERT_EQ(answer.Print(), "(true,)");
  const std::string unique = g_dbus_connection_get_unique_name(client_.connection());
  const std::string expected =
      "settings write gblnSetPagerSettingsEx SNPP Paging Service: True by uid " +
      std::to_string(getuid()) + " pid " + std::to_string(getpid()) + " name " + unique;
  EXPECT_THAT(LogWith(expected), HasSubstr(expected));
  EXPECT_THAT(daemon_.Log(), ::testing::Not(HasSubstr("TCPPort=444")))
      << "values stay out of the log";
}

TEST_F(DeliveryTrace, FactoryPathListsWhatItAnswers) {
  Answer xml = client_.Call(kRoot, "org.freedesktop.DBus.Introspectable", "Introspect", nullptr);
  ASSERT_TRUE(xml.ok()) << xml.Print();
  const char* text = nullptr;
  g_variant_get(xml.value.get(), "(&s)", &text);
  GError* error = nullptr;
  GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(text, &error);
  ASSERT_NE(node, nullptr) << (error ? error->message : "");
  GDBusInterfaceInfo* notify = g_dbus_node_info_lookup_interface(node, kNotify);
  ASSERT_NE(notify, nullptr) << text;
  EXPECT_NE(g_dbus_interface_info_lookup_method(notify, "SendMessageCallBackEx"), nullptr);
  EXPECT_NE(g_dbus_interface_info_lookup_method(notify, "gvarGetPagerSettingsEx"), nullptr);
  GDBusInterfaceInfo* dispatch = g_dbus_node_info_lookup_interface(node, kDispatch);
  ASSERT_NE(dispatch, nullptr) << text;
  EXPECT_NE(g_dbus_interface_info_lookup_method(dispatch, "Invoke"), nullptr);
  GDBusInterfaceInfo* monitor = g_dbus_node_info_lookup_interface(node, kMonitor);
  ASSERT_NE(monitor, nullptr) << text;
  GDBusSignalInfo* delivered = g_dbus_interface_info_lookup_signal(monitor, "Delivered");
  ASSERT_NE(delivered, nullptr);
  GDBusArgInfo** args = delivered->args;
  ASSERT_TRUE(args[0] && args[1] && args[2] && !args[3]);
  EXPECT_EQ(std::string(args[0]->signature) + args[1]->signature + args[2]->signature, "ssas");
  g_dbus_node_info_unref(node);
}

// The README's one-shot Invoke line, as written (with the test bus's address).
TEST_F(DeliveryTrace, BusctlInvokesOnTheFactoryPath) {
  if (access("/usr/bin/busctl", X_OK) != 0) GTEST_SKIP() << "needs busctl";
  CliResult result = CliProcess({"--address=" + bus_.address(), "call", "org.qznotes.QzNotes",
                                 "/org/qznotes/QzNotes", "org.qznotes.QzNotes.IDispatch", "Invoke",
                                 "iav", "0x60030026", "1", "n", "1"},
                                std::nullopt, "/usr/bin/busctl")
                         .Wait(60s);
  ASSERT_EQ(result.status, 0) << result.Describe();
  EXPECT_THAT(result.out, ::testing::StartsWith("vav av 3 s \"TCPPort=" + sim_.PortText() + "\""));
  // An identifier no operation has answers 438, as on an object.
  Answer unknown = client_.Call(kRoot, kDispatch, "Invoke", g_variant_new_parsed("(1, @av [])"));
  EXPECT_EQ(unknown.error, "org.qznotes.QzNotes.Error.E438") << unknown.Print();
}

}  // namespace
}  // namespace qz::testing
