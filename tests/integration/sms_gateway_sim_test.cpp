// The gateway request component against the scripted gateway on loopback:
// what goes on the wire for GET and POST, connection reuse, and every answer
// a real gateway seldom gives on demand (no body, 10 MB, reset, slow,
// redirect, invalid UTF-8, a self-signed certificate).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

#include <array>
#include <cstdlib>
#include <string>

#include "automation/run_time_error.h"
#include "gateways/sms/sms_gateway_request.h"
#include "json_reader.h"
#include "support/gateway_sim.h"

namespace qz {
namespace {

using testing::GatewaySim;
using ::testing::HasSubstr;
using testing::Json;
using testing::JsonReader;

// A component sending to `address` + `path` with the given settings.
std::unique_ptr<SmsGatewayRequest> Configured(const std::string& address, const char* path,
                                              const char* method = "GET", int16_t access = 0,
                                              SmsGatewayLimits limits = {},
                                              const char* protocol = "http") {
  auto gateway = std::make_unique<SmsGatewayRequest>(std::move(limits));
  gateway->SetProperty("Protocol", Variant(protocol));
  gateway->SetProperty("IPAddress", Variant(address));
  gateway->SetProperty("Connect", Variant(path));
  gateway->SetProperty("Access", Variant(access));
  gateway->SetProperty("Method", Variant(method));
  return gateway;
}

std::string Send(SmsGatewayRequest& gateway, const std::string& text = "to=1") {
  std::array<Variant, 2> args{Variant::Array({Variant()}), Variant::Array({Variant(text)})};
  return gateway.CallMethod("SendRequest", args).Text();
}

class SmsGatewaySimTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    testing::GatewaySimOptions options;
    options.delay_seconds = 30;
    sim_ = std::make_unique<GatewaySim>(options);
  }
  static void TearDownTestSuite() { sim_.reset(); }

  // A component aimed at `path` of the simulator.
  std::unique_ptr<SmsGatewayRequest> Gateway(const char* path, const char* method = "GET",
                                             SmsGatewayLimits limits = {}) {
    auto gateway = Configured(sim_->address(), path, method, 0, std::move(limits));
    gateway->SetProperty("Header", Variant("X-Api-Key: k1\r\nX-Trace: t"));
    gateway->SetProperty("Accept", Variant("text/plain"));
    return gateway;
  }
  static RunTimeError SendFails(SmsGatewayRequest& gateway) {
    try {
      Send(gateway, "to=1");
    } catch (const RunTimeError& e) {
      return e;
    }
    return RunTimeError(0, "no error", "");
  }
  static Json LastRequest() {
    auto lines = sim_->Requests();
    if (lines.empty()) return {};
    return JsonReader::Parse(lines.back()).value_or(Json{});
  }
  static std::string Member(const Json& j, const char* key) {
    const Json* m = j.Find(key);
    return m && m->Is(Json::Kind::kString) ? m->text : "";
  }
  static std::string Header(const Json& j, const char* name) {
    const Json* headers = j.Find("headers");
    return headers ? Member(*headers, name) : "";
  }

  static inline std::unique_ptr<GatewaySim> sim_;
};

const std::string kText = "to=%2B4412&from=Monitor&text=Hi+there&left=152&go=1";

TEST_F(SmsGatewaySimTest, GetCarriesTheRequestTextAsTheQueryString) {
  auto gateway = Gateway("/cgi-bin/sendsms");
  EXPECT_EQ(Send(*gateway, kText), "0: Accepted for delivery");
  Json r = LastRequest();
  EXPECT_EQ(Member(r, "method"), "GET");
  EXPECT_EQ(Member(r, "path"), "/cgi-bin/sendsms");
  EXPECT_EQ(Member(r, "query"), kText);
  EXPECT_EQ(Header(r, "Accept"), "text/plain");
  EXPECT_EQ(Header(r, "X-Api-Key"), "k1");
  EXPECT_EQ(Header(r, "X-Trace"), "t");
}

TEST_F(SmsGatewaySimTest, GetEncodesOnlyWhatAUrlCannotCarry) {
  auto gateway = Gateway("/cgi-bin/sendsms");
  EXPECT_EQ(Send(*gateway, "to=%2B44123 456&text=a&b=c+50%#1 h\xC3\xA9\x01"),
            "0: Accepted for delivery");
  EXPECT_EQ(Member(LastRequest(), "query"), "to=%2B44123%20456&text=a&b=c+50%%231%20h%C3%A9%01");
}

TEST_F(SmsGatewaySimTest, PostCarriesItAsAFormBody) {
  auto gateway = Gateway("/send?account=7", "POST");
  EXPECT_EQ(Send(*gateway, kText), "0: Accepted for delivery");
  Json r = LastRequest();
  EXPECT_EQ(Member(r, "method"), "POST");
  EXPECT_EQ(Member(r, "query"), "account=7");
  EXPECT_EQ(Member(r, "body"), kText);
  EXPECT_EQ(Header(r, "Content-Type"), "application/x-www-form-urlencoded");
}

