// The HTTP front door with curl as the client: the listener's routes,
// captures, late answers from other threads and streams on a real
// SoupServer; then qznotesd itself over TLS with tokens that `qznotes
// tokens` made, and every refusal the door answers.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <array>
#include <atomic>
#include <thread>

#include "http/http_listener.h"
#include "http/token_store.h"
#include "https_daemon.h"

namespace qz::testing {
namespace {

constexpr const char* kCurl = "/usr/bin/curl";

TEST(FrontDoor, RoutesAnswerLateFromAnyThreadAndStreamsEndWithTheirClient) {
  if (ToolMissing(kCurl)) GTEST_SKIP() << "no curl";
  TempFolder folder;
  const std::string file = folder.Write(
      kTokensFileName, TokenFileText({{"t-sender", TokenHash("sender"), unsigned(Right::kSend)}}));
  chmod(file.c_str(), 0600);
  TokenStore tokens(file, {});
  HttpListener listener;
  listener.UseTokens(&tokens);
  listener.AddRoute("POST", "/v1/echo/{}/x/{}", Needs(Right::kSend),
                    [](ApiCall call, ApiReply reply) {
                      std::thread([call = std::move(call), reply = std::move(reply)] {
                        reply({201, "text/plain",
                               call.captures.at(0) + "|" + call.captures.at(1) + "|" + call.body +
                                   "|" + call.caller.token});
                      }).detach();
                    });
  std::atomic<bool> dropped = false;
  struct Subscription {
    std::atomic<bool>& dropped;
    ~Subscription() { dropped = true; }
  };
  listener.AddStream("/v1/ticks", kAnyToken, [&dropped](const ApiCall&, ChunkSink sink) {
    std::thread([sink] { sink("data: one\n\n"); }).detach();
    return std::make_shared<Subscription>(dropped);
  });
  std::string bound;
  ASSERT_TRUE(listener.Start({"127.0.0.1", 0}, bound).ok());
  const std::string base = "http://" + bound;

  const Fetched echo =
      Curl(base + "/v1/echo/a%20b/x/7", {"-d", "hello", "-H", "Authorization: Bearer sender"});
  EXPECT_EQ(echo.status, 201) << echo.body;
  EXPECT_EQ(echo.body, "a b|7|hello|t-sender");

  const Fetched stream =
      Curl(base + "/v1/ticks", {"-N", "--max-time", "3", "-H", "Authorization: Bearer sender"});
  EXPECT_NE(stream.head.find("text/event-stream"), std::string::npos) << stream.head;
  EXPECT_EQ(stream.body, "data: one\n\n");
  EXPECT_TRUE(Eventually([&] { return dropped.load(); }, 10s)) << "the subscription stayed";
}

// A client that sent `request` to 127.0.0.1:`port`: what the server sent
// until it closed or sent `until`, waiting at most 30 s for each read.
struct RawClient {
  RawClient(uint16_t port, const std::string& request, std::string_view until = {}) {
    sockaddr_in address = LoopbackAddress(port);
    connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    pollfd readable{fd, POLLIN, 0};
    char buffer[1024];
    while (!closed && (until.empty() || got.find(until) == std::string::npos) &&
           poll(&readable, 1, 30000) == 1) {
      const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
      closed = n <= 0;
      got.append(buffer, static_cast<size_t>(std::max<ssize_t>(n, 0)));
    }
  }
  ~RawClient() { close(fd); }
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  bool closed = false;
  std::string got;
};

TEST(FrontDoor, QuietConnectionsAreClosedAndTheCapHoldsStreamsToo) {
  HttpListener listener;
  listener.UseConnectionLimits({.idle_seconds = 1, .headers_seconds = 1, .max_connections = 3});
  listener.AddHandler("/v1/health", [] { return HttpAnswer{200, "text/plain", "up"}; });
  listener.AddStream("/v1/ticks", kPublicAccess, [](const ApiCall&, ChunkSink sink) {
    sink(": open\n\n");
    return std::make_shared<int>();
  });
  std::string bound;
  ASSERT_TRUE(listener.Start({"127.0.0.1", 0}, bound).ok());
  const auto port = static_cast<uint16_t>(std::stoi(bound.substr(bound.rfind(':') + 1)));
  const std::string health = "GET /v1/health HTTP/1.1\r\nHost: t\r\n\r\n";
  const std::string ticks = "GET /v1/ticks HTTP/1.1\r\nHost: t\r\n\r\n";
  // A stream is no idle connection: it outlives the quiet ones below.
  std::vector<std::unique_ptr<RawClient>> streams;
  auto open_stream = [&] {
    streams.push_back(std::make_unique<RawClient>(port, ticks, ": open"));
    if (streams.back()->got.find(": open") != std::string::npos) return true;
    streams.pop_back();
    return false;
  };
  ASSERT_TRUE(open_stream());
  for (const auto& [why, sends, answer] : std::vector<std::array<std::string, 3>>{
           {"a new connection that sends nothing", "", ""},
           {"a kept connection, quiet after its answer", health, "HTTP/1.1 200"}}) {
    const RawClient quiet(port, sends);
    EXPECT_EQ(std::pair(quiet.closed, quiet.got.substr(0, 12)), std::pair(true, answer)) << why;
  }
  char peek = 0;  // 0: the server closed it
  EXPECT_NE(recv(streams[0]->fd, &peek, 1, MSG_DONTWAIT | MSG_PEEK), 0) << "the stream was closed";

  // Three streams fill the cap (the quiet ones may take a moment to be let
  // go): one more connection is answered 503 or closed before its request,
  // and one more goes through once a stream has gone.
  while (streams.size() < 3) ASSERT_TRUE(Eventually(open_stream, 10s));
  const RawClient over(port, health);
  EXPECT_TRUE(over.closed && (over.got.empty() || over.got.starts_with("HTTP/1.1 503")))
      << over.got;
  streams.pop_back();
  EXPECT_TRUE(Eventually(
      [&] { return RawClient(port, health, "up").got.starts_with("HTTP/1.1 200"); }, 10s));
}

TEST(FrontDoor, TheDaemonAnswersOverTlsAndRefusesWhatItMust) {
  if (ToolMissing(kCurl) || !std::filesystem::exists("/usr/bin/openssl"))
    GTEST_SKIP() << "no curl/openssl";
  // One token may read, one may only send.
  const HttpsDaemon door({{"reader", "read"}, {"sender", "send"}});
  const std::string reader = door.token("reader"), sender = door.token("sender");
  const std::string big = door.scratch().Write("big", std::string(2 * 1024 * 1024, 'x'));
  auto bearer = [](const std::string& token) {
    return std::vector<std::string>{"-H", "Authorization: Bearer " + token};
  };
  struct Row {
    const char* why;
    std::string path;
    std::vector<std::string> curl;
    int status;
    std::string shows;  // in the head or the body
  };
  const std::vector<Row> rows = {
      {"health is public", "/v1/health", {}, 200, R"({"status":"serving"})"},
      {"status with read", "/v1/status", bearer(reader), 200, R"("listeners":["D-Bus )"},
      {"metrics with read", "/metrics", bearer(reader), 200, "# TYPE"},
      {"no token", "/v1/status", {}, 401, "WWW-Authenticate: Bearer"},
      {"metrics need a token here", "/metrics", {}, 401, "application/problem+json"},
      {"a token that is not valid", "/v1/status", bearer(reader + "x"), 401, "not valid"},
      {"a missing right", "/v1/status", bearer(sender), 403, "lacks the right read"},
      {"unknown path", "/v1/nowhere", bearer(reader), 404, "no such path"},
      {"known path, other method", "/v1/health", {"-X", "POST"}, 405, "Allow: GET"},
      {"2 MiB body", "/v1/health", {"--data-binary", "@" + big}, 413, "Content Too Large"},
      {"2 MiB chunked body",
       "/v1/health",
       {"-H", "Authorization: Bearer " + sender, "-H", "Transfer-Encoding: chunked", "-H",
        "Expect:", "--data-binary", "@" + big},
       413,
       "Content Too Large"},
  };
  for (const Row& row : rows) {
    const Fetched got = door.Get(row.path, row.curl);
    EXPECT_EQ(got.status, row.status) << row.why << "\n" << got.head << got.body;
    EXPECT_NE((got.head + got.body).find(row.shows), std::string::npos) << row.why << "\n"
                                                                        << got.head << got.body;
  }
  // The daemon said why it refused, once per client and window.
  EXPECT_NE(door.Log().find("http client 127.0.0.1: refused: no bearer token"), std::string::npos)
      << door.Log();

  // A token file others may read makes every token invalid, and the daemon says why.
  chmod((door.folder() / std::string(kTokensFileName)).c_str(), 0644);
  EXPECT_EQ(door.Get("/v1/status", bearer(reader)).status, 401);
  EXPECT_NE(door.Log().find("refused: its mode is 0644"), std::string::npos) << door.Log();
}

}  // namespace
}  // namespace qz::testing
