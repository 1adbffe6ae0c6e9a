// The SMS gateway without a network: the request text of one number, the
// test of the gateway's answer, the settings loader, and the channel against
// a recording gateway component (what it hands the component, in which
// order, how it judges the answers and how it fails). The real component's
// transfers are in the integration tests.
#include "gateways/sms/sms_channel.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "automation/component_registry.h"
#include "automation/dispatch_object.h"
#include "automation/run_time_error.h"
#include "diagnostics/last_error.h"
#include "fakes.h"
#include "gateways/sms/sms_gateway_request.h"
#include "gateways/sms/sms_loader.h"
#include "support/temp_folder.h"

namespace qz::testing {
namespace {

using Requests = std::vector<std::string>;

// The settings of the worked example, as QzNotes.ini holds them.
constexpr const char* kExampleIni =
    "[SMS]\nProtocol=http\nIPAddress=127.0.0.1:9\nConnect=/cgi-bin/sendsms\nAccess=0\nMethod=GET\n"
    "Accept=text/plain\nResponse=Accepted for delivery\nCountryCode=44\n[SMSMapping]\nSMSTo=to\n"
    "SMSFrom=from\nSMSMsg=text\nSMSOffset=left\nSMSTrailer=go=1\n";

// The request for the example settings.
std::string Request(const std::string& to, const std::string& text, int left) {
  return "to=%2B44" + to + "&from=Monitor&text=" + text + "&left=" + std::to_string(left) + "&go=1";
}

// The fourteen fields in their order, joined by "|".
std::string Fields(const SmsSettings& s) {
  std::string text;
  for (const std::string* field :
       {&s.mstrProtocol, &s.mstrIPAddress, &s.mstrConnect, &s.mstrAccess, &s.mstrMethod,
        &s.mstrHeader, &s.mstrAccept, &s.mstrResponse, &s.mstrSMSTo, &s.mstrCountryCode,
        &s.mstrSMSFrom, &s.mstrSMSMsg, &s.mstrSMSOffset, &s.mstrSMSTrailer})
    text += (field == &s.mstrProtocol ? "" : "|") + *field;
  return text;
}

// The state of one cNotify object as the SMS channel sees it, loaded from
// the example settings, with a gateway component registered that records
// what it is handed and answers in turn from `answers` (raising for
// Missing, confirming once they run out).
struct SmsCallState {
  SmsCallState() {
    folder.Write("QzNotes.ini", kExampleIni);
    EXPECT_TRUE(mblnInitialiseSMS(call()));
    components.Register(kSmsGatewayClassId, [this](std::string_view) {
      return std::make_shared<RecordingGateway>(*this);
    });
  }
  ChannelCall call() { return {folder.path(), components, {}, {}, {}, {}, snpp_status, kept}; }

  struct RecordingGateway final : DispatchObject {
    explicit RecordingGateway(SmsCallState& s) : s(s) { ++s.created; }
    ~RecordingGateway() override { ++s.released; }
    void SetProperty(std::string_view name, const Variant& v) override {
      s.properties += std::string(name) + "=" + v.Text() + " ";
    }
    Variant CallMethod(std::string_view name, std::span<Variant> args) override {
      if (name != "SendRequest") return DispatchObject::CallMethod(name, args);
      s.well_formed = s.well_formed && args.size() == 2 &&
                      args[0].Items() == std::vector<Variant>{Variant()} &&
                      args[1].Items().size() == 1;
      s.requests.push_back(args[1].At(0).Text());
      const size_t n = s.requests.size() - 1;
      if (n >= s.answers.size()) return Variant("0: Accepted for delivery");
      if (s.answers[n] == Variant::Missing()) throw RunTimeError(440, "No answer at x", "gw");
      return s.answers[n];
    }
    SmsCallState& s;
  };

