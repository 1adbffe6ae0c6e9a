// The gateway request component's settings checks and its failure without
// an HTTP answer (a loopback port nobody listens on). Transfers against a
// real server are in the integration tests.
#include "gateways/sms/sms_gateway_request.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "automation/run_time_error.h"
#include "support/child_process.h"

namespace qz {
namespace {

using ::testing::HasSubstr;

// The error a property assignment raises; number 0 when it is accepted.
RunTimeError Assign(SmsGatewayRequest& gateway, const char* name, const Variant& value) {
  try {
    gateway.SetProperty(name, value);
  } catch (const RunTimeError& e) {
    return e;
  }
  return RunTimeError(0, "", "");
}

TEST(SmsGatewayRequest, RefusesSettingsItCannotSendWith) {
  struct Case {
    const char* property;
    Variant value;
    int32_t error;  // 0: accepted
    const char* why;
  } cases[] = {
      {"Protocol", Variant("HTTPS"), 0, "any case"},
      {"Protocol", Variant("ftp"), kErrInvalidCall, "only http and https"},
      {"Protocol", Variant(""), kErrInvalidCall, "empty"},
      {"IPAddress", Variant("gw.example:8080"), 0, "host:port"},
      {"IPAddress", Variant("[::1]:13013"), 0, "IPv6 in brackets"},
      {"IPAddress", Variant("user@host"), kErrInvalidCall, "no credentials"},
      {"IPAddress", Variant("host/path"), kErrInvalidCall, "no path"},
      {"IPAddress", Variant("host\r\nX: y"), kErrInvalidCall, "no line break"},
      {"IPAddress", Variant(""), kErrInvalidCall, "empty"},
      {"Connect", Variant("cgi-bin/sendsms?x=1"), 0, "a path and query"},
      {"Connect", Variant("/a\r\nX-Injected: 1"), kErrInvalidCall, "no line break"},
      {"Connect", Variant("/a b"), kErrInvalidCall, "no blank"},
      {"Access", Variant(int16_t{0}), 0, "direct"},
      {"Access", Variant(int16_t{1}), 0, "environment proxy"},
      {"Access", Variant(int16_t{2}), kErrInvalidCall, "undocumented"},
      {"Access", Variant("x"), kErrTypeMismatch, "no number"},
      {"Method", Variant("post"), 0, "any case"},
      {"Method", Variant("PUT"), kErrInvalidCall, "GET or POST only"},
      {"Method", Variant(""), kErrInvalidCall, "empty"},
      {"Header", Variant(""), 0, "none"},
      {"Header", Variant("X-Api-Key: k\r\nX-Trace: 1\r\n"), 0, "two lines"},
      {"Header", Variant("no colon here"), kErrInvalidCall, "not Name: value"},
      {"Header", Variant(": value"), kErrInvalidCall, "no name"},
      {"Header", Variant("Bad Name: v"), kErrInvalidCall, "a blank in the name"},
      {"Header", Variant("X-A: 1\nX-B: 2"), kErrInvalidCall, "bare LF smuggles a line"},
      {"Header", Variant("X-A: 1\rX-B: 2"), kErrInvalidCall, "bare CR smuggles a line"},
      {"Accept", Variant("text/plain"), 0, "a media type"},
      {"Accept", Variant("a\r\nb: c"), kErrInvalidCall, "one line"},
      {"Nonsense", Variant("x"), kErrNoSuchMember, "no such property"},
  };
  for (const Case& c : cases) {
    SmsGatewayRequest gateway;
    RunTimeError e = Assign(gateway, c.property, c.value);
    EXPECT_EQ(e.number(), c.error) << c.property << ": " << c.why;
    if (e.number() == kErrInvalidCall) {
      EXPECT_THAT(e.description(), HasSubstr(c.property)) << c.why;
    }
  }
}

TEST(SmsGatewayRequest, NoAnswerRaisesNamingWhatAndWhere) {
  const uint16_t port = testing::FreeLoopbackPort();  // nobody listens there
  SmsGatewayRequest gateway({std::chrono::seconds(20), std::chrono::seconds(30), 64 * 1024, {}});
  gateway.SetProperty("Protocol", Variant("http"));
  gateway.SetProperty("IPAddress", Variant("127.0.0.1:" + std::to_string(port)));
  gateway.SetProperty("Connect", Variant("/send"));
  gateway.SetProperty("Access", Variant(int16_t{0}));
  gateway.SetProperty("Method", Variant("GET"));
  std::array<Variant, 2> args{Variant::Array({Variant()}), Variant::Array({Variant("to=1")})};
  try {
    gateway.CallMethod("SendRequest", args);
    FAIL() << "no error raised";
  } catch (const RunTimeError& e) {
    EXPECT_EQ(e.number(), kErrGatewayTransport);
    EXPECT_EQ(e.source(), kSmsGatewaySource);
    EXPECT_THAT(e.description(), HasSubstr("No answer from the SMS gateway at http://127.0.0.1:" +
                                           std::to_string(port) + "/send: "));
    EXPECT_THAT(e.description(), Not(HasSubstr("to=1"))) << "the request text may hold credentials";
  }
}

TEST(SmsGatewayRequest, SendRequestNeedsItsSettingsAndTwoArguments) {
  SmsGatewayRequest gateway;
  std::array<Variant, 2> args{Variant::Array({Variant()}), Variant::Array({Variant("x")})};
  EXPECT_THROW(gateway.CallMethod("SendRequest", args), RunTimeError) << "nothing configured";
  try {
    gateway.CallMethod("SendRequest", std::span<Variant>(args).first(1));
    FAIL();
  } catch (const RunTimeError& e) {
    EXPECT_EQ(e.number(), kErrWrongArguments);
  }
}

}  // namespace
}  // namespace qz
