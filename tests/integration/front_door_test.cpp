// The HTTP front door with curl as the client: the listener's routes,
// captures, late answers from other threads and streams on a real
// SoupServer; then qznotesd itself over TLS with tokens that `qznotes
// tokens` made, and every refusal the door answers.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <regex>
#include <thread>

#include "cli_runner.h"
#include "daemon_harness.h"
#include "http/http_listener.h"
#include "http/token_store.h"

namespace qz::testing {
namespace {

constexpr const char* kCurl = "/usr/bin/curl";

struct Fetched {
  int status = 0;
  std::string head;  // the answer's status line and headers
  std::string body;
};

// One curl run: `extra` are curl's own arguments before the URL.
Fetched Curl(const std::string& url, std::vector<std::string> extra = {}) {
  TempFolder scratch;
  std::vector<std::string> args = {
      "-sS", "-D", scratch.File("head"), "-o", scratch.File("body"), "-w", "%{http_code}"};
  args.insert(args.end(), extra.begin(), extra.end());
  args.push_back(url);
  const CliResult run = CliProcess(args, std::nullopt, kCurl).Wait(30s);
  return {std::atoi(run.out.c_str()), scratch.Read("head"), scratch.Read("body")};
}

bool NoCurl() {
  if (std::filesystem::exists(kCurl)) return false;
  if (geteuid() == 0) ADD_FAILURE() << kCurl << " is missing (scripts/setup installs it)";
  return true;
}

// A token file with one token per right set, mode 0600.
std::string WriteTokens(const TempFolder& folder,
                        const std::vector<std::pair<std::string, unsigned>>& tokens) {
  std::vector<TokenEntry> entries;
  for (const auto& [token, rights] : tokens)
    entries.push_back({"t-" + token, TokenHash(token), rights});
  const std::string path = folder.Write(kTokensFileName, TokenFileText(entries));
  chmod(path.c_str(), 0600);
  return path;
}

TEST(FrontDoor, RoutesAnswerLateFromAnyThreadAndStreamsEndWithTheirClient) {
  if (NoCurl()) GTEST_SKIP() << "no curl";
  TempFolder folder;
  TokenStore tokens(WriteTokens(folder, {{"sender", unsigned(Right::kSend)}}), {});
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

}  // namespace
}  // namespace qz::testing
