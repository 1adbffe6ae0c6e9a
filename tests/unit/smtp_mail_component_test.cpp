// The mail component's own contract, where no server is needed: its
// properties, its method and the mails it refuses to send.
#include "gateways/mail/smtp_mail.h"

#include <gtest/gtest.h>

#include "automation/run_time_error.h"
#include "gateways/mail/smtp_mail_channel.h"

namespace qz {
namespace {

std::shared_ptr<DispatchObject> Mail(std::string server, std::string from, std::string to,
                                     std::string subject = "s", std::string message = "m") {
  ComponentRegistry registry;
  RegisterSmtpMail(registry);
  auto mail = registry.Create("QZSMTP.CMAIL");  // identifiers ignore case
  mail->SetProperty("ServerName", Variant(server));
  mail->SetProperty("MailFrom", Variant(from));
  mail->SetProperty("mailto", Variant(to));
  mail->SetProperty("Subject", Variant(subject));
  mail->SetProperty("Message", Variant(message));
  return mail;
}

std::string SendText(DispatchObject& mail) { return mail.CallMethod("gvarSendMessage", {}).Text(); }

TEST(SmtpMailComponentTest, PropertiesReadBackAndUnknownMembersRaise) {
  auto mail = Mail("mail.example.org", "n@example.org", "o@example.org", "subj", "body");
  EXPECT_EQ(mail->GetProperty("SERVERNAME").Text(), "mail.example.org");
  EXPECT_EQ(mail->GetProperty("MailTo").Text(), "o@example.org");
  EXPECT_EQ(mail->GetProperty("message").Text(), "body");
  auto raises = [](auto action) -> int32_t {
    try {
      action();
    } catch (const RunTimeError& e) {
      return e.number();
    }
    return 0;
  };
  EXPECT_EQ(raises([&] { mail->SetProperty("Bcc", Variant("x")); }), kErrNoSuchMember);
  EXPECT_EQ(raises([&] { mail->GetProperty("Attachment"); }), kErrNoSuchMember);
  EXPECT_EQ(raises([&] { mail->SetProperty("MailTo", Variant::Null()); }), kErrInvalidNull);
  EXPECT_EQ(raises([&] { mail->SetProperty("MailTo", Variant::Array({})); }), kErrTypeMismatch);
  Variant arg("x");
  EXPECT_EQ(raises([&] { mail->CallMethod("gvarSendMessage", std::span<Variant>(&arg, 1)); }),
            kErrWrongArguments);
  EXPECT_EQ(raises([&] { mail->CallMethod("Send", {}); }), kErrNoSuchMember);
}

// Each of these is answered before any connection is tried, so the server
// named is never contacted.
TEST(SmtpMailComponentTest, MailsThatCannotBeSentSayWhy) {
  const struct {
    const char* why;
    std::string server, from, to, subject;
    std::string reply;
  } cases[] = {
      {"empty recipient", "127.0.0.1:9", "n@example.org", "", "s",
       "Mail not sent: a To recipient address \"\" is not a valid e-mail address"},
      {"recipient with a header", "127.0.0.1:9", "n@example.org",
       "o@example.org\r\nBcc: x@example.org", "s",
       "Mail not sent: a To recipient address holds a line break or NUL"},
      {"subject with a header", "127.0.0.1:9", "n@example.org", "o@example.org",
       "Hi\nBcc: x@example.org", "Mail not sent: the subject holds a line break or NUL"},
      {"sender display name with a header", "127.0.0.1:9",
       "Evil\rBcc: x@example.org <n@example.org>", "o@example.org", "s",
       "Mail not sent: the sender display name holds a line break or NUL"},
      {"1000-character local part", "127.0.0.1:9", "n@example.org",
       std::string(1000, 'l') + "@example.org", "s",
       "Mail not sent: a To recipient address \"" + std::string(1000, 'l') +
           "@example.org\" is not a valid e-mail address"},
      {"no server", "", "n@example.org", "o@example.org", "s",
       "No SMTP server could be reached: no SMTP server is named"},
      {"server of another scheme", "http://127.0.0.1:9", "n@example.org", "o@example.org", "s",
       "No SMTP server could be reached: the server name \"http://127.0.0.1:9\" is no smtp:// or "
       "smtps:// URL"},
  };
  for (const auto& c : cases) {
    auto mail = Mail(c.server, c.from, c.to, c.subject);
    const std::string reply = SendText(*mail);
    EXPECT_EQ(reply, c.reply) << c.why;
    EXPECT_EQ(reply.find("250"), std::string::npos) << c.why;
  }
}

}  // namespace
}  // namespace qz
