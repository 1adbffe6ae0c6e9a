// The gateway request component against the scripted gateway on loopback:
// what goes on the wire for GET and POST over one connection, and every
// answer a real gateway seldom gives on demand (no body, 10 MB, reset, slow,
// redirect, invalid UTF-8).
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "automation/run_time_error.h"
#include "gateways/sms/sms_gateway_request.h"
#include "json_reader.h"
#include "support/flooding_peer.h"
#include "support/gateway_sim.h"

namespace qz::testing {
namespace {

// A component sending to `address` + `path`, waiting at most `seconds` for an answer.
std::unique_ptr<SmsGatewayRequest> Configured(const std::string& address, const char* path,
                                              const char* method = "GET", int seconds = 30) {
  SmsGatewayLimits limits;
  limits.total = std::chrono::seconds(seconds);
  auto gateway = std::make_unique<SmsGatewayRequest>(limits);
  gateway->SetProperty("Protocol", "http");
  gateway->SetProperty("IPAddress", address);
  gateway->SetProperty("Connect", path);
  gateway->SetProperty("Access", int16_t{0});
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
  auto post = Configured(sim.address(), "send?account=7", "POST");  // "/" is added
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

// The status and Retry-After stay with the answer for sorting a refusal.
TEST(SmsGatewaySim, AnswersAreBodiesWhateverTheStatusOrNoAnswerRaises) {
  GatewaySim sim;
  const std::string at = "raised: No answer from the SMS gateway at http://" + sim.address();
  const struct {
    const char* path;
    std::string answer;
    long status = 200;
    std::optional<std::chrono::seconds> retry_after = std::nullopt;
  } cases[] = {
      {"/status/403", "Refused: status 403", 403},  // the gateway's own words on an error status
      {"/status/503/retry-after/120", "Refused: status 503", 503, std::chrono::seconds(120)},
      {"/empty", ""},
      {"/big", std::string(64 * 1024, 'x')},  // the body is cut at 64 KiB
      {"/redirect", "moved", 302},            // redirects (to /ok) are not followed
      // Invalid UTF-8 and NUL become U+FFFD.
      {"/invalid", "Accepted \xEF\xBF\xBD\xEF\xBF\xBD for\xEF\xBF\xBD delivery \xEF\xBF\xBD"},
      {"/reset", at + "/reset: ", 0},
      {"/slow", at + "/slow: ", 0},  // no answer within the limit
  };
  for (const auto& c : cases) {
    auto gateway = Configured(sim.address(), c.path, "GET", 4);
    for (int i = 0; i < 2; ++i) {  // the handle stays usable
      const std::string answer = Send(*gateway);
      EXPECT_EQ(answer.starts_with("raised: ") ? answer.substr(0, c.answer.size()) : answer,
                c.answer);
    }
    if (c.status == 0) continue;
    EXPECT_EQ(gateway->LastStatus(), c.status) << c.path;
    EXPECT_EQ(gateway->LastRetryAfter(), c.retry_after) << c.path;
  }
}

// A gateway that never stops talking raises within the limit (2 s): endless
// header lines, or a body that only trickles (an endless fast one is cut).
TEST(SmsGatewaySim, FloodingGatewayLosesTheRequest) {
  using namespace std::chrono_literals;
  const std::string ok = "HTTP/1.1 200 OK\r\n", raised = "raised: No answer from the SMS gateway";
  for (const FloodScript& script : {FloodScript{"", ok, "X-Flood: more to come\r\n"},
                                    FloodScript{"", ok + "\r\n", "x", 20ms}}) {
    FloodingPeer gateway(FloodingPeer::Kind::kLoopback, script);
    const auto start = std::chrono::steady_clock::now();
    const std::string answer = Send(*Configured("127.0.0.1:" + gateway.PortText(), "/", "GET", 2));
    EXPECT_EQ(answer.substr(0, raised.size()), raised) << script.pattern;
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    EXPECT_GT(gateway.flooded(), 0u);
  }
}

}  // namespace
}  // namespace qz::testing
