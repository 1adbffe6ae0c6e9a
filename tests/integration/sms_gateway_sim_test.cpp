// The gateway request component against the scripted gateway on loopback:
// what goes on the wire for GET and POST, connection reuse, and every answer
// a real gateway seldom gives on demand (no body, 10 MB, reset, slow,
// redirect, invalid UTF-8, a self-signed certificate).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <memory>
#include <set>
#include <string>

#include "automation/run_time_error.h"
#include "gateways/sms/sms_gateway_request.h"
#include "json_reader.h"
#include "support/gateway_sim.h"

namespace qz::testing {
namespace {

using ::testing::HasSubstr;

// A component sending to `address` + `path`.
std::unique_ptr<SmsGatewayRequest> Configured(const std::string& address, const char* path,
                                              const char* method = "GET", int16_t access = 0,
                                              SmsGatewayLimits limits = {},
                                              const char* protocol = "http") {
  auto gateway = std::make_unique<SmsGatewayRequest>(std::move(limits));
  gateway->SetProperty("Protocol", protocol);
  gateway->SetProperty("IPAddress", address);
  gateway->SetProperty("Connect", path);
  gateway->SetProperty("Access", access);
  gateway->SetProperty("Method", method);
  gateway->SetProperty("Header", "X-Api-Key: k1\r\nX-Trace: t");
  gateway->SetProperty("Accept", "text/plain");
  return gateway;
}

// The answer to `text`, or "raised: " and the description of the error.
std::string Send(SmsGatewayRequest& gateway, const std::string& text = "to=1") {
  std::array<Variant, 2> args{Variant::Array({Variant()}), Variant::Array({text})};
  try {
    return gateway.CallMethod("SendRequest", args).Text();
  } catch (const RunTimeError& e) {
    EXPECT_EQ(e.number(), kErrGatewayTransport);
    EXPECT_EQ(e.source(), kSmsGatewaySource);
    EXPECT_EQ(e.description().find(text), std::string::npos) << "it may hold credentials";
    return "raised: " + e.description();
  }
}

std::string Member(const Json* j, const char* key) {
  const Json* m = j ? j->Find(key) : nullptr;
  return m ? m->text : "";
}

class SmsGatewaySimTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { sim_ = std::make_unique<GatewaySim>(); }
  static void TearDownTestSuite() { sim_.reset(); }
  static std::vector<Json> Requests() {
    std::vector<Json> requests;
    for (const std::string& line : sim_->Requests())
      requests.push_back(JsonReader::Parse(line).value_or(Json{}));
    return requests;
  }
  static inline std::unique_ptr<GatewaySim> sim_;
};

TEST_F(SmsGatewaySimTest, GetSendsAQueryStringPostAFormBody) {
  const std::string text = "to=%2B4412&from=Monitor&text=Hi+there&left=152&go=1";
  const struct {
    const char *path, *method;
    std::string text, query, body;
  } cases[] = {
      {"/cgi-bin/sendsms", "GET", text, text, ""},
      // Only what a URL cannot carry is encoded: blanks, "#", controls, non-ASCII.
      {"/cgi-bin/sendsms", "GET", "to=%2B44123 456&text=a&b=c+50%#1 h\xC3\xA9\x01",
       "to=%2B44123%20456&text=a&b=c+50%%231%20h%C3%A9%01", ""},
      {"/send?account=7", "POST", text, "account=7", text},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Send(*Configured(sim_->address(), c.path, c.method), c.text),
              "0: Accepted for delivery");
    const Json r = Requests().back();
    const Json* headers = r.Find("headers");
    EXPECT_EQ(Member(&r, "method"), c.method);
    EXPECT_EQ(Member(&r, "path"), std::string(c.path).substr(0, std::string(c.path).find('?')));
    EXPECT_EQ(Member(&r, "query"), c.query);
    EXPECT_EQ(Member(&r, "body"), c.body);
    EXPECT_EQ(Member(headers, "Accept"), "text/plain");
    EXPECT_EQ(Member(headers, "X-Api-Key"), "k1");
    EXPECT_EQ(Member(headers, "X-Trace"), "t");
    EXPECT_EQ(Member(headers, "Content-Type"),
              c.body.empty() ? "" : "application/x-www-form-urlencoded");
  }
}

