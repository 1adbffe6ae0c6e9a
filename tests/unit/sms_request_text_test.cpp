// The request text of one number and the test of the gateway's answer.
#include "gateways/sms/sms_request_text.h"
#include "gateways/sms/percent_encoding.h"

#include <gtest/gtest.h>

#include <string>

#include "sms_fakes.h"

namespace qz {
namespace {

struct RequestCase {
  const char* why;
  std::string cleaned;  // message after msubCleanMessage
  std::string number;
  SmsEncoding encoding;
  std::string expected;
};

TEST(SmsRequestText, BuildsEachFieldCharacterForCharacter) {
  const std::string text156(156, 'x');
  const RequestCase cases[] = {
      {"the worked example", "Hi there", "012", SmsEncoding::Seed,
       "to=%2B4412&from=Monitor&text=Hi+there&left=152&go=1"},
      {"156 characters leave 4", text156, "012", SmsEncoding::Seed,
       "to=%2B4412&from=Monitor&text=" + text156 + "&left=4&go=1"},
      {"empty message: empty field and 160", "", "012", SmsEncoding::Seed,
       "to=%2B4412&from=Monitor&text=&left=160&go=1"},
      {"a leading blank goes, not the first digit", "x", " 012", SmsEncoding::Seed,
       "to=%2B44012&from=Monitor&text=x&left=159&go=1"},
      {"an empty number keeps the country code alone", "x", "", SmsEncoding::Seed,
       "to=%2B44&from=Monitor&text=x&left=159&go=1"},
      {"the first character is a whole UTF-8 character", "x",
       "\xC3\xA9"
       "12",
       SmsEncoding::Seed, "to=%2B4412&from=Monitor&text=x&left=159&go=1"},
      {"seed: & = % + go in unencoded", "a&b=c%d+e f", "012", SmsEncoding::Seed,
       "to=%2B4412&from=Monitor&text=a&b=c%d+e+f&left=149&go=1"},
      {"seed: length counts characters, not bytes", "h\xC3\xA9llo", "012", SmsEncoding::Seed,
       "to=%2B4412&from=Monitor&text=h\xC3\xA9llo&left=155&go=1"},
      {"form: reserved characters percent-encoded", "a&b=c%d+e f", "012", SmsEncoding::Form,
       "to=%2B4412&from=Monitor&text=a%26b%3Dc%25d%2Be%20f&left=149&go=1"},
      {"form: UTF-8 bytes, length in characters", "h\xC3\xA9llo", "012", SmsEncoding::Form,
       "to=%2B4412&from=Monitor&text=h%C3%A9llo&left=155&go=1"},
      {"form: the number is encoded too", "x", "0+1 2&", SmsEncoding::Form,
       "to=%2B44%2B1%202%26&from=Monitor&text=x&left=159&go=1"},
  };
  const SmsSettings settings = testing::ExampleSmsSettings();
  for (const RequestCase& c : cases) {
    SmsMessageField message = SmsMessageFieldOf(c.cleaned, c.encoding);
    EXPECT_EQ(SmsRequestText(settings, message, c.number, c.encoding), c.expected) << c.why;
  }
}

TEST(SmsRequestText, FieldNamesAndTrailerComeFromTheSettings) {
  SmsSettings s;
  s.mstrSMSTo = "dest";
  s.mstrCountryCode = "1";
  s.mstrSMSFrom = "sender";
  s.mstrSMSMsg = "body";
  s.mstrSMSOffset = "rest";
  s.mstrSMSTrailer = "username=u&password=p";
  EXPECT_EQ(
      SmsRequestText(s, SmsMessageFieldOf("a b", SmsEncoding::Seed), "5551234", SmsEncoding::Seed),
      "dest=%2B1551234&sender=Monitor&body=a+b&rest=157&username=u&password=p");
  // Empty settings still give every separator.
  EXPECT_EQ(SmsRequestText({}, SmsMessageFieldOf("", SmsEncoding::Seed), "0", SmsEncoding::Seed),
            "=%2B&=Monitor&=&=160&");
}

TEST(SmsRequestText, PercentEncodingKeepsOnlyUnreservedCharacters) {
  EXPECT_EQ(PercentEncode("AZaz09-._~"), "AZaz09-._~");
  EXPECT_EQ(PercentEncode(" !\"#$&'()*+,/:;=?@[]%"),
            "%20%21%22%23%24%26%27%28%29%2A%2B%2C%2F%3A%3B%3D%3F%40%5B%5D%25");
  EXPECT_EQ(PercentEncode(std::string("\0\xFF", 2)), "%00%FF");
}

TEST(SmsResponseOccurs, IgnoresCaseAndFollowsTheEmptyTextRules) {
  struct Case {
    const char* response;
    const char* answer;
    bool occurs;
    const char* why;
  } cases[] = {
      {"OK", "ok", true, "case is ignored"},
      {"Accepted for delivery", "0: Accepted for delivery", true, "anywhere in the answer"},
      {"Accepted for delivery", "Authorization failed for sendsms", false, "a refusal"},
      {"", "anything", true, "empty response occurs in a non-empty answer"},
      {"", "", false, "nothing occurs in an empty answer"},
      {"OK", "", false, "nothing occurs in an empty answer"},
      {"\xC3\x89T\xC3\x89", "un \xC3\xA9t\xC3\xA9 ok", true, "non-ASCII letters fold too"},
      {"ok",
       "\xFF"
       "OK\xFE",
       true, "invalid UTF-8 still folds ASCII"},
      {"OK", "O K", false, "no partial matches"},
  };
  for (const Case& c : cases) EXPECT_EQ(SmsResponseOccurs(c.response, c.answer), c.occurs) << c.why;
}

}  // namespace
}  // namespace qz
