// The callback component: which hosts are this machine, how a host becomes a
// URL, which hosts a system bus reaches and how the posted text is escaped;
// then HTTP callbacks against loopback listeners: what is posted, what
// raises, and which addresses are never connected to; and the worker they
// leave on: how many run at once, what waits, what is dropped and named, and
// when it counts as idle.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include "automation/component_registry.h"
#include "automation/run_time_error.h"
#include "components/callback_address.h"
#include "components/callback_service.h"
#include "components/callback_worker.h"
#include "components/host_resolver.h"
#include "components/http_callback.h"
#include "components/http_post.h"
#include "components/json_text.h"
#include "components/local_host.h"
#include "contract/contract.h"
#include "support/child_process.h"
#include "support/flooding_peer.h"
#include "support/isolated_network.h"
#include "support/loopback_listener.h"
#include "support/temp_folder.h"

namespace qz {
namespace {

using namespace std::chrono_literals;
using testing::LoopbackListener;
using Mode = LoopbackListener::Mode;

TEST(CallbackHost, NamesThatMeanThisMachineAndHostsCompletedIntoUrls) {
  for (const char* local : {"", "localhost", "LocalHost", "127.0.0.1", "::1", "BUILD-BOX"})
    EXPECT_TRUE(IsLocalHost(local, "build-box")) << local;
  // A port or a scheme means the HTTP callback.
  for (const char* remote : {"build-box.example.org", "localhost:8080", "http://localhost/",
                             "127.0.0.2", "0:0:0:0:0:0:0:1"})
    EXPECT_FALSE(IsLocalHost(remote, "build-box")) << remote;
  EXPECT_FALSE(IsLocalHost("x", "")) << "an unknown machine name matches nothing but itself";

  // Hosts completed into "url|host"; "exa%7Fmple.org" is refused as a
  // control character once decoded.
  for (auto [host, expected] :
       {std::pair{"Example.ORG:8080", "http://Example.ORG:8080/qzcallback|example.org"},
        {"[::1]:9000", "http://[::1]:9000/qzcallback|::1"},
        {"http://10.0.0.7", "http://10.0.0.7/qzcallback|10.0.0.7"},
        {"https://h.example.org/cb?x=1", "https://h.example.org/cb?x=1|h.example.org"}}) {
    const CallbackTarget target = ParseCallbackTarget(host).value();
    EXPECT_EQ(target.url + "|" + target.host, expected);
  }
  for (const char* refused : {"ftp://example.org/", "http://user:pw@example.org/", "exa mple.org",
                              "example.org\r\nX-Injected: 1", "exa%7Fmple.org", "http://"})
    EXPECT_FALSE(ParseCallbackTarget(refused)) << refused;
}

// The neighbours of 169.254/16 and fe80::/10 are allowed; IPv4 inside IPv6
// is judged as the IPv4 address.
TEST(CallbackAddress, RefusesLinkLocalMulticastAndUnspecified) {
  auto refusal_of = [](const char* address) {
    return AddressRefusal(NumericEndpoint(address, 80).value().sockaddr_ref()).value_or("");
  };
  for (const char* address :
       {"127.0.0.1", "::1", "169.253.255.255", "169.255.0.0", "fec0::1", "::ffff:127.0.0.1"})
    EXPECT_EQ(refusal_of(address), "") << address;
  const std::pair<const char*, const char*> refused[] = {
      {"169.254.0.0", "link-local"},       {"febf:ffff::1", "link-local"},
      {"224.0.0.1", "multicast"},          {"ff02::1", "multicast"},
      {"0.1.2.3", "unspecified"},          {"::", "unspecified"},
      {"255.255.255.255", "broadcast"},    {"::ffff:169.254.169.254", "link-local"},
      {"64:ff9b::a9fe:a9fe", "link-local"}};
  for (auto [address, refusal] : refused) EXPECT_EQ(refusal_of(address), refusal) << address;
}

TEST(CallbackJson, EscapesWhatJsonRequires) {
  for (auto [text, json] : {std::pair<std::string, const char*>{"say \"hi\"", R"("say \"hi\"")"},
                            {"C:\\QzNotes", R"("C:\\QzNotes")"},
                            {"a\r\nb\tc\b\f", R"("a\r\nb\tc\b\f")"},
                            {std::string("nul\0\x1f", 5), R"("nul\u0000\u001f")"},
                            {"\x7f/ Grüße €", "\"\x7f/ Grüße €\""},
                            {"bad\xff!", R"("bad\ufffd!")"},
                            {"cut\xe2\x82", R"("cut\ufffd\ufffd")"}})
    EXPECT_EQ(JsonString(text), json) << text;
}

// The session bus without a connection makes HTTP callbacks only; the
// system bus only to the hosts QzNotes.ini lists, read at every creation.
TEST(CallbackService, FactoryChoosesTheKindOfCallbackAndTheSystemBusFollowsItsList) {
  testing::TempFolder folder;
  ComponentRegistry session, system;
  RegisterCallbackService(session, {});
  RegisterCallbackService(system, {nullptr, true, folder.path(), std::chrono::seconds(5)});
  auto http =
      std::dynamic_pointer_cast<HttpCallback>(session.Create(kCallbackProgId, " example.org:81 "));
  ASSERT_TRUE(http);
  EXPECT_EQ(http->target().url, "http://example.org:81/qzcallback");
  // True when creating raises 429.
  auto refused = [](const ComponentRegistry& registry, const char* host) {
    try {
      registry.Create(kCallbackProgId, host);
    } catch (const RunTimeError& e) {
      return e.number() == kErrCannotCreate;
    }
    return false;
  };
  for (const char* host : {"localhost", "::1", "gopher://example.org"})
    EXPECT_TRUE(refused(session, host)) << host;
  EXPECT_TRUE(refused(system, "http://127.0.0.1:8080/hook")) << "no settings file";
  folder.Write("QzNotes.ini", "[Callback]\nAllowedHosts=hooks.example.org\n");
  EXPECT_FALSE(refused(system, "https://HOOKS.example.org/agent"));
  EXPECT_TRUE(refused(system, "http://hooks.example.org.evil.test/"));
  folder.Write("QzNotes.ini", "[Callback]\nAllowedHosts=\n");
  EXPECT_TRUE(refused(system, "hooks.example.org"));
}

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
    EXPECT_EQ(CallBack("127.0.0.1:" + receiver.PortText(), 1s), kErrInternal);
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
// for any other.
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
}

TEST(CallbackWorker, BoundsWhatRunsAndWaitsAndNamesWhatItDrops) {
  std::mutex mutex;
  std::vector<std::string> log;
  auto lines = [&] {
    std::lock_guard lock(mutex);
    return log;
  };
  std::atomic<int> running = 0, most = 0, done = 0;
  std::promise<void> first, second;
  const std::shared_future<void> first_gate = first.get_future(), second_gate = second.get_future();
  // A job that holds until `gate` opens, counting how many run at once.
  auto job = [&](std::shared_future<void> gate) -> Work {
    return [&, gate] {
      int now = ++running, seen = most;
      while (seen < now && !most.compare_exchange_weak(seen, now)) {
      }
      gate.wait();
      --running;
      ++done;
    };
  };
  std::atomic<bool> idle_called = false;
  std::thread opener;
  {
    CallbackWorker worker({.in_flight = 2, .queued = 3}, [&](std::string_view line) {
      std::lock_guard lock(mutex);
      log.emplace_back(line);
    });
    auto post = [&](const std::shared_future<void>& gate,
                    std::initializer_list<const char*> labels) {
      for (const char* label : labels) EXPECT_TRUE(worker.Post(label, job(gate))) << label;
    };
    post(first_gate, {"a", "b"});
    ASSERT_TRUE(testing::Eventually([&] { return running == 2; }, 30s));
    post(first_gate, {"c", "d", "e"});  // two run and three wait: the queue is full
    EXPECT_FALSE(worker.Post("of request T-9 to http://h/", job(first_gate)));
    EXPECT_THAT(worker.Unfinished(), ::testing::UnorderedElementsAre("a", "b", "c", "d", "e"));
    EXPECT_FALSE(worker.WaitIdle(std::chrono::steady_clock::now()));
    worker.WhenIdle([&] { idle_called = true; });
    first.set_value();
    EXPECT_TRUE(worker.WaitIdle(std::chrono::steady_clock::now() + 60s));
    EXPECT_TRUE(worker.Unfinished().empty());
    bool at_once = false;
    worker.WhenIdle([&] { at_once = true; });
    EXPECT_TRUE(at_once) << "idle now";

    // Stopping drops what waits, naming each, and lets what runs finish:
    // the running ones end only after the others were dropped.
    post(second_gate, {"f", "g"});
    ASSERT_TRUE(testing::Eventually([&] { return running == 2; }, 30s));
    post(second_gate, {"h", "i"});
    opener = std::thread([&] {
      testing::Eventually([&] { return lines().size() >= 3; }, 30s);
      second.set_value();
    });
  }
  opener.join();
  EXPECT_EQ(std::tuple(idle_called.load(), done.load(), most.load()), std::tuple(true, 7, 2));
  EXPECT_THAT(lines(), ::testing::ElementsAre(
                           ::testing::HasSubstr("callback of request T-9 to http://h/ dropped"),
                           ::testing::HasSubstr("callback h not made"),
                           ::testing::HasSubstr("callback i not made")));
}

}  // namespace
}  // namespace qz