  TempFolder folder;
  ComponentRegistry components;
  std::string snpp_status;
  GatewayStates kept;
  SmsSettings& sms = kept.Get<SmsSettings>();
  std::vector<Variant> answers;
  std::string properties;   // "Name=value " in the order set
  Requests requests;        // element 0 of the second array
  bool well_formed = true;  // two one-element arrays, the first one Empty
  int created = 0, released = 0;
};

// The real component refuses what it could not send with.
TEST(SmsGatewayRequest, RefusesSettingsItCannotSendWith) {
  const struct {
    const char* property;
    Variant value;
    int32_t error;       // 0: accepted
    const char* starts;  // the description
  } cases[] = {
      {"Protocol", "HTTPS", 0, ""},
      {"Protocol", "ftp", kErrInvalidCall, "Protocol must be http or https, not 'ftp'"},
      {"IPAddress", "[::1]:13013", 0, ""},
      {"IPAddress", "user@host", kErrInvalidCall, "IPAddress must be a host or host:port, not"},
      {"IPAddress", "host\r\nX: y", kErrInvalidCall, "IPAddress must"},
      {"Connect", "cgi-bin/sendsms?x=1", 0, ""},
      {"Connect", "/a\r\nX-Injected: 1", kErrInvalidCall, "Connect must be a path without blanks"},
      {"Access", int16_t{1}, 0, ""},
      {"Access", int16_t{2}, kErrInvalidCall, "Access must be 0 (direct) or 1"},
      {"Access", "x", kErrTypeMismatch, ""},
      {"Method", "post", 0, ""},
      {"Method", "PUT", kErrInvalidCall, "Method must be GET or POST, not 'PUT'"},
      {"Header", "X-Api-Key: k\r\nX-Trace: 1\r\n", 0, ""},
      {"Header", "no colon here", kErrInvalidCall,
       "Header line 'no colon here' is not of the form"},
      {"Header", "X-A: 1\nX-B: 2", kErrInvalidCall, "Header line 'X-A: 1\nX-B: 2'"},
      {"Accept", "a\r\nb: c", kErrInvalidCall, "Accept must be one line"},
      {"Nonsense", "x", kErrNoSuchMember, ""},
  };
  for (const auto& c : cases) {
    SmsGatewayRequest gateway;
    try {
      gateway.SetProperty(c.property, c.value);
      EXPECT_EQ(c.error, 0) << c.property << " " << c.value.Text();
    } catch (const RunTimeError& e) {
      EXPECT_EQ(e.number(), c.error) << c.property << " " << c.value.Text();
      EXPECT_EQ(e.description().substr(0, std::strlen(c.starts)), c.starts);
    }
  }
}

TEST(SmsLoader, EveryLoadReadsTheFileAgainAndNoFileChangesNothing) {
  SmsCallState state;
  const std::string example = Fields(state.sms), sent = "|||||||Sent|dest|||||";
  const struct {
    const char* file;  // nullptr: none; "/": a folder of that name
    bool loaded;
    std::string fields;
  } steps[] = {
      {nullptr, false, example},  // nothing changes
      // Nine keys from [SMS], the five field names from [SMSMapping] only.
      {"[SMS]\nProtocol=https\nIPAddress=gw:8443\nConnect=/send\nMethod=POST\nAccess=1\n"
       "Accept=text/plain\nHeader=X-Key: 1\nResponse=OK\nCountryCode=49\nSMSTo=no\nSMSFrom=no\n"
       "SMSMsg=no\nSMSOffset=no\nSMSTrailer=no\n[SMSMapping]\nSMSTo=to\nSMSFrom=from\nSMSMsg=text\n"
       "SMSOffset=left\nSMSTrailer=user=u\n",
       true, "https|gw:8443|/send|1|POST|X-Key: 1|text/plain|OK|to|49|from|text|left|user=u"},
      {"[Default]\nIndex=2\n", true, "|||||||||||||"},  // missing sections empty every field
      {"[SMS]\nResponse=Sent\n[SMSMapping]\nSMSTo=dest\n", true, sent},
      {"/", false, sent},  // a folder is no file: the last values stay
  };
  const auto ini = state.folder / "QzNotes.ini";
  for (const auto& step : steps) {
    std::filesystem::remove(ini);
    if (step.file && std::string_view(step.file) == "/")
      std::filesystem::create_directory(ini);
    else if (step.file)
      state.folder.Write("QzNotes.ini", step.file);
    gstrLastError = "earlier failure";
    EXPECT_EQ(mblnInitialiseSMS(state.call()), step.loaded) << step.fields;
    EXPECT_EQ(Fields(state.sms), step.fields);
    EXPECT_EQ(gstrLastError, "earlier failure") << "nothing is reported";
  }
}

TEST(SmsChannel, OneComponentSetUpOnceSendsEveryNumberInOrder) {
  SmsCallState state;
  gstrLastError = "stale";
  // Empty numbers are skipped; a numeric number becomes its decimal text.
  ASSERT_TRUE(mblnPagingEx(
      state.call(), List({"first", "second", "third"}),
      List({List({"0111", Variant(), Variant(int32_t{9222})}), Variant(), List({"0333"})})));
  EXPECT_EQ(
      state.properties,
      "Protocol=http IPAddress=127.0.0.1:9 Connect=/cgi-bin/sendsms Access=0 Method=GET Header= "
      "Accept=text/plain ");
  EXPECT_EQ(state.requests, (Requests{Request("111", "first", 155), Request("222", "first", 155),
                                      Request("333", "third", 155)}));
  EXPECT_TRUE(state.well_formed);
  EXPECT_EQ(state.created, 1);
  EXPECT_EQ(state.released, 1);
  EXPECT_EQ(gstrLastError, "");
  // Field names and trailer come from the settings; empty ones still give
  // every separator.
  state.sms = {};
  state.sms.mstrAccess = "0", state.sms.mstrResponse = "Accepted";
  ASSERT_TRUE(mblnPagingEx(state.call(), List({""}), List({List({"0"})})));
  state.sms.mstrSMSTo = "dest", state.sms.mstrCountryCode = "1", state.sms.mstrSMSFrom = "sender";
  state.sms.mstrSMSMsg = "body", state.sms.mstrSMSOffset = "rest", state.sms.mstrSMSTrailer = "u=1";
  ASSERT_TRUE(mblnPagingEx(state.call(), List({"a b"}), List({List({"5551234"})})));
  EXPECT_EQ(
      Requests(state.requests.end() - 2, state.requests.end()),
      (Requests{"=%2B&=Monitor&=&=160&", "dest=%2B1551234&sender=Monitor&body=a+b&rest=157&u=1"}));
}

// The request text of one number, with the Encoding of QzNotes.ini: the
// message cleaned and cut first, the number without its first character.
TEST(SmsChannel, RequestTexts) {
  const std::string special = "AZaz09-._~ !\"#$&'()*+,/:;=?@[]%`{}";
  const std::string encoded =
      "AZaz09-._~%20%21%22%23%24%26%27%28%29%2A%2B%2C%2F%3A%3B%3D%3F%40%5B%5D%25%60%7B%7D";
  const std::string cut = "two+lines++" + std::string(145, 'z');
  const struct {
    std::string message;
    const char *number, *encoding;
    std::string request;
  } cases[] = {
      {"Hi there", "012", "", Request("12", "Hi+there", 152)},  // the worked example
      {"  two\r\nlines  " + std::string(200, 'z'), "012", "", Request("12", cut, 4)},
      {"", "012", "", Request("12", "", 160)},
      {"x", " 012", "", Request("012", "x", 159)},  // a blank goes, not a digit
      {"x", "", "", Request("", "x", 159)},         // the country code alone
      {"h\303\251", "\303\25112", "Form", Request("12", "h%C3%A9", 158)},  // characters, not bytes
      // Seed: only blanks change; Form: everything but the unreserved is encoded.
      {"a&b=c%d+e \303\251", "0+12", "", Request("+12", "a&b=c%d+e+\303\251", 149)},
      {"a&b=c%d+e \303\251", "0+12", " Form ", Request("%2B12", "a%26b%3Dc%25d%2Be%20%C3%A9", 149)},
      {special, "012", "form", Request("12", encoded, 160 - 34)},
  };
  for (const auto& c : cases) {
    SmsCallState state;
    state.folder.Write("QzNotes.ini", "[SMS]\nEncoding=" + std::string(c.encoding) + "\n");
    ASSERT_TRUE(mblnPagingEx(state.call(), List({c.message}), List({List({c.number})})));
    EXPECT_EQ(state.requests, Requests{c.request});
  }
}

TEST(SmsChannel, AnswersAndFailures) {
  const Variant one = List({"m"}), to012 = List({List({"012"})});
  const Variant three = List({List({" 011", "022", "033"})});
  const std::string mismatch = "Type mismatch.\r\n", null = "Invalid use of Null.\r\n";
  const std::vector<Variant> mixed = {"Authorization failed", "0: accepted FOR delivery",
                                      "Unknown"};
  const struct {
    Variant notes, pagers;
    bool sent;
    std::string last_error;
    size_t requests;
    std::vector<Variant> answers = {};  // in turn; Missing raises; then all confirmed
    const char *access = "0", *response = "Accepted for delivery";
  } cases[] = {
      // Only the last unconfirmed number's text stays; every number is tried.
      {one, three, false, "SMS to 033 is undelivered. Unknown", 3, mixed},
      // An empty answer confirms nothing, whatever the response; the number as given.
      {one, List({List({" 012"})}), false, "SMS to  012 is undelivered. ", 1, {""}},
      {one, to012, false, "SMS to 012 is undelivered. ", 1, {""}, "0", ""},
      {one, to012, true, "", 1, {"x"}, "0", ""},  // an empty response takes any answer
      // The response occurs in the answer, ignoring case (non-ASCII too, and
      // ASCII in an answer that is no UTF-8).
      {one, to012, true, "", 1, {"un \303\251t\303\251 ok"}, "0", "\303\211T\303\211"},
      {one, to012, true, "", 1, {"\377!OK\376"}, "0", "ok"},
      // Access must be a 16-bit number before any request.
      {one, to012, false, mismatch, 0, {}, ""},
      {one, to012, false, "Overflow.\r\n", 0, {}, "40000"},
      // Run-time errors stop the group.
      {one, three, false, "No answer at x.\r\n", 2, {"Accepted for delivery", Variant::Missing()}},
      {one, to012, false, null, 1, {Variant::Null()}},
      {one, List({List({Variant::Null()})}), false, null, 0},
      {List({Variant::Null()}), to012, false, null, 0},
      // 32,768 numbers are all tried, then the counter overflows; at 32,769
      // the bound itself does not fit.
      {one, List({Variant::Array(std::vector<Variant>(32768, "0123"))}), false, "Overflow.\r\n",
       32768},
      {one, List({Variant::Array(std::vector<Variant>(32769, "0123"))}), false, "Overflow.\r\n", 0},
  };
  for (const auto& c : cases) {
    SmsCallState state;
    state.answers = c.answers;
    state.sms.mstrAccess = c.access;
    state.sms.mstrResponse = c.response;
    gstrLastError = "stale";
    EXPECT_EQ(mblnPagingEx(state.call(), c.notes, c.pagers), c.sent) << c.last_error;
    EXPECT_EQ(gstrLastError, c.last_error);
    EXPECT_EQ(state.requests.size(), c.requests) << c.last_error;
    EXPECT_EQ(state.created, c.notes.IsArray() && c.pagers.IsArray() ? 1 : 0) << c.last_error;
    EXPECT_EQ(state.released, state.created) << c.last_error;
  }
  SmsCallState state;
  state.components.Unregister(kSmsGatewayClassId);
  EXPECT_FALSE(mblnPagingEx(state.call(), one, to012));
  EXPECT_EQ(gstrLastError, "ActiveX component can't create object.\r\n");
}

}  // namespace
}  // namespace qz::testing
