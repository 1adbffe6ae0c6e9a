// The request API against the real daemon with tokens, curl as the client:
// a posted request is paged through the SNPP simulator like a bus request,
// its state and outcome reach its own token (or one with `read`), it counts
// against its token's limits, and hostile bodies are refused with their
// fault while bus callers are still served.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <regex>

#include "cli_runner.h"
#include "daemon_harness.h"
#include "http/front_door.h"
#include "http/token_store.h"
#include "json_reader.h"
#include "support/snpp_sim.h"

namespace qz::testing {
namespace {

using ::testing::HasSubstr;
constexpr const char* kApiCurl = "/usr/bin/curl";

struct ApiFetched {
  long status = 0;
  std::string body;
  std::string Field(const char* name) const {  // a text member; empty when none
    const std::optional<Json> value = JsonReader::Parse(body);
    const Json* member = value ? value->Find(name) : nullptr;
    return member ? member->text : std::string();
  }
};

// One call with the bearer `token`; a body makes it a POST.
ApiFetched FetchApi(const std::string& url, const std::string& token,
                    const std::string& body = {}) {
  TempFolder scratch;
  std::vector<std::string> args{"-sS", "-w", "\n%{http_code}", "-H",
                                "Authorization: Bearer " + token};
  if (!body.empty()) args.insert(args.end(), {"--data-binary", "@" + scratch.Write("body", body)});
  args.push_back(url);
  const std::string out = CliProcess(args, std::nullopt, kApiCurl).Wait(60s).out;
  const size_t cut = out.rfind('\n');
  return {std::atol(out.c_str() + cut + 1), out.substr(0, cut)};
}

// GET /v1/events, written to a file as it arrives, until the holder goes.
struct ApiEvents {
  ApiEvents(const std::string& api, const std::string& token)
      : curl({"-sN", "-o", scratch.File("events"), "-H", "Authorization: Bearer " + token,
              api + "/v1/events"},
             std::nullopt, kApiCurl) {}
  std::string Text() const { return scratch.Read("events"); }
  bool Holds(const std::string& text) const {
    return Eventually([&] { return Text().find(text) != std::string::npos; }, 60s);
  }
  TempFolder scratch;
  CliProcess curl;
};

// Hostile bodies first: nothing of them may be queued.
TEST(RequestApi, RequestsArePagedTracedAndCountedAgainstTheirTokenAndHostileOnesRefused) {
  PrivateBus bus;
  ProgramFolder folder;
  SnppSim snpp("", "127.0.0.1", {"--fail-first", "1"});  // so the request waits for try 2
  folder.UseSnpp(snpp.port(), 10);
  std::ofstream(folder.path() / "QzNotes.ini", std::ios::app)
      << "\n[Delivery]\nAttempts=2\nFirstRetry=8\nMaxDelay=8\n";
  std::vector<TokenEntry> tokens;
  for (const auto& [name, right] : {std::pair{"sender", Right::kSend},
                                    {"other", Right::kSend},
                                    {"reader", Right::kRead},
                                    {"tester", Right::kTest}})
    tokens.push_back({name, TokenHash(name), static_cast<unsigned>(right)});
  const auto token_file = folder.path() / std::string(kTokensFileName);
  std::ofstream(token_file) << TokenFileText(tokens);
  chmod(token_file.c_str(), 0600);
  Daemon daemon(bus, folder.path(),
                {"--listen", "127.0.0.1:0", "--max-pending", "1", "--linger", "60"});
  std::smatch port;
  const std::string log = daemon.Logged("http: serving", 10s) ? daemon.Log() : "";
  ASSERT_TRUE(std::regex_search(log, port, std::regex(R"(serving (http://127\.0\.0\.1:\d+))")));
  const std::string api = port[1].str();
  std::string groups = R"({"groups":[{"messages":[]})";
  for (int i = 1; i < 10000; ++i) groups += R"(,{"messages":["m"]})";
  const struct {
    const char* why;
    std::string body;
    long status;
    std::string says;
  } cases[] = {
      {"2 MiB", std::string(2 << 20, ' '), 413, ""},
      {"malformed", R"({"groups":[)", 400, R"("path":"$")"},
      {"10,000 groups", groups + "]}", 400, "more than 10000 array elements"},
  };
  Client client(bus);
  for (const auto& c : cases) {
    const ApiFetched refused = FetchApi(api + "/v1/requests", "sender", c.body);
    EXPECT_EQ(refused.status, c.status) << c.why << ": " << refused.body;
    EXPECT_THAT(refused.body, HasSubstr(c.says)) << c.why;
    EXPECT_FALSE(client.Create().empty()) << c.why << ": the bus went unanswered";
  }
  EXPECT_THAT(daemon.Log(), ::testing::Not(HasSubstr("SendMessageCallBackEx")));

  ApiEvents everything(api, "reader"), own(api, "other");
  ASSERT_TRUE(everything.Holds(": watching") && own.Holds(": watching")) << daemon.Log();

  const ApiFetched posted = FetchApi(api + "/v1/requests", "sender",
                                     R"({"testId":"T-1","groups":[{"messages":["disk full"],)"
                                     R"("pagers":["5551234"]}]})");
  ASSERT_EQ(posted.status, 202) << posted.body << daemon.Log();
  EXPECT_EQ(posted.Field("status"), "Notes Server: Asynch mode");
  const std::string request = api + "/v1/requests/" + posted.Field("id");
  ASSERT_TRUE(daemon.Logged("next try in", 30s)) << daemon.Log();

  // While it waits: its state, who may read it, and its token's pending limit.
  EXPECT_EQ(FetchApi(request, "sender").Field("state"), "retrying");
  EXPECT_EQ(FetchApi(request, "reader").Field("state"), "retrying");
  EXPECT_EQ(FetchApi(request, "other").status, 404);
  const std::string second = R"({"testId":"T-2","groups":[{"messages":["m"],"pagers":["1"]}]})";
  const ApiFetched over = FetchApi(api + "/v1/requests", "sender", second);
  EXPECT_EQ(over.status, 429) << over.body;
  EXPECT_THAT(over.body, HasSubstr("max-pending"));
  EXPECT_EQ(FetchApi(api + "/v1/requests", "other", second).status, 202);
  const ApiFetched tested = FetchApi(api + "/v1/gateways/1/test", "tester", R"({"number":"42"})");
  EXPECT_EQ(tested.Field("answer"), "250 Message Sent OK\r\n") << tested.body;

  ASSERT_TRUE(everything.Holds("\"testId\":\"T-1\"")) << everything.Text() << daemon.Log();
  const ApiFetched done = FetchApi(request, "sender");
  EXPECT_EQ(done.Field("state"), "delivered") << done.body;
  EXPECT_EQ(done.Field("outcome"), "Message Sent");
  EXPECT_THAT(done.body, HasSubstr(R"("recipients":"5551234","delivered":true)"));
  EXPECT_THAT(everything.Text(), HasSubstr("event: delivered\ndata: " + done.body + "\n"));
  EXPECT_THAT(snpp.Received(), HasSubstr("MESSAGE \"disk full\""));
  // Without `read`, a stream carries the token's own requests alone.
  ASSERT_TRUE(own.Holds("\"testId\":\"T-2\""));
  EXPECT_THAT(own.Text(), ::testing::Not(HasSubstr("T-1")));
}

}  // namespace
}  // namespace qz::testing
