// The profile e-mail route end to end: a profile set with qznotes, a request
// naming it, qznotesd choosing the route by its --seat option, mails checked
// at the SMTP server or the stand-in sendmail, and the callback.
#include <gtest/gtest.h>

#include "cli_runner.h"
#include "daemon_harness.h"
#include "support/sendmail_stand_in.h"
#include "support/smtp_sink.h"

namespace qz::testing {
namespace {

// Two groups of one message each; message 0 to a To and a Cc recipient.
GVariant* TwoGroups() { return g_variant_new_parsed("<[<[<'db1 down'>]>, <[<'db2 down'>]>]>"); }
GVariant* TwoGroupsOfMail(const char* first = "Ops $ ops@example.org") {
  return g_variant_new_parsed(
      "<[<[<[<%s>, <'dba@example.org'>]>]>,"
      "  <[<[<'night@example.org'>]>]>]>",
      first);
}
// No pager numbers: paging has nothing to do and succeeds.
GVariant* NoPagers() { return g_variant_new_parsed("<[<[<''>]>, <[<''>]>]>"); }
// Subject, SMTP sender, profile, SMTP server, SMTP preference.
GVariant* MailOptions(const std::string& profile, const std::string& from = "",
                      const std::string& server = "") {
  return g_variant_new_parsed("<[<%s>, <%s>, <%s>, <%s>, <''>]>", "Outage", from.c_str(),
                              profile.c_str(), server.c_str());
}

class ProfileRouteTest : public ::testing::Test {
 protected:
  void StartDaemon(const char* seat) {
    daemon_ = std::make_unique<Daemon>(bus_, folder_.path(),
                                       std::vector<std::string>{"--linger", "60", seat});
  }
  CliResult Run(std::vector<std::string> args) const {
    args.insert(args.begin(), {"--address", bus_.address()});
    return RunCli(std::move(args));
  }
  // Sends the request on a new object; the callback's message.
  std::string Deliver(GVariant* options, GVariant* emails = TwoGroupsOfMail()) {
    std::string path = client_.Create();
    Answer a = client_.Call(path, kNotify, "SendMessageCallBack",
                            g_variant_new("(@v@v@v@v(so)s)", TwoGroups(), emails, NoPagers(),
                                          options, "", "/callback", "route-1"));
    EXPECT_EQ(a.Print(), "(<'Notes Server: Asynch mode'>,)");
    auto& got = client_.WaitForCallbacks(1, std::chrono::seconds(60));
    return got.empty() ? "no callback" : got[0].second;
  }

  PrivateBus bus_;
  ProgramFolder folder_;
  std::unique_ptr<Daemon> daemon_;
  Client client_{bus_};
};

TEST_F(ProfileRouteTest, SeatPresentSendsThroughTheProfilesSmtpServer) {
  SmtpSink sink;
  StartDaemon("--seat=present");
  ASSERT_EQ(Run({"profiles", "set", "Ops", "--transport", "smtp://" + sink.server(), "--from",
                 "alerts@example.org"})
                .status,
            0);
  EXPECT_EQ(Deliver(MailOptions("Ops")), "QzNotes: Message Sent") << daemon_->Log();
  auto mails = sink.WaitForMails(2, std::chrono::seconds(20));
  ASSERT_EQ(mails.size(), 2u);
  EXPECT_EQ(mails[0].from, "alerts@example.org");
  EXPECT_EQ(mails[0].to, (std::vector<std::string>{"ops@example.org", "dba@example.org"}));
  EXPECT_EQ(mails[0].Header("To"), "Ops <ops@example.org>");
  EXPECT_EQ(mails[0].Header("Cc"), "dba@example.org");
  EXPECT_EQ(mails[0].Header("Subject"), "Outage");
  EXPECT_EQ(mails[0].Body(), "db1 down\r\n");
  EXPECT_EQ(mails[1].to, std::vector<std::string>{"night@example.org"});
}

TEST_F(ProfileRouteTest, SeatPresentHandsMailToSendmail) {
  SendmailStandIn sendmail;  // on the PATH the daemon inherits
  StartDaemon("--seat=present");
  ASSERT_EQ(Run({"profiles", "set", "Local", "--transport", "sendmail"}).status, 0);
  EXPECT_EQ(Deliver(MailOptions("Local")), "QzNotes: Message Sent") << daemon_->Log();
  std::vector<std::string> mails = sendmail.Mails();
  ASSERT_EQ(mails.size(), 2u);
  EXPECT_EQ(MailHeader(mails[0], "To"), "Ops <ops@example.org>");
  EXPECT_EQ(MailHeader(mails[0], "Cc"), "dba@example.org");
  EXPECT_EQ(MailHeader(mails[1], "To"), "night@example.org");
}

TEST_F(ProfileRouteTest, SeatAbsentFallsBackToSmtpOptions) {
  SmtpSink sink;
  StartDaemon("--seat=absent");
  ASSERT_EQ(Run({"profiles", "set", "Ops", "--transport", "smtp://" + sink.server()}).status, 0);
  // The "name $ address" form belongs to the profile route: plain addresses here.
  EXPECT_EQ(Deliver(MailOptions("Ops", "fallback@example.org", sink.server()),
                    TwoGroupsOfMail("ops@example.org")),
            "QzNotes: Message Sent");
  // The SMTP route: a mail per recipient, from the request's sender.
  auto mails = sink.WaitForMails(3, std::chrono::seconds(20));
  ASSERT_EQ(mails.size(), 3u);
  for (const auto& mail : mails) {
    EXPECT_EQ(mail.from, "fallback@example.org");
    EXPECT_EQ(mail.to.size(), 1u);
  }
}

}  // namespace
}  // namespace qz::testing
