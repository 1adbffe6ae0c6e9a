// The request API against the real daemon with tokens: a request posted
// over HTTP is paged through the SNPP simulator like a bus request, its
// state and outcome can be read by its own token (or one with `read`), it
// counts against its token's limits, and hostile bodies are refused with
// their fault while bus callers are still served.
#include <curl/curl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <fstream>
#include <mutex>
#include <regex>
#include <thread>

#include "daemon_harness.h"
#include "http/token_store.h"
#include "json_reader.h"
#include "support/snpp_sim.h"

namespace qz::testing {
namespace {

using ::testing::HasSubstr;

struct ApiFetched {
  long status = 0;
  std::string body;
};

size_t CollectApiBody(char* data, size_t size, size_t count, void* into) {
  static_cast<std::string*>(into)->append(data, size * count);
  return size * count;
}

// One call; an empty body sends none (GET).
ApiFetched FetchApi(const std::string& url, const std::string& token,
                    const std::string& body = {}) {
  std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), curl_easy_cleanup);
  curl_slist* headers = curl_slist_append(nullptr, ("Authorization: Bearer " + token).c_str());
  headers = curl_slist_append(headers, "Content-Type: application/json");
  ApiFetched fetched;
  curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl.get(), CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, CollectApiBody);
  curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &fetched.body);
  curl_easy_setopt(curl.get(), CURLOPT_TIMEOUT, 60L);
  if (!body.empty()) {
    curl_easy_setopt(curl.get(), CURLOPT_POSTFIELDS, body.data());
    curl_easy_setopt(curl.get(), CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(body.size()));
  }
  if (curl_easy_perform(curl.get()) == CURLE_OK)
    curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &fetched.status);
  curl_slist_free_all(headers);
  return fetched;
}

// GET /v1/events read on a thread of its own until the test ends it.
class ApiEventStream {
 public:
  ApiEventStream(const std::string& url, const std::string& token)
      : thread_([this, url, token] { Read(url, token); }) {}
  ~ApiEventStream() {
    stop_ = true;
    thread_.join();
  }
  bool Open(std::chrono::milliseconds limit) const {
    return Eventually([&] { return open_.load(); }, limit);
  }
  std::string Text() const {
    std::lock_guard lock(mutex_);
    return text_;
  }
  bool Holds(size_t events, std::chrono::milliseconds limit) const {
    return Eventually(
        [&] {
          const std::string text = Text();
          size_t n = 0;
          for (size_t at = 0; (at = text.find("event: delivered\n", at)) != std::string::npos; ++at)
            ++n;
          return n >= events;
        },
        limit);
  }

 private:
  void Read(const std::string& url, const std::string& token) {
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), curl_easy_cleanup);
    curl_slist* headers = curl_slist_append(nullptr, ("Authorization: Bearer " + token).c_str());
    curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl.get(), CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl.get(), CURLOPT_TIMEOUT, 120L);
    curl_easy_setopt(
        curl.get(), CURLOPT_HEADERFUNCTION, +[](char*, size_t size, size_t count, void* self) {
          static_cast<ApiEventStream*>(self)->open_ = true;
          return size * count;
        });
    curl_easy_setopt(curl.get(), CURLOPT_HEADERDATA, this);
    curl_easy_setopt(
        curl.get(), CURLOPT_WRITEFUNCTION, +[](char* data, size_t size, size_t count, void* self) {
          auto* stream = static_cast<ApiEventStream*>(self);
          std::lock_guard lock(stream->mutex_);
          stream->text_.append(data, size * count);
          return size * count;
        });
    curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, this);
    // Asked a few times a second: the end of the test ends the stream.
    curl_easy_setopt(curl.get(), CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(
        curl.get(), CURLOPT_XFERINFOFUNCTION,
        +[](void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
          return static_cast<ApiEventStream*>(self)->stop_.load() ? 1 : 0;
        });
    curl_easy_setopt(curl.get(), CURLOPT_XFERINFODATA, this);
    curl_easy_perform(curl.get());
    curl_slist_free_all(headers);
  }

  std::atomic<bool> open_{false}, stop_{false};
  mutable std::mutex mutex_;
  std::string text_;
  std::thread thread_;
};

void WriteApiTokens(const ProgramFolder& folder,
                    const std::vector<std::pair<std::string, unsigned>>& tokens) {
  std::vector<TokenEntry> entries;
  for (const auto& [token, rights] : tokens) entries.push_back({token, TokenHash(token), rights});
  const auto path = folder.path() / std::string(kTokensFileName);
  std::ofstream(path) << TokenFileText(entries);
  chmod(path.c_str(), 0600);
}

// The daemon's API address, once it serves.
std::string ApiBase(const Daemon& daemon) {
  EXPECT_TRUE(daemon.Logged("http: serving http://127.0.0.1:", 10s)) << daemon.Log();
  std::smatch port;
  const std::string log = daemon.Log();
  std::regex_search(log, port, std::regex(R"(serving http://127\.0\.0\.1:(\d+))"));
  return "http://127.0.0.1:" + port[1].str();
}

// A text member of the JSON object `json`; empty when there is none.
std::string JsonField(const std::string& json, const char* name) {
  const std::optional<Json> value = JsonReader::Parse(json);
  const Json* member = value ? value->Find(name) : nullptr;
  return member ? member->text : std::string();
}

constexpr unsigned kSendRight = unsigned(Right::kSend);
constexpr unsigned kReadRight = unsigned(Right::kRead);
constexpr unsigned kTestRight = unsigned(Right::kTest);

