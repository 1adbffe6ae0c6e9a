// The limits one connection is held to, on the real daemon started with
// small ones: at each limit the call is taken, one past it is answered
// LimitsExceeded naming the limit, and nothing else changes.
#include <netinet/in.h>
#include <sys/socket.h>

#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "daemon_harness.h"
#include "support/child_process.h"

namespace qz::testing {
namespace {

using ::testing::HasSubstr;

constexpr const char* kLimitsExceeded = "org.freedesktop.DBus.Error.LimitsExceeded";

// A loopback listener that accepts nothing: an SNPP run that reaches it
// waits for a greeting until the listener closes and resets it.
class SilentGateway {
 public:
  SilentGateway() { fd_ = ListenOnLoopback(16, port_); }
  ~SilentGateway() { Close(); }
  void Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }
  // Makes it the default gateway of the folder: every run waits on it.
  void Serve(const ProgramFolder& folder) const {
    std::string text = folder.Read("QzNotes.ini");
    std::ofstream(folder.path() / "QzNotes.ini", std::ios::binary)
        << std::regex_replace(text, std::regex("\nIndex=0"), "\nIndex=1");
    std::ofstream(folder.path() / "QzSNPP.ini", std::ios::binary)
        << "[SNPP Paging Service]\nTCPPort=" << port_ << "\nHostName=127.0.0.1\nTimeout=600\n";
  }

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
};

void ExpectRefused(const Answer& answer, const char* limit, const std::string& why) {
  EXPECT_EQ(answer.error, kLimitsExceeded) << why << ": " << answer.Print();
  EXPECT_THAT(answer.message, HasSubstr(std::string("limit ") + limit + " (")) << why;
}

// A request whose pager list holds `extra` more numbers in its one message.
Answer SendWide(Client& client, const std::string& path, const char* test_id, int extra) {
  std::string pagers = "<[<[<[<'1'>";
  for (int i = 0; i < extra; ++i) pagers += ", <'1'>";
  pagers += "]>]>]>";
  return client.Call(
      path, kNotify, "SendMessageCallBack",
      g_variant_new("(@v@v@v@v(so)s)", OneGroup("x"), Marker(0),
                    g_variant_new_parsed(pagers.c_str()), Marker(0), "", "/callback", test_id));
}

TEST(ConnectionLimits, ObjectsPerConnection) {
  PrivateBus bus;
  ProgramFolder folder;
  Daemon daemon(bus, folder.path(), {"--max-objects", "2"});
  Client client(bus), other(bus);
  ASSERT_FALSE(client.Create().empty());
  ASSERT_FALSE(client.Create().empty());
  ExpectRefused(client.Call(kRoot, "org.qznotes.QzNotes.ClassFactory", "CreateObject",
                            g_variant_new("(s)", "QzNotes.cNotify")),
                "max-objects", "the third object");
  EXPECT_FALSE(other.Create().empty()) << "another connection has its own count";
  // A caller that keeps at it does not get a line per refusal.
  for (int i = 0; i < 20; ++i) client.Create();
  const std::string log = daemon.Log();
  size_t lines = 0;
  for (size_t at = log.find("limit max-objects (2) exceeded"); at != std::string::npos;
       at = log.find("limit max-objects (2) exceeded", at + 1))
    ++lines;
  EXPECT_GE(lines, 1u);
  EXPECT_LT(lines, 21u / 2) << log;
}

TEST(ConnectionLimits, ElementsAndDepthPerRequestReplaceNothing) {
  PrivateBus bus;
  ProgramFolder folder;
  // One group of one message to one pager is 5 elements, 3 arrays deep.
  Daemon daemon(bus, folder.path(),
                {"--max-elements", "5", "--max-depth", "3", "--max-settings-elements", "5"});
  Client client(bus);
  const std::string path = client.Create();
  ASSERT_EQ(SendRequest(client, path, "T-kept").Text(), "Notes Server: Asynch mode");
  ExpectRefused(SendWide(client, path, "T-wide", 1), "max-elements", "6 elements");
  ExpectRefused(client.Call(path, kNotify, "SendMessageCallBack",
                            g_variant_new("(@v@v@v@v(so)s)", OneGroup("x"), Marker(0),
                                          g_variant_new_parsed("<[<[<[<[<'1'>]>]>]>]>"), Marker(0),
                                          "", "/callback", "T-deep")),
                "max-depth", "4 arrays deep");
  ExpectRefused(client.Call(path, kDispatch, "GetIDsOfNames",
                            g_variant_new_parsed("(['a', 'b', 'c', 'd', 'e', 'f'],)")),
                "max-settings-elements", "a dispatch slot's array");
  // The refused calls replaced nothing: the first request is delivered.
  ASSERT_EQ(client.WaitForCallbacks(1, 60s).size(), 1u) << daemon.Log();
  // Invoke's list of arguments is no array of the request.
  GVariant* invoke_args = g_variant_new_parsed(
      "[<[<[<'x'>]>]>, <byte 0>, <[<[<[<'1'>]>]>]>, <byte 0>, <('', @o '/callback')>, "
      "<'T-invoke'>]");
  Answer invoked =
      client.Call(path, kDispatch, "Invoke", g_variant_new("(i@av)", 0x60030000, invoke_args));
  ASSERT_TRUE(invoked.ok()) << invoked.Print();
  auto callbacks = client.WaitForCallbacks(2, 60s);
  ASSERT_EQ(callbacks.size(), 2u) << daemon.Log();
  EXPECT_EQ(callbacks[0].first, "T-kept");
  EXPECT_EQ(callbacks[1].first, "T-invoke");
  const std::string log = daemon.Log();
  EXPECT_THAT(log, ::testing::Not(HasSubstr("T-wide")));
  EXPECT_THAT(log, ::testing::Not(HasSubstr("T-deep")));
}

TEST(ConnectionLimits, SettingsArrayPastTheElementLimitWritesNothing) {
  PrivateBus bus;
  ProgramFolder folder;
  Daemon daemon(bus, folder.path(), {"--max-settings-elements", "3"});
  Client client(bus);
  const std::string path = client.Create();
  auto set = [&](const char* array) {
    return client.Call(
        path, kNotify, "gblnSetPagerSettingsEx",
        g_variant_new("(s@v)", "Default", g_variant_new_variant(g_variant_new_parsed(array))));
  };
  Answer at = set("[<'A1=a'>, <'A2=b'>, <'A3=c'>]");
  ASSERT_TRUE(at.ok()) << at.Print();
  EXPECT_EQ(PrintedVariant(at.value.get()), "(true,)");
  ExpectRefused(set("[<'B1=a'>, <'B2=b'>, <'B3=c'>, <'B4=d'>]"), "max-settings-elements",
                "4 elements");
  const std::string ini = folder.Read("QzNotes.ini");
  EXPECT_THAT(ini, HasSubstr("A3=c"));
  EXPECT_THAT(ini, ::testing::Not(HasSubstr("B1")));
}

TEST(ConnectionLimits, PendingRequestsPerConnectionUntilTheirRunsEnd) {
  PrivateBus bus;
  ProgramFolder folder;
  SilentGateway gateway;
  gateway.Serve(folder);
  Daemon daemon(bus, folder.path(), {"--max-pending", "2", "--shutdown-grace", "1"});
  Client client(bus), other(bus);
  const std::string a = client.Create(), b = client.Create(), c = client.Create();
  ASSERT_TRUE(SendRequest(client, a, "T-a").ok());
  ASSERT_TRUE(SendRequest(client, b, "T-b").ok());
  // Their runs wait on the gateway: both are still pending.
  ExpectRefused(SendRequest(client, c, "T-c"), "max-pending", "a third request");
  ExpectRefused(SendRequest(client, a, "T-a2"), "max-pending", "a replacement counts too");
  EXPECT_TRUE(SendRequest(other, other.Create(), "T-other").ok()) << "another connection";
  gateway.Close();  // the runs fail and end
  auto callbacks = client.WaitForCallbacks(2, 60s);
  ASSERT_EQ(callbacks.size(), 2u) << daemon.Log();
  EXPECT_THAT((std::vector{callbacks[0].first, callbacks[1].first}),
              ::testing::UnorderedElementsAre("T-a", "T-b"));
  EXPECT_TRUE(SendRequest(client, c, "T-c").ok()) << "an ended run gives its place back";
}

TEST(ConnectionLimits, PendingBytesPerConnection) {
  PrivateBus bus;
  ProgramFolder folder;
  SilentGateway gateway;
  gateway.Serve(folder);
  // The daemon sees the body in the same serialized form.
  VariantPtr body(
      g_variant_ref_sink(g_variant_new("(@v@v@v@v(so)s)", OneGroup("x"), Marker(0), OnePager("1"),
                                       Marker(0), "", "/callback", "T-0")));
  const size_t size = g_variant_get_size(body.get());
  Daemon daemon(bus, folder.path(),
                {"--max-pending-bytes", std::to_string(2 * size), "--shutdown-grace", "1"});
  Client client(bus);
  const std::string a = client.Create(), b = client.Create(), c = client.Create();
  ASSERT_TRUE(SendRequest(client, a, "T-1").ok());
  ASSERT_TRUE(SendRequest(client, b, "T-2").ok()) << "at the limit";
  ExpectRefused(SendRequest(client, c, "T-3"), "max-pending-bytes", "a third request");
  gateway.Close();
  ASSERT_EQ(client.WaitForCallbacks(2, 60s).size(), 2u) << daemon.Log();
  EXPECT_TRUE(SendRequest(client, c, "T-3").ok());
}

}  // namespace
}  // namespace qz::testing
