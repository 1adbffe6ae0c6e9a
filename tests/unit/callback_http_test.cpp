#include <gtest/gtest.h>

#include <string>

#include "automation/run_time_error.h"
#include "callback_http_server.h"
#include "components/http_callback.h"
#include "support/child_process.h"

namespace qz {
namespace {

using std::chrono::milliseconds;

HttpCallback CallbackTo(const std::string& host, milliseconds limit = milliseconds(5000)) {
  std::optional<CallbackTarget> target = ParseCallbackTarget(host);
  if (!target) throw std::invalid_argument(host);
  return HttpCallback(*target, limit);
}

void CallBack(HttpCallback& callback, const char* test_id, const char* message) {
  Variant args[] = {Variant(test_id), Variant(message)};
  callback.CallMethod("CallBack", args);
}

TEST(CallbackHttp, PostsJsonToTheNamedPath) {
  struct Case {
    std::string host_suffix;  // after "127.0.0.1:<port>"
    std::string scheme;
    const char* path;
  } cases[] = {
      {"", "", "/qzcallback"},
      {"/agent/cb?id=7", "http://", "/agent/cb?id=7"},
  };
  for (const Case& c : cases) {
    testing::OneRequestHttpServer server;
    HttpCallback callback =
        CallbackTo(c.scheme + "127.0.0.1:" + std::to_string(server.port()) + c.host_suffix);
    ASSERT_NO_THROW(CallBack(callback, "T-42", "QzNotes: Message \"Sent\""));

    const std::string request = server.request();
    EXPECT_EQ(request.rfind(std::string("POST ") + c.path + " HTTP/1.1\r\n", 0), 0u) << request;
    EXPECT_NE(request.find("\r\nContent-Type: application/json; charset=utf-8\r\n"),
              std::string::npos);
    EXPECT_NE(request.find("\r\nX-QzNotes-Callback: 1\r\n"), std::string::npos);
    EXPECT_EQ(request.find("Expect:"), std::string::npos);
    const std::string body = request.substr(request.find("\r\n\r\n") + 4);
    EXPECT_EQ(body, R"({"testId":"T-42","message":"QzNotes: Message \"Sent\""})");
  }
}

TEST(CallbackHttp, FailuresRaise) {
  testing::OneRequestHttpServer elsewhere;
  struct Case {
    int status;  // 0: the server never answers
    std::string headers;
    const char* why;
  } cases[] = {
      {500, "", "an error status"},
      {0, "", "no answer within the limit"},
      {307, "Location: http://127.0.0.1:" + std::to_string(elsewhere.port()) + "/\r\n",
       "redirects are not followed"},
  };
  for (const Case& c : cases) {
    testing::OneRequestHttpServer server(c.status, c.headers);
    const milliseconds limit(c.status == 0 ? 300 : 5000);
    HttpCallback callback = CallbackTo("127.0.0.1:" + std::to_string(server.port()), limit);
    EXPECT_THROW(CallBack(callback, "T", "m"), RunTimeError) << c.why;
  }
  HttpCallback closed = CallbackTo("127.0.0.1:" + std::to_string(testing::FreeLoopbackPort()));
  EXPECT_THROW(CallBack(closed, "T", "m"), RunTimeError) << "nobody listens";
}

TEST(CallbackHttp, ArgumentsAndMembersAreChecked) {
  HttpCallback callback = CallbackTo("127.0.0.1:" + std::to_string(testing::FreeLoopbackPort()));
  struct Case {
    const char* method;
    size_t count;
    int32_t error;
  } cases[] = {
      {"CallBack", 1, kErrWrongArguments},
      {"callback", 3, kErrWrongArguments},
      {"gsubAgentCallBack", 2, kErrNoSuchMember},
  };
  for (const Case& c : cases) {
    std::vector<Variant> args(c.count, Variant("x"));
    try {
      callback.CallMethod(c.method, args);
      ADD_FAILURE() << c.method << " did not raise";
    } catch (const RunTimeError& e) {
      EXPECT_EQ(e.number(), c.error) << c.method << "/" << c.count;
    }
  }
}

}  // namespace
}  // namespace qz
