// The request API against the real daemon with tokens, curl as the client:
// a posted request is paged through the SNPP simulator like a bus request,
// its state and outcome reach its own token (or one with `read`), it counts
// against its token's limits, and hostile bodies are refused with their
// fault while bus callers are still served.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

#include "https_daemon.h"
#include "json_reader.h"
#include "support/snpp_sim.h"

namespace qz::testing {
namespace {

using ::testing::HasSubstr;

// A text member of the JSON answer; empty when none.
std::string Field(const Fetched& got, const char* name) {
  const std::optional<Json> value = JsonReader::Parse(got.body);
  const Json* member = value ? value->Find(name) : nullptr;
  return member ? member->text : std::string();
}

// One call to `door` with the token named `who`; a body makes it a POST.
Fetched FetchApi(const HttpsDaemon& door, const std::string& path, const std::string& who,
                 const std::string& body = {}) {
  TempFolder scratch;
  std::vector<std::string> extra{"-H", "Authorization: Bearer " + door.token(who)};
  if (!body.empty())
    extra.insert(extra.end(), {"--data-binary", "@" + scratch.Write("body", body)});
  return door.Get(path, extra, 60s);
}

// GET /v1/events, written to a file as it arrives, until the holder goes.
struct ApiEvents {
  ApiEvents(const HttpsDaemon& door, const std::string& who)
      : curl({"-sN", "--cacert", door.cert(), "-o", scratch.File("events"), "-H",
              "Authorization: Bearer " + door.token(who), door.url() + "/v1/events"},
             std::nullopt, "/usr/bin/curl") {}
  std::string Text() const { return scratch.Read("events"); }
  bool Holds(const std::string& text) const {
    return Eventually([&] { return Text().find(text) != std::string::npos; }, 60s);
  }
  TempFolder scratch;
  CliProcess curl;
};

// Hostile bodies first: nothing of them may be queued.
TEST(RequestApi, RequestsArePagedTracedAndCountedAgainstTheirTokenAndHostileOnesRefused) {
  SnppSim snpp("", "127.0.0.1", {"--fail-first", "1"});  // so the request waits for try 2
  const HttpsDaemon door(
      {{"sender", "send"}, {"other", "send"}, {"reader", "read"}, {"tester", "test"}},
      [&](const ProgramFolder& folder) {
        folder.UseSnpp(snpp.port(), 10);
        std::ofstream(folder.path() / "QzNotes.ini", std::ios::app)
            << "\n[Delivery]\nAttempts=2\nFirstRetry=8\nMaxDelay=8\n";
      },
      {"--max-pending", "1"});
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
  Client client(door.bus());
  for (const auto& c : cases) {
    const Fetched refused = FetchApi(door, "/v1/requests", "sender", c.body);
    EXPECT_EQ(refused.status, c.status) << c.why << ": " << refused.body;
    EXPECT_THAT(refused.body, HasSubstr(c.says)) << c.why;
    EXPECT_FALSE(client.Create().empty()) << c.why << ": the bus went unanswered";
  }
  EXPECT_THAT(door.Log(), ::testing::Not(HasSubstr("SendMessageCallBackEx")));

  ApiEvents everything(door, "reader"), own(door, "other");
  ASSERT_TRUE(everything.Holds(": watching") && own.Holds(": watching")) << door.Log();

  const Fetched posted = FetchApi(door, "/v1/requests", "sender",
                                  R"({"testId":"T-1","groups":[{"messages":["disk full"],)"
                                  R"("pagers":["5551234"]}]})");
  ASSERT_EQ(posted.status, 202) << posted.body << door.Log();
  EXPECT_EQ(Field(posted, "status"), "Notes Server: Asynch mode");
  const std::string request = "/v1/requests/" + Field(posted, "id");
  ASSERT_TRUE(door.Logged("next try in", 30s)) << door.Log();

  // While it waits: its state, who may read it, and its token's pending limit.
  EXPECT_EQ(Field(FetchApi(door, request, "sender"), "state"), "retrying");
  EXPECT_EQ(Field(FetchApi(door, request, "reader"), "state"), "retrying");
  EXPECT_EQ(FetchApi(door, request, "other").status, 404);
  const std::string second = R"({"testId":"T-2","groups":[{"messages":["m"],"pagers":["1"]}]})";
  const Fetched over = FetchApi(door, "/v1/requests", "sender", second);
  EXPECT_EQ(over.status, 429) << over.body;
  EXPECT_THAT(over.body, HasSubstr("max-pending"));
  EXPECT_EQ(FetchApi(door, "/v1/requests", "other", second).status, 202);
  const Fetched tested = FetchApi(door, "/v1/gateways/1/test", "tester", R"({"number":"42"})");
  EXPECT_EQ(Field(tested, "answer"), "250 Message Sent OK\r\n") << tested.body;

  ASSERT_TRUE(everything.Holds("\"testId\":\"T-1\"")) << everything.Text() << door.Log();
  const Fetched done = FetchApi(door, request, "sender");
  EXPECT_EQ(Field(done, "state"), "delivered") << done.body;
  EXPECT_EQ(Field(done, "outcome"), "Message Sent");
  EXPECT_THAT(done.body, HasSubstr(R"("recipients":"5551234","delivered":true)"));
  EXPECT_THAT(everything.Text(), HasSubstr("event: delivered\ndata: " + done.body + "\n"));
  EXPECT_THAT(snpp.Received(), HasSubstr("MESSAGE \"disk full\""));
  // Without `read`, a stream carries the token's own requests alone.
  ASSERT_TRUE(own.Holds("\"testId\":\"T-2\""));
  EXPECT_THAT(own.Text(), ::testing::Not(HasSubstr("T-1")));
}

}  // namespace
}  // namespace qz::testing
