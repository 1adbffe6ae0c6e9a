// The gateway request component against the scripted gateway on loopback:
// what goes on the wire for GET and POST over one connection, and every
// answer a real gateway seldom gives on demand (no body, 10 MB, reset, slow,
// redirect, invalid UTF-8, a self-signed certificate).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <memory>
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

TEST(SmsGatewaySim, GetSendsAQueryStringPostAFormBodyEachOverOneConnection) {
  GatewaySim sim;
  auto get = Configured(sim.address(), "/cgi-bin/sendsms");
  auto post = Configured(sim.address(), "/send?account=7", "POST");
  const std::string text = "to=%2B4412&from=Monitor&text=Hi+there&left=152&go=1";
  const struct {
    SmsGatewayRequest* gateway;
    std::string text, summary;  // method path ?query body
  } cases[] = {
      {get.get(), text, "GET /cgi-bin/sendsms ?" + text + " "},
      // Only what a URL cannot carry is encoded: blanks, "#", controls, non-ASCII.
      {get.get(), "to=%2B44123 456&text=a&b=c+50%#1 h\xC3\xA9\x01",
       "GET /cgi-bin/sendsms ?to=%2B44123%20456&text=a&b=c+50%%231%20h%C3%A9%01 "},
      {post.get(), text, "POST /send ?account=7 " + text},
      {post.get(), "to=2", "POST /send ?account=7 to=2"},
  };
  std::vector<double> ports;
  for (const auto& c : cases) {
    EXPECT_EQ(Send(*c.gateway, c.text), "0: Accepted for delivery");
    const Json r = JsonReader::Parse(sim.Requests().back()).value_or(Json{});
    const auto member = [](const Json& j, const char* key) {
      return j.Find(key) ? j.Find(key)->text : "?";
    };
    EXPECT_EQ(member(r, "method") + " " + member(r, "path") + " ?" + member(r, "query") + " " +
                  member(r, "body"),
              c.summary);
    const Json& headers = r.Find("headers") ? *r.Find("headers") : r;
    EXPECT_EQ(member(headers, "Accept") + member(headers, "X-Api-Key") + member(headers, "X-Trace"),
              "text/plaink1t");
    EXPECT_EQ(member(headers, "Content-Type"),
              c.gateway == post.get() ? "application/x-www-form-urlencoded" : "?");
    ports.push_back(r.Find("client_port") ? r.Find("client_port")->number : -1);
  }
  EXPECT_EQ(ports[0], ports[1]) << "every number of one component goes over one connection";
  EXPECT_EQ(ports[2], ports[3]);
}

TEST(SmsGatewaySim, AnswersAreBodiesWhateverTheStatusOrNoAnswerRaises) {
  GatewaySim sim;
  const std::string at = "raised: No answer from the SMS gateway at http://" + sim.address();
  const struct {
    const char* path;
    std::string answer;
  } cases[] = {
      {"/status/403", "Refused: status 403"},  // the gateway's own words on an error status
      {"/empty", ""},
      {"/big", std::string(64 * 1024, 'x')},  // the body is cut at 64 KiB
      {"/redirect", "moved"},                 // redirects (to /ok) are not followed
      // Invalid UTF-8 and NUL become U+FFFD.
      {"/invalid", "Accepted \xEF\xBF\xBD\xEF\xBF\xBD for\xEF\xBF\xBD delivery \xEF\xBF\xBD"},
      {"/reset", at + "/reset: "},
      {"/slow", at + "/slow: "},  // no answer within the limit
  };
  for (const auto& c : cases) {
    auto gateway = Configured(sim.address(), c.path, "GET", 0,
                              {std::chrono::seconds(10), std::chrono::seconds(4)});
    for (int i = 0; i < 2; ++i) {  // the handle stays usable
      const std::string answer = Send(*gateway);
      EXPECT_EQ(answer.starts_with("raised: ") ? answer.substr(0, c.answer.size()) : answer,
                c.answer);
    }
  }
}

TEST(SmsGatewaySim, IPv6ProxyAndTls) {
  GatewaySim v6("::1");
  EXPECT_EQ(Send(*Configured(v6.address(), "/v6", "POST")), "0: Accepted for delivery");

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