TEST(RequestApi, APostedRequestIsPagedTracedAndCountedAgainstItsToken) {
  PrivateBus bus;
  ProgramFolder folder;
  // The first page fails, so the request waits for its second try.
  SnppSim snpp("", "127.0.0.1", {"--fail-first", "1"});
  folder.UseSnpp(snpp.port(), 10);
  std::ofstream(folder.path() / "QzNotes.ini", std::ios::app)
      << "\n[Delivery]\nAttempts=2\nFirstRetry=8\nMaxDelay=8\n";
  WriteApiTokens(folder, {{"sender", kSendRight},
                          {"other", kSendRight},
                          {"reader", kReadRight},
                          {"tester", kTestRight}});
  Daemon daemon(bus, folder.path(),
                {"--listen", "127.0.0.1:0", "--max-pending", "1", "--linger", "60"});
  const std::string api = ApiBase(daemon);
  ApiEventStream everything(api + "/v1/events", "reader"), own(api + "/v1/events", "other");
  ASSERT_TRUE(everything.Open(10s) && own.Open(10s));

  const ApiFetched posted = FetchApi(api + "/v1/requests", "sender",
                                     R"({"testId":"T-1","groups":[{"messages":["disk full"],)"
                                     R"("pagers":["5551234"]}]})");
  ASSERT_EQ(posted.status, 202) << posted.body << daemon.Log();
  EXPECT_EQ(JsonField(posted.body, "status"), "Notes Server: Asynch mode");
  const std::string id = JsonField(posted.body, "id");
  ASSERT_TRUE(daemon.Logged("next try in", 30s)) << daemon.Log();

  // While it waits: its state, who may read it, and its token's pending limit.
  const struct {
    const char* token;
    long status;
    std::string state;
  } reads[] = {{"sender", 200, "retrying"}, {"reader", 200, "retrying"}, {"other", 404, ""}};
  for (const auto& r : reads) {
    const ApiFetched got = FetchApi(api + "/v1/requests/" + id, r.token);
    EXPECT_EQ(got.status, r.status) << r.token << ": " << got.body;
    if (r.status == 200) {
      EXPECT_EQ(JsonField(got.body, "state"), r.state) << got.body;
    }
  }
  const std::string second = R"({"testId":"T-2","groups":[{"messages":["m"],"pagers":["1"]}]})";
  const ApiFetched over = FetchApi(api + "/v1/requests", "sender", second);
  EXPECT_EQ(over.status, 429) << over.body;
  EXPECT_THAT(over.body, HasSubstr("max-pending"));
  EXPECT_EQ(FetchApi(api + "/v1/requests", "other", second).status, 202);

  const ApiFetched tested = FetchApi(api + "/v1/gateways/1/test", "tester", R"({"number":"42"})");
  EXPECT_EQ(tested.status, 200) << tested.body;
  EXPECT_EQ(JsonField(tested.body, "answer"), "250 Message Sent OK\r\n");

  ASSERT_TRUE(everything.Holds(2, 60s)) << everything.Text() << daemon.Log();
  const ApiFetched done = FetchApi(api + "/v1/requests/" + id, "sender");
  EXPECT_EQ(JsonField(done.body, "state"), "delivered") << done.body;
  EXPECT_EQ(JsonField(done.body, "outcome"), "Message Sent");
  EXPECT_THAT(done.body, HasSubstr(R"("recipients":"5551234","delivered":true)"));
  EXPECT_THAT(everything.Text(), HasSubstr("data: " + done.body.substr(0, done.body.size() - 1)));
  EXPECT_THAT(snpp.Received(), HasSubstr("MESSAGE \"disk full\""));
  // The other token's stream carries its own request alone.
  ASSERT_TRUE(own.Holds(1, 30s));
  EXPECT_THAT(own.Text(), HasSubstr("\"testId\":\"T-2\""));
  EXPECT_THAT(own.Text(), ::testing::Not(HasSubstr("T-1")));
}

TEST(RequestApi, HostileBodiesAreRefusedWithTheirFaultWhileTheBusIsServed) {
  PrivateBus bus;
  ProgramFolder folder;
  WriteApiTokens(folder, {{"sender", kSendRight}});
  Daemon daemon(bus, folder.path(), {"--listen", "127.0.0.1:0", "--linger", "60"});
  const std::string api = ApiBase(daemon);
  std::string groups = R"({"groups":[)";
  for (int i = 0; i < 10000; ++i) groups += std::string(i ? "," : "") + R"({"messages":["m"]})";
  const struct {
    const char* why;
    std::string body;
    long status;
    std::string says;
  } cases[] = {
      {"2 MiB", std::string(2 << 20, ' '), 413, ""},
      {"malformed", R"({"groups":[)", 400, R"("path":"$")"},
      {"10,000 groups", groups + "]}", 400, "more than 10000 array elements"},
      {"unknown field", R"({"groups":[],"priority":1})", 400, R"("path":"$.priority")"},
  };
  Client client(bus);
  for (const auto& c : cases) {
    const ApiFetched refused = FetchApi(api + "/v1/requests", "sender", c.body);
    EXPECT_EQ(refused.status, c.status) << c.why << ": " << refused.body;
    EXPECT_THAT(refused.body, HasSubstr(c.says)) << c.why;
    EXPECT_FALSE(client.Create().empty()) << c.why << ": the bus went unanswered";
  }
  EXPECT_THAT(daemon.Log(), ::testing::Not(HasSubstr("SendMessageCallBackEx")));
}

}  // namespace
}  // namespace qz::testing
