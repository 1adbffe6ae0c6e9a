#include "gateways/mail/smtp_server_url.h"

#include <gtest/gtest.h>

namespace qz {
namespace {

TEST(SmtpServerUrlTest, ServerNameForms) {
  const struct {
    const char *name, *url, *shown;
    bool tls, credentials;
  } cases[] = {
      {"  mx  ", "smtp://mx/", "smtp://mx:25", false, false},
      {"[::1]:2525", "smtp://[::1]:2525/", "smtp://[::1]:2525", false, false},
      {"fe80::1:2", "smtp://[fe80::1:2]/", "smtp://[fe80::1:2]:25", false, false},
      {"SMTPS://mx", "smtps://mx/", "smtps://mx:465", true, false},
      {"smtps://u%40x:p%3A@mx:4650/me", "smtps://u%40x:p%3A@mx:4650/me", "smtps://mx:4650", true,
       true},
      {"smtp://user:pw@mx", "smtp://user:pw@mx/", "smtp://mx:25", false, true},
  };
  for (const auto& c : cases) {
    auto parsed = ParseSmtpServer(c.name);
    const auto* url = std::get_if<SmtpServerUrl>(&parsed);
    ASSERT_NE(url, nullptr) << c.name << ": " << std::get<std::string>(parsed);
    EXPECT_EQ(url->url, c.url) << c.name;
    EXPECT_EQ(url->shown, c.shown) << c.name;
    EXPECT_EQ(url->implicit_tls, c.tls) << c.name;
    EXPECT_EQ(url->has_credentials, c.credentials) << c.name;
  }
}

TEST(SmtpServerUrlTest, NamesThatCannotBeUsedSayWhy) {
  const std::pair<const char*, const char*> cases[] = {
      {"mx\r\nQUIT", "holds blanks or control characters"},
      {"user@mx", "is not host, host:port or a URL"},
      {"mx:99999", "is not a valid host or URL"},
      {"[::1", "is not a valid host or URL"},
      {"smtp://", "is not a valid host or URL"},
  };
  for (const auto& [name, why] : cases) {
    auto parsed = ParseSmtpServer(name);
    ASSERT_TRUE(std::holds_alternative<std::string>(parsed)) << name;
    EXPECT_EQ(std::get<std::string>(parsed),
              "the server name \"" + std::string(name) + "\" " + why);
  }
  EXPECT_EQ(std::get<std::string>(ParseSmtpServer("   ")), "no SMTP server is named");
}

}  // namespace
}  // namespace qz
