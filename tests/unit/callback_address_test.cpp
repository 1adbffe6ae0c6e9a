#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "callback_http_server.h"
#include "components/callback_address.h"
#include "components/host_resolver.h"
#include "components/http_post.h"
#include "support/isolated_network.h"

namespace qz {
namespace {

std::optional<std::string_view> RefusalOf(const std::string& address) {
  std::optional<Endpoint> endpoint = NumericEndpoint(address, 80);
  if (!endpoint) throw std::invalid_argument(address);
  return AddressRefusal(endpoint->sockaddr_ref());
}

TEST(CallbackAddress, RefusesLinkLocalMulticastAndUnspecified) {
  struct Case {
    const char* address;
    std::optional<std::string_view> refusal;
  } cases[] = {
      {"127.0.0.1", std::nullopt},
      {"::1", std::nullopt},
      {"192.0.2.10", std::nullopt},
      {"10.1.2.3", std::nullopt},
      {"2001:db8::1", std::nullopt},
      {"169.253.255.255", std::nullopt},  // just below 169.254/16
      {"169.255.0.0", std::nullopt},      // just above
      {"fec0::1", std::nullopt},          // just past fe80::/10
      {"223.255.255.255", std::nullopt},
      {"169.254.169.254", "link-local"},  // cloud metadata
      {"169.254.0.0", "link-local"},
      {"fe80::1", "link-local"},
      {"febf:ffff::1", "link-local"},
      {"224.0.0.1", "multicast"},
      {"239.255.255.250", "multicast"},
      {"ff02::1", "multicast"},
      {"0.0.0.0", "unspecified"},
      {"0.1.2.3", "unspecified"},
      {"::", "unspecified"},
      {"255.255.255.255", "broadcast"},
      {"::ffff:169.254.169.254", "link-local"},  // IPv4-mapped
      {"::ffff:127.0.0.1", std::nullopt},
      {"64:ff9b::a9fe:a9fe", "link-local"},  // NAT64 of 169.254.169.254
  };
  for (const Case& c : cases) EXPECT_EQ(RefusalOf(c.address), c.refusal) << c.address;
}

// A loopback listener that is never accepted from: a connection made to it
// waits in its queue, so the test can tell whether anything connected.
class Tripwire {
 public:
  explicit Tripwire(int family = AF_INET) {
    fd_ = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_storage storage{};
    socklen_t size;
    if (family == AF_INET) {
      auto& v4 = reinterpret_cast<sockaddr_in&>(storage);
      v4.sin_family = AF_INET;
      v4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      size = sizeof v4;
    } else {
      auto& v6 = reinterpret_cast<sockaddr_in6&>(storage);
      v6.sin6_family = AF_INET6;
      v6.sin6_addr = in6addr_loopback;
      size = sizeof v6;
    }
    auto* address = reinterpret_cast<sockaddr*>(&storage);
    if (fd_ < 0 || ::bind(fd_, address, size) != 0 || ::listen(fd_, 4) != 0 ||
        ::getsockname(fd_, address, &size) != 0)
      throw std::runtime_error("cannot listen on loopback");
    port_ = ntohs(reinterpret_cast<sockaddr_in&>(storage).sin_port);
  }
  ~Tripwire() { ::close(fd_); }
  uint16_t port() const { return port_; }
  bool Touched() const {
    const int client = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client >= 0) ::close(client);
    return client >= 0;
  }

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
};

// Answers every name with the given addresses, recording what was asked.
HostResolver FixedResolver(std::vector<std::string> addresses, std::vector<std::string>* asked) {
  return [addresses = std::move(addresses), asked](const std::string& host, uint16_t port) {
    asked->push_back(host);
    std::vector<Endpoint> endpoints;
    for (const std::string& a : addresses) endpoints.push_back(*NumericEndpoint(a, port));
    return std::optional<std::vector<Endpoint>>(endpoints);
  };
}

HttpPostResult Post(const std::string& url, HostResolver resolver = {}) {
  return HttpPost(
      {url, {"X-QzNotes-Callback: 1"}, "{}", std::chrono::seconds(5), std::move(resolver)});
}

// Every refused address is refused before anything connects: in a network
// namespace of its own (nothing can leave it), with a loopback tripwire
// among the addresses a name resolves to.
TEST(CallbackAddress, RefusedAddressesAreNeverConnectedTo) {
  std::optional<std::string> failures = testing::RunWithoutNetwork([] {
    std::string failures;
    Tripwire tripwire;
    const std::string port = std::to_string(tripwire.port());
    const std::string loopback = "127.0.0.1";
    struct Case {
      std::string url;
      std::vector<std::string> resolved;  // empty: the system resolver (literals only)
    } cases[] = {
        {"http://169.254.169.254:" + port + "/latest/meta-data", {}},
        {"http://[fe80::1]:" + port + "/", {}},
        {"http://224.0.0.1:" + port + "/", {}},
        {"http://[ff02::1]:" + port + "/", {}},
        {"http://0.0.0.0:" + port + "/", {}},
        {"http://[::]:" + port + "/", {}},
        {"http://[::ffff:169.254.169.254]:" + port + "/", {}},
        {"http://metadata.test:" + port + "/", {"169.254.169.254"}},
        {"http://two.test:" + port + "/", {loopback, "169.254.169.254"}},
        {"http://two.test:" + port + "/", {"fe80::1", loopback}},
        {"https://group.test:" + port + "/", {loopback, "239.1.2.3"}},
    };
    for (const Case& c : cases) {
      std::vector<std::string> asked;
      HttpPostResult result =
          c.resolved.empty() ? Post(c.url) : Post(c.url, FixedResolver(c.resolved, &asked));
      if (result.error.rfind("address refused: ", 0) != 0)
        failures += c.url + ": not refused (" + result.error + ")\n";
      if (!c.resolved.empty() && asked.size() != 1) failures += c.url + ": resolver not asked\n";
      if (tripwire.Touched()) failures += c.url + ": something connected\n";
    }
    return failures;
  });
  if (!failures) GTEST_SKIP() << "no network namespace (needs root)";
  EXPECT_EQ(*failures, "");
}

TEST(CallbackAddress, NamesArePinnedToTheVettedAddresses) {
  // "hooks.test" resolves nowhere; only the pinned answer gets it to loopback.
  testing::OneRequestHttpServer server;
  std::vector<std::string> asked;
  HttpPostResult result = Post("http://hooks.test:" + std::to_string(server.port()) + "/qzcallback",
                               FixedResolver({"127.0.0.1"}, &asked));
  EXPECT_TRUE(result.ok()) << result.error;
  EXPECT_EQ(asked, std::vector<std::string>{"hooks.test"});
  EXPECT_EQ(server.request().rfind("POST /qzcallback HTTP/1.1\r\nHost: hooks.test:", 0), 0u);
}

TEST(CallbackAddress, CurlGetsNoSocketForAnAddressNotVetted) {
  // The literal 127.0.0.2 is not what the resolver vetted (127.0.0.1): the
  // socket hook refuses it, so nothing reaches the listener on 127.0.0.2.
  Tripwire vetted;
  std::vector<std::string> asked;
  HttpPostResult result = Post("http://127.0.0.2:" + std::to_string(vetted.port()) + "/",
                               FixedResolver({"127.0.0.1"}, &asked));
  EXPECT_EQ(result.error, "address refused: not one the host was resolved to");
  EXPECT_FALSE(vetted.Touched());
}

TEST(CallbackAddress, LoopbackLiteralsAreAllowed) {
  testing::OneRequestHttpServer v4;
  EXPECT_TRUE(Post("http://127.0.0.1:" + std::to_string(v4.port()) + "/").ok());
  const int probe = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (probe < 0) GTEST_SKIP() << "no IPv6";
  ::close(probe);
  Tripwire v6(AF_INET6);  // connected to, never answered: the post times out
  HttpPostRequest request;
  request.url = "http://[::1]:" + std::to_string(v6.port()) + "/";
  request.time_limit = std::chrono::milliseconds(300);
  HttpPostResult result = HttpPost(request);
  EXPECT_EQ(result.error.find("refused"), std::string::npos) << result.error;
  EXPECT_TRUE(v6.Touched()) << "::1 should have been connected to";
}

}  // namespace
}  // namespace qz