TEST_F(SmsGatewaySimTest, EveryNumberOfOneComponentReusesTheConnection) {
  auto gateway = Configured(sim_->address(), "/again");
  for (int i = 0; i < 3; ++i) Send(*gateway);
  std::set<double> ports;
  for (const Json& r : Requests())
    if (Member(&r, "path") == "/again") ports.insert(r.Find("client_port")->number);
  EXPECT_EQ(ports.size(), 1u);
}

TEST_F(SmsGatewaySimTest, AnswersAreBodiesWhateverTheStatusOrNoAnswerRaises) {
  const std::string at = "raised: No answer from the SMS gateway at http://" + sim_->address();
  const struct {
    const char* path;
    std::string answer;
    const char* why;
  } cases[] = {
      {"/status/403", "Refused: status 403", "the gateway's own words on an error status"},
      {"/empty", "", "an empty body answers the empty text"},
      {"/big", std::string(64 * 1024, 'x'), "the body is cut at 64 KiB"},
      {"/redirect", "moved", "redirects are not followed (to /ok)"},
      {"/invalid", "Accepted \xEF\xBF\xBD\xEF\xBF\xBD for\xEF\xBF\xBD delivery \xEF\xBF\xBD",
       "invalid UTF-8 and NUL become U+FFFD"},
      {"/reset", at + "/reset: ", "a reset"},
      {"/slow", at + "/slow: ", "no answer within the limit"},
  };
  for (const auto& c : cases) {
    auto gateway = Configured(sim_->address(), c.path, "GET", 0,
                              {std::chrono::seconds(10), std::chrono::seconds(4)});
    for (int i = 0; i < 2; ++i) {  // the handle stays usable
      const std::string answer = Send(*gateway);
      EXPECT_EQ(answer.starts_with("raised: ") ? answer.substr(0, c.answer.size()) : answer,
                c.answer)
          << c.why;
    }
  }
}

TEST(SmsGatewayPeers, IPv6ProxyAndTls) {
  GatewaySim v6("::1");
  EXPECT_EQ(Send(*Configured(v6.address(), "/v6", "POST")), "0: Accepted for delivery");
  EXPECT_EQ(v6.Requests().size(), 1u);

  // Access 1 takes the proxy from the environment; Access 0 ignores it.
  GatewaySim proxy;
  const std::string nobody = "127.0.0.1:" + std::to_string(FreeLoopbackPort());
  struct SavedEnv {
    ~SavedEnv() {
      unsetenv("http_proxy");
      if (!no_proxy.empty()) setenv("no_proxy", no_proxy.c_str(), 1);
    }
    std::string no_proxy = getenv("no_proxy") ? getenv("no_proxy") : "";
  } restore;
  setenv("http_proxy", ("http://" + proxy.address()).c_str(), 1);
  unsetenv("no_proxy");
  EXPECT_EQ(Send(*Configured(nobody, "/through-proxy", "GET", 1)), "0: Accepted for delivery");
  ASSERT_EQ(proxy.Requests().size(), 1u);
  EXPECT_THAT(proxy.Requests()[0], HasSubstr(nobody)) << "the proxy was asked for the gateway";
  EXPECT_THAT(Send(*Configured(nobody, "/direct")), HasSubstr(nobody + "/direct: "));
  EXPECT_EQ(proxy.Requests().size(), 1u);

  GatewaySim tls("127.0.0.1", true);
  EXPECT_THAT(Send(*Configured(tls.address(), "/ok", "GET", 0, {}, "https")),
              AllOf(HasSubstr("https://" + tls.address() + "/ok: "), HasSubstr("certificate")));
  const SmsGatewayLimits trusting{.ca_file = tls.certificate()};
  EXPECT_EQ(Send(*Configured(tls.address(), "/ok", "GET", 0, trusting, "https")),
            "0: Accepted for delivery");
}

}  // namespace
}  // namespace qz::testing