TEST_F(SmsGatewaySimTest, EveryNumberOfOneComponentReusesTheConnection) {
  auto gateway = Gateway("/ok");
  for (int i = 0; i < 3; ++i) Send(*gateway, "to=" + std::to_string(i));
  auto lines = sim_->Requests();
  ASSERT_GE(lines.size(), 3u);
  const Json* ports[3];
  std::vector<Json> last;
  for (size_t i = lines.size() - 3; i < lines.size(); ++i)
    last.push_back(*JsonReader::Parse(lines[i]));
  for (int i = 0; i < 3; ++i) ports[i] = last[i].Find("client_port");
  ASSERT_TRUE(ports[0] && ports[1] && ports[2]);
  EXPECT_EQ(ports[0]->number, ports[1]->number);
  EXPECT_EQ(ports[1]->number, ports[2]->number);
}

TEST_F(SmsGatewaySimTest, AnswersAreBodiesWhateverTheStatus) {
  struct Case {
    const char* path;
    std::string answer;
    const char* why;
  } cases[] = {
      {"/status/403", "Refused: status 403", "the gateway's own words on an error status"},
      {"/status/500", "Refused: status 500", "server error with a body"},
      {"/empty", "", "an empty body answers the empty text"},
      {"/redirect", "moved", "redirects are not followed"},
      {"/invalid", "Accepted \xEF\xBF\xBD\xEF\xBF\xBD for\xEF\xBF\xBD delivery \xEF\xBF\xBD",
       "invalid UTF-8 and NUL become U+FFFD"},
  };
  for (const Case& c : cases) {
    auto gateway = Gateway(c.path);
    EXPECT_EQ(Send(*gateway, "to=1"), c.answer) << c.why;
  }
  EXPECT_EQ(Member(LastRequest(), "path"), "/invalid") << "the redirect target was never asked";
}

TEST_F(SmsGatewaySimTest, BodyIsCutAt64KiB) {
  auto gateway = Gateway("/big");
  EXPECT_EQ(Send(*gateway, "to=1"), std::string(64 * 1024, 'x'));
  EXPECT_EQ(Send(*gateway, "to=2").size(), 64u * 1024) << "the handle stays usable after a cut";
}

TEST_F(SmsGatewaySimTest, NoAnswerRaisesWithWhatAndWhere) {
  auto reset = Gateway("/reset");
  RunTimeError e = SendFails(*reset);
  EXPECT_EQ(e.number(), kErrGatewayTransport);
  EXPECT_THAT(e.description(), HasSubstr("at http://" + sim_->address() + "/reset: "));

  auto slow =
      Gateway("/slow", "GET", {std::chrono::seconds(10), std::chrono::seconds(2), 64 * 1024, {}});
  e = SendFails(*slow);
  EXPECT_EQ(e.number(), kErrGatewayTransport);
  EXPECT_THAT(e.description(), HasSubstr("/slow: ")) << e.description();
  EXPECT_THAT(e.description(), HasSubstr("imed out")) << e.description();
}

TEST(SmsGatewayAddressTest, IPv6AddressInBrackets) {
  testing::GatewaySimOptions options;
  options.host = "::1";
  GatewaySim sim(options);
  EXPECT_EQ(Send(*Configured(sim.address(), "/v6", "POST")), "0: Accepted for delivery");
  ASSERT_EQ(sim.Requests().size(), 1u);
}

// Access 1 takes the proxy from the environment; Access 0 ignores it.
TEST(SmsGatewayAccessTest, OneUsesTheEnvironmentsProxyZeroGoesDirect) {
  GatewaySim proxy;
  const uint16_t nobody = testing::FreeLoopbackPort();
  struct SavedEnv {
    ~SavedEnv() {
      unsetenv("http_proxy");
      if (!no_proxy.empty()) setenv("no_proxy", no_proxy.c_str(), 1);
    }
    std::string no_proxy = getenv("no_proxy") ? getenv("no_proxy") : "";
  } restore;
  setenv("http_proxy", ("http://" + proxy.address()).c_str(), 1);
  unsetenv("no_proxy");
  auto send = [&](int16_t access) {
    return Send(
        *Configured("127.0.0.1:" + std::to_string(nobody), "/through-proxy", "GET", access));
  };
  EXPECT_EQ(send(1), "0: Accepted for delivery");
  ASSERT_EQ(proxy.Requests().size(), 1u);
  EXPECT_NE(proxy.Requests()[0].find("127.0.0.1:" + std::to_string(nobody)), std::string::npos)
      << "the proxy was asked for the gateway";
  EXPECT_THROW(send(0), RunTimeError) << "direct: nobody listens there";
  EXPECT_EQ(proxy.Requests().size(), 1u);
}

TEST(SmsGatewayTlsTest, SelfSignedCertificateIsRefusedUnlessTrusted) {
  testing::GatewaySimOptions options;
  options.tls = true;
  GatewaySim sim(options);
  try {
    Send(*Configured(sim.address(), "/ok", "GET", 0, {}, "https"));
    ADD_FAILURE() << "a self-signed certificate was accepted";
  } catch (const RunTimeError& e) {
    EXPECT_THAT(e.description(), HasSubstr("https://" + sim.address() + "/ok: "));
    EXPECT_THAT(e.description(), HasSubstr("certificate")) << e.description();
  }
  const SmsGatewayLimits trusting{std::chrono::seconds(10), std::chrono::seconds(30), 64 * 1024,
                                  sim.certificate()};
  EXPECT_EQ(Send(*Configured(sim.address(), "/ok", "GET", 0, trusting, "https")),
            "0: Accepted for delivery");
}

}  // namespace
}  // namespace qz
