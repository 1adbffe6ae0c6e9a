// What callers cannot make the real daemon do: post callbacks past the
// system bus's allow-list however the bus was named, or write lines of
// their own into its log.
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "daemon_harness.h"
#include "support/child_process.h"

namespace qz::testing {
namespace {

using ::testing::HasSubstr;

// A loopback listener that never accepts by itself: a callback posted to it
// waits in its queue, so the test sees whether the daemon connected at all.
class Listener {
 public:
  Listener() { fd_ = ListenOnLoopback(4, port_, SOCK_NONBLOCK); }
  ~Listener() { close(fd_); }
  uint16_t port() const { return port_; }
  bool Connected() const {
    const int client = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client >= 0) close(client);
    return client >= 0;
  }
  // HTTP callbacks leave on a worker of their own: an allowed one may
  // connect a little after the apartment has moved on.
  bool ConnectedWithin(std::chrono::milliseconds limit) const {
    pollfd ready{fd_, POLLIN, 0};
    return poll(&ready, 1, static_cast<int>(limit.count())) == 1 && Connected();
  }

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
};

// Sets an environment variable for the daemons started meanwhile.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::optional<std::string>& value) : name_(name) {
    if (const char* old = getenv(name)) old_ = old;
    if (value)
      setenv(name, value->c_str(), 1);
    else
      unsetenv(name);
  }
  ~ScopedEnv() {
    if (old_)
      setenv(name_, old_->c_str(), 1);
    else
      unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

Answer SendToHost(Client& client, const std::string& path, const std::string& host,
                  const char* test_id) {
  return client.Call(
      path, kNotify, "SendMessageCallBackEx",
      g_variant_new("(@v@v@v@v@vs)", OneGroup("x"), Marker(0), OnePager("1"), Marker(0),
                    g_variant_new_variant(g_variant_new_string(host.c_str())), test_id));
}

TEST(CallerLimits, TheAllowListHoldsHoweverTheSystemBusIsNamed) {
  struct Case {
    const char* why;
    bool system_address;  // DBUS_SYSTEM_BUS_ADDRESS names the bus served
    std::vector<std::string> extra;
    bool posted;
  } cases[] = {
      {"a session bus calls any host back", false, {}, true},
      {"--address naming the system bus", true, {}, false},
      {"--system with --address", false, {"--system"}, false},
  };
  for (const Case& c : cases) {
    PrivateBus bus;
    ProgramFolder folder;  // the samples list no allowed hosts
    std::optional<Daemon> daemon;
    {
      ScopedEnv system("DBUS_SYSTEM_BUS_ADDRESS",
                       c.system_address ? std::optional<std::string>(bus.address()) : std::nullopt);
      std::vector<std::string> extra = c.extra;
      extra.insert(extra.end(), {"--apartments", "1"});
      daemon.emplace(bus, folder.path(), extra);
    }
    Listener hooks;
    Client client(bus);
    // One apartment runs both requests in turn: once the second one has
    // called back, the first one's HTTP callback has been refused or queued.
    const std::string first = client.Create(), second = client.Create();
    ASSERT_TRUE(
        SendToHost(client, first, "127.0.0.1:" + std::to_string(hooks.port()), "T-http").ok());
    ASSERT_TRUE(SendRequest(client, second, "T-after").ok());
    ASSERT_EQ(client.WaitForCallbacks(1, 30s).size(), 1u) << c.why << "\n" << daemon->Log();
    EXPECT_EQ(c.posted ? hooks.ConnectedWithin(30s) : hooks.Connected(), c.posted) << c.why;
  }
}

TEST(CallerLimits, CallersTextCannotForgeDaemonLogLines) {
  PrivateBus bus;
  ProgramFolder folder;
  Daemon daemon(bus, folder.path());
  Client client(bus);
  const std::string path = client.Create();
  const char* forged = "T\x1b[2J\nqznotesd: cNotify/9: request X: Message Sent";
  ASSERT_TRUE(SendRequest(client, path, forged).ok());
  ASSERT_EQ(client.WaitForCallbacks(1, 30s).size(), 1u) << daemon.Log();
  const std::string log = daemon.Log();
  EXPECT_THAT(log,
              HasSubstr("request T\\x1b[2J\\x0aqznotesd: cNotify/9: request X: Message Sent: "));
  EXPECT_THAT(log, ::testing::Not(HasSubstr("\nqznotesd: cNotify/9: request X")));
  EXPECT_EQ(log.find('\x1b'), std::string::npos);
}

}  // namespace
}  // namespace qz::testing
