// HTTP callbacks against loopback listeners: what is posted, what raises,
// and which addresses are never connected to.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <string>
#include <tuple>
#include <vector>

#include "automation/run_time_error.h"
#include "components/host_resolver.h"
#include "components/http_callback.h"
#include "components/http_post.h"
#include "platform/unique_fd.h"
#include "support/flooding_peer.h"
#include "support/isolated_network.h"
#include "support/loopback_listener.h"

namespace qz {
namespace {

using namespace std::chrono_literals;
using testing::LoopbackListener;
using Mode = LoopbackListener::Mode;

std::string At(const LoopbackListener& listener) { return "127.0.0.1:" + listener.PortText(); }

// The number CallBack(test_id, message) on the callback for `host` raised;
// 0 when it raised nothing.
int32_t CallBack(const std::string& host, std::chrono::milliseconds limit = 5s,
                 std::vector<Variant> args = {"T-42", "QzNotes: \"Sent\""},
                 std::string_view method = "CallBack") {
  try {
    HttpCallback(ParseCallbackTarget(host).value(), limit).CallMethod(method, args);
  } catch (const RunTimeError& e) {
    return e.number();
  }
  return 0;
}

// Answers every name with `addresses`, recording the names asked.
HostResolver FixedResolver(std::vector<std::string> addresses, std::vector<std::string>* asked) {
  return [addresses = std::move(addresses), asked](const std::string& host, uint16_t port) {
    asked->push_back(host);
    std::vector<Endpoint> endpoints;
    for (const std::string& a : addresses) endpoints.push_back(*NumericEndpoint(a, port));
    return std::optional<std::vector<Endpoint>>(endpoints);
  };
}

HttpPostResult Post(const std::string& url, HostResolver resolver = {}) {
  return HttpPost({url, {}, "{}", 1s, std::move(resolver)});
}

TEST(CallbackHttp, PostsJsonToTheNamedPath) {
  LoopbackListener receiver(Mode::kHttpOk);
  const std::string paths[] = {"/qzcallback", "/agent/cb?id=7"};
  EXPECT_EQ(CallBack(At(receiver)), 0);
  EXPECT_EQ(CallBack("http://" + At(receiver) + paths[1]), 0);
  const std::vector<std::string> requests = receiver.Received();
  ASSERT_EQ(requests.size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    const std::string& request = requests[i];
    EXPECT_EQ(request.rfind("POST " + paths[i] + " HTTP/1.1\r\n", 0), 0u) << request;
    EXPECT_NE(request.find("\r\nContent-Type: application/json; charset=utf-8\r\n"),
              std::string::npos);
    EXPECT_NE(request.find("\r\nX-QzNotes-Callback: 1\r\n"), std::string::npos);
    EXPECT_EQ(request.find("Expect:"), std::string::npos);
    EXPECT_EQ(request.substr(request.find("\r\n\r\n") + 4),
              R"({"testId":"T-42","message":"QzNotes: \"Sent\""})");
  }
}

TEST(CallbackHttp, FailuresRaise) {
  LoopbackListener elsewhere(Mode::kHttpOk);
  const std::string redirect =
      "HTTP/1.1 307 Status\r\nLocation: http://" + At(elsewhere) + "/\r\nContent-Length: 0\r\n\r\n";
  // kGreetThenHold answers as soon as the connection comes.
  for (auto [mode, answer, why] :
       {std::tuple{Mode::kGreetThenHold,
                   std::string("HTTP/1.1 500 Status\r\nContent-Length: 0\r\n\r\n"), "error status"},
        {Mode::kHold, "", "no answer within the limit"},
        {Mode::kGreetThenHold, redirect, "redirects are not followed"}}) {
    LoopbackListener server(mode, answer);
    EXPECT_EQ(CallBack(At(server), mode == Mode::kHold ? 300ms : 5000ms), kErrInternal) << why;
  }
  EXPECT_EQ(elsewhere.accepted(), 0u);
  const std::string closed = "127.0.0.1:" + std::to_string(testing::FreeLoopbackPort());
  EXPECT_EQ(CallBack(closed), kErrInternal) << "nobody listens";
  EXPECT_EQ(CallBack(closed, 5s, {"x"}), kErrWrongArguments);
  EXPECT_EQ(CallBack(closed, 5s, {"x", "y", "z"}, "callback"), kErrWrongArguments);
  EXPECT_EQ(CallBack(closed, 5s, {"x", "y"}, "gsubAgentCallBack"), kErrNoSuchMember);
}

// A receiver that never stops talking (endless header lines, an endless
// body) makes the call raise within its limit.
TEST(CallbackHttp, FloodingReceiverRaisesWithinTheLimit) {
  using testing::FloodingPeer;
  const std::string ok = "HTTP/1.1 200 OK\r\n";
  for (const std::string& answer : {ok, ok + "\r\n"}) {
    FloodingPeer receiver(FloodingPeer::Kind::kLoopback, {"", answer, "X-Flood: 1\r\n"});
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(CallBack("127.0.0.1:" + receiver.PortText(), 1s), kErrInternal);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    EXPECT_GT(receiver.flooded(), 0u);
  }
}

// Every refused address is refused before anything connects: in a network
// namespace of its own (nothing can leave it), with a loopback listener
// among the addresses a name resolves to. One refused address refuses the
// name, wherever it comes.
TEST(CallbackAddress, RefusedAddressesAreNeverConnectedTo) {
  std::optional<std::string> failures = testing::RunWithoutNetwork([] {
    std::string failures;
    LoopbackListener tripwire(Mode::kHold);
    const std::string port = ":" + tripwire.PortText() + "/", loopback = "127.0.0.1";
    for (auto [url, resolved] :
         {std::pair{"http://169.254.169.254" + port, std::vector<std::string>{}},  // a literal
          {"http://two.test" + port, {loopback, "169.254.169.254"}},
          {"http://two.test" + port, {"fe80::1", loopback}}}) {
      std::vector<std::string> asked;
      HttpPostResult result =
          Post(url, resolved.empty() ? HostResolver{} : FixedResolver(resolved, &asked));
      if (result.error.rfind("address refused: ", 0) != 0)
        failures += url + ": not refused (" + result.error + ")\n";
      if (!resolved.empty() && asked.size() != 1) failures += url + ": resolver not asked\n";
    }
    // A connection made would have waited out its time limit for an answer.
    if (tripwire.accepted() != 0) failures += "something connected\n";
    return failures;
  });
  if (!failures) GTEST_SKIP() << "no network namespace (needs root)";
  EXPECT_EQ(*failures, "");
}

// A name goes to the addresses its lookup vetted, and curl gets no socket
// for any other; literals are their own vetted address.
TEST(CallbackAddress, NamesArePinnedToTheVettedAddresses) {
  LoopbackListener receiver(Mode::kHttpOk);
  std::vector<std::string> asked;
  HttpPostResult result = Post("http://hooks.test:" + receiver.PortText() + "/qzcallback",
                               FixedResolver({"127.0.0.1"}, &asked));
  EXPECT_TRUE(result.ok()) << result.error;
  EXPECT_EQ(asked, std::vector<std::string>{"hooks.test"});
  ASSERT_EQ(receiver.Received().size(), 1u);
  EXPECT_EQ(receiver.Received()[0].rfind("POST /qzcallback HTTP/1.1\r\nHost: hooks.test:", 0), 0u);
  EXPECT_EQ(
      Post("http://127.0.0.2:" + receiver.PortText(), FixedResolver({"127.0.0.1"}, &asked)).error,
      "address refused: not one the host was resolved to");
  // ::1 is its own vetted address: the post reaches a listener there.
  const UniqueFd v6(::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  sockaddr_in6 address{};
  address.sin6_family = AF_INET6, address.sin6_addr = in6addr_loopback;
  socklen_t size = sizeof address;
  auto* any = reinterpret_cast<sockaddr*>(&address);
  if (::bind(v6.get(), any, size) != 0 || ::listen(v6.get(), 1) != 0 ||
      ::getsockname(v6.get(), any, &size) != 0)
    GTEST_SKIP() << "no IPv6 loopback";
  Post("http://[::1]:" + std::to_string(ntohs(address.sin6_port)) + "/");  // never answered
  const UniqueFd client(::accept4(v6.get(), nullptr, nullptr, SOCK_CLOEXEC));
  EXPECT_TRUE(client) << "::1 was not connected to";
}

}  // namespace
}  // namespace qz
