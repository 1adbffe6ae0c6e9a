// E-mail through SMTP end to end: a client's request to qznotesd on a
// private bus, mails checked at a real SMTP server on loopback, and the
// callback the client receives.
#include <gtest/gtest.h>

#include <algorithm>

#include "daemon_harness.h"
#include "support/smtp_sink.h"

namespace qz::testing {
namespace {

class SmtpDaemonTest : public ::testing::Test {
 protected:
  SmtpDaemonTest() : daemon_(bus_, folder_.path(), {"--linger", "30"}), client_(bus_) {}

  // Two groups: two messages for the first, one for the second; no pages.
  Answer Request(const std::string& server, const char* test_id) {
    GVariant* notes =
        g_variant_new_parsed("<[<[<'db1 down'>, <'db2 slow'>]>, <[<'web1 unreachable'>]>]>");
    GVariant* email = g_variant_new_parsed(
        "<[<[<[<'ops@example.org'>, <'dba@example.org'>]>, <[<'dba@example.org'>]>]>, "
        "<[<[<'web@example.org'>]>]>]>");
    GVariant* pager = g_variant_new_parsed("<[<byte 0>, <byte 0>]>");
    GVariant* any = g_variant_new_parsed(
        "<[<'Alert'>, <'QzNotes <notes@example.org>'>, <''>, <%s>, <'True'>]>", server.c_str());
    return client_.Call(
        client_.Create(), kNotify, "SendMessageCallBack",
        g_variant_new("(@v@v@v@v(so)s)", notes, email, pager, any, "", "/callback", test_id));
  }

  PrivateBus bus_;
  ProgramFolder folder_;  // sample settings: gateway 0, the pager terminal
  Daemon daemon_;
  Client client_;
};

TEST_F(SmtpDaemonTest, RequestWithSmtpMailOptionsDeliversEveryGroup) {
  SmtpSink sink;
  EXPECT_EQ(Request(sink.server(), "SMTP-1").Print(), "(<'Notes Server: Asynch mode'>,)");
  auto& got = client_.WaitForCallbacks(1, 60s);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].first, "SMTP-1");
  EXPECT_EQ(got[0].second, "QzNotes: Message Sent");

  auto mails = sink.WaitForMails(4, 20s);
  ASSERT_EQ(mails.size(), 4u);
  std::vector<std::string> seen;
  for (const auto& mail : mails) {
    EXPECT_EQ(mail.from, "notes@example.org");
    ASSERT_EQ(mail.to.size(), 1u);
    EXPECT_EQ(mail.Header("To"), mail.to[0]);
    EXPECT_EQ(mail.Header("From"), "QzNotes <notes@example.org>");
    // The request's subject is not used on this route: the text is.
    EXPECT_EQ(mail.Header("Subject") + "\r\n", mail.Body());
    seen.push_back(mail.to[0] + ": " + mail.Header("Subject"));
  }
  std::sort(seen.begin(), seen.end());
  EXPECT_EQ(seen, (std::vector<std::string>{
                      "dba@example.org: db1 down", "dba@example.org: db2 slow",
                      "ops@example.org: db1 down", "web@example.org: web1 unreachable"}));
  EXPECT_EQ(folder_.Read("QzNotesLog.log"), "");
}

}  // namespace
}  // namespace qz::testing
