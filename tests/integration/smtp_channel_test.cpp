// The SMTP e-mail channel with the real "qzSMTP.cMail" component, delivering
// to a real SMTP server on loopback; mails are checked as the server got them.
#include <gtest/gtest.h>

#include "automation/component_registry.h"
#include "diagnostics/last_error.h"
#include "gateways/mail/smtp_mail.h"
#include "gateways/mail/smtp_mail_channel.h"
#include "support/mime_decode.h"
#include "support/smtp_sink.h"
#include "unit/fakes.h"

namespace qz::testing {
namespace {

using namespace std::chrono_literals;

std::string BodyText(const SunkMail& mail) {
  std::string body = mail.Header("Content-Transfer-Encoding") == "quoted-printable"
                         ? QpDecode(mail.Body())
                         : mail.Body();
  if (body.ends_with("\r\n")) body.resize(body.size() - 2);
  return body;
}

class SmtpChannelTest : public ::testing::Test {
 protected:
  bool Send(const SmtpSink& sink, const Variant& notes, const Variant& lists,
            SmtpOptions options = {}) {
    options.ca_file = sink.ca_file();
    RegisterSmtpMail(components_, options);
    std::string snpp;
    SmsSettings sms;
    const std::string server = " " + sink.server() + " ";
    ChannelCall call{
        "/nonexistent", components_, "unused subject", " QzNotes <notes@example.org> ", "", server,
        snpp,           sms};
    return mblnSendSMTPMail(call, notes, lists);
  }

  ComponentRegistry components_;
};

TEST_F(SmtpChannelTest, EveryRecipientGetsAMailOfTheirOwn) {
  SmtpSink sink;
  std::string long_text;
  for (int i = 0; i < 30; ++i) long_text += "Temp\xC3\xA9rature ";  // 12 characters each
  const Variant notes = List({Variant("  db1 down\r\nsince 10:00  "), Variant(long_text)});
  const Variant lists =
      List({List({Variant(" ops@example.org "), Variant(), Variant("dba@example.org")}),
            List({Variant("night@example.org")})});
  EXPECT_TRUE(Send(sink, notes, lists)) << gstrLastError;
  EXPECT_EQ(gstrLastError, "");

  auto mails = sink.WaitForMails(3, 20s);
  ASSERT_EQ(mails.size(), 3u);
  const char* to[] = {"ops@example.org", "dba@example.org", "night@example.org"};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(mails[i].from, "notes@example.org");
    EXPECT_EQ(mails[i].to, std::vector<std::string>{to[i]});
    EXPECT_EQ(mails[i].Header("To"), to[i]);
    EXPECT_EQ(mails[i].Header("From"), "QzNotes <notes@example.org>");
    EXPECT_EQ(mails[i].Header("Cc"), "");
  }
  EXPECT_EQ(mails[0].Header("Subject"), "db1 down since 10:00");
  EXPECT_EQ(BodyText(mails[0]), "db1 down since 10:00");
  std::string cleaned = long_text;
  cleaned.pop_back();  // the trailing blank is trimmed
  std::string first100;
  for (int i = 0; i < 8; ++i) first100 += "Temp\xC3\xA9rature ";
  first100 += "Temp";  // 8 * 12 + 4 = 100 characters
  EXPECT_EQ(DecodedHeader(mails[2].Header("Subject")), first100);
  EXPECT_NE(mails[2].Header("Subject").find("=?UTF-8?B?"), std::string::npos);
  EXPECT_EQ(mails[2].Header("Content-Transfer-Encoding"), "quoted-printable");
  EXPECT_EQ(BodyText(mails[2]), cleaned);
}

TEST_F(SmtpChannelTest, RefusedRecipientIsRecordedAndTheOthersStillGetTheirMail) {
  SmtpSink sink({.refuse_rcpt = {"gone@example.org", "left@example.org"}});
  const Variant lists = List({List({Variant("gone@example.org"), Variant("ops@example.org")}),
                              List({Variant("left@example.org"), Variant("")})});
  EXPECT_FALSE(Send(sink, List({Variant("a"), Variant("b")}), lists));
  EXPECT_EQ(gstrLastError,
            "\r\n550 5.1.1 <gone@example.org>: Recipient address rejected by the test sink"
            "\r\n550 5.1.1 <left@example.org>: Recipient address rejected by the test sink"
            "\r\nMail not sent: a To recipient address \"\" is not a valid e-mail address");
  auto mails = sink.WaitForMails(1, 10s);
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_EQ(mails[0].to, std::vector<std::string>{"ops@example.org"});
}

TEST_F(SmtpChannelTest, StartTlsIsUsedWhenTheServerOffersIt) {
  SmtpSink sink({.starttls = true});
  EXPECT_TRUE(Send(sink, List({Variant("over TLS")}), List({List({Variant("ops@example.org")})})))
      << gstrLastError;
  auto mails = sink.WaitForMails(1, 10s);
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_TRUE(mails[0].tls);
  EXPECT_EQ(mails[0].Header("Subject"), "over TLS");
}

}  // namespace
}  // namespace qz::testing
