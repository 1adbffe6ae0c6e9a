// E-mail through qznotesd on a private bus, end to end: mail profiles kept
// with qznotes profiles and listed by GetMessageProfiles, and requests taking
// the profile route (the user at the seat) or the SMTP route to an SMTP
// server on loopback, with the callbacks and log the client sees.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "cli_runner.h"
#include "daemon_harness.h"
#include "support/smtp_sink.h"

namespace qz::testing {
namespace {

using ::testing::HasSubstr;

constexpr const char* kInvalidArgs = "org.freedesktop.DBus.Error.InvalidArgs";

class SmtpDaemonTest : public ::testing::Test {
 protected:
  CliResult Run(std::vector<std::string> args) const {
    args.insert(args.begin(), {"--address", bus_.address()});
    return RunCli(std::move(args));
  }
  Answer Profiles(const char* method, GVariant* args) {
    return client_.Call(kRoot, "org.qznotes.QzNotes.Profiles", method, args);
  }
  // Two groups, two messages in the first; no pages. `any`: subject, SMTP
  // sender, profile, SMTP server, SMTP preference. The callback's message.
  std::string Deliver(const char* email, GVariant* any) {
    const std::string id = "mail-" + std::to_string(++requests_);
    Answer a = SendMessage(
        client_, client_.Create(), id.c_str(),
        g_variant_new_parsed("<[<[<'db1 down'>, <'db2 slow'>]>, <[<'web1 unreachable'>]>]>"),
        g_variant_new_parsed(email), g_variant_new_parsed("<[<byte 0>, <byte 0>]>"), any);
    EXPECT_EQ(a.Print(), "(<'Notes Server: Asynch mode'>,)");
    const auto& got = client_.WaitForCallbacks(requests_, 60s);
    if (got.size() < requests_) return "no callback";
    EXPECT_EQ(got.back().first, id);
    return got.back().second;
  }

  // The first `count` mails the sink stored, as "sender > recipients: subject".
  static std::vector<std::string> Mails(const SmtpSink& sink, size_t count) {
    std::vector<std::string> mails;
    for (const SunkMail& mail : sink.WaitForMails(count, 20s)) {
      mails.push_back(mail.from + " >");
      for (const std::string& to : mail.to) mails.back() += " " + to;
      mails.back() += ": " + mail.Header("Subject");
    }
    return mails;
  }

  PrivateBus bus_;
  ProgramFolder folder_;  // sample settings: gateway 0, the pager terminal
  Daemon daemon_{bus_, folder_.path(), {"--linger", "60", "--seat=present"}};
  Client client_{bus_};
  size_t requests_ = 0;
};

TEST_F(SmtpDaemonTest, ProfilesAreRefusedListedAndRemovedWithTheClient) {
  const struct {
    std::vector<std::string> args;
    int status;
    const char* err;
  } refused[] = {
      {{"profiles", "set", "x", "--transport", "http://relay"}, 1, "smtp:// or smtps://"},
      {{"profiles", "set", "a\\b", "--transport", "sendmail"}, 1, "must not hold"},
      {{"profiles", "set", "x", "--transport", "sendmail", "--from", "a@b\nc"}, 1, "line break"},
      {{"profiles", "set", "x"}, 2, "needs --transport"},
      {{"profiles", "remove"}, 2, "one profile name"},
      {{"profiles", "list", "--from", "a@b"}, 2, "belong to profiles set"},
      {{"profiles", "rename", "x"}, 2, "no action rename"},
      {{"profiles", "remove", "Ops Desk"}, 1, "no profile named Ops Desk"},
  };
  for (const auto& c : refused) {
    CliResult r = Run(c.args);
    EXPECT_EQ(r.status, c.status) << r.Describe();
    EXPECT_THAT(r.err, HasSubstr(c.err)) << r.Describe();
  }
  // Wrong argument types, and a name that is no profile, on the bus itself.
  for (const char* method : {"Set", "Remove"})
    EXPECT_EQ(Profiles(method, g_variant_new("(s)", "x")).error, kInvalidArgs) << method;

  ASSERT_EQ(Run({"profiles", "set", "Ops Desk", "--transport", "smtp://relay.example"}).status, 0);
  ASSERT_EQ(Run({"profiles", "set", "backup", "--transport", "sendmail"}).status, 0);
  EXPECT_EQ(Run({"profiles"}).out, "backup\nOps Desk\n");
  EXPECT_EQ(Run({"--json", "profiles", "list"}).out, "[\"backup\",\"Ops Desk\"]\n");
  // The same names through cNotify, on an object and one-shot on the factory path.
  for (const std::string& path : {client_.Create(), std::string(kRoot)})
    EXPECT_EQ(client_.Call(path, kNotify, "GetMessageProfiles", nullptr).Print(),
              "(<[<'backup'>, <'Ops Desk'>]>,)");
  ASSERT_EQ(Run({"profiles", "remove", "ops desk"}).status, 0);  // names ignore case
  EXPECT_EQ(Run({"profiles", "list"}).out, "backup\n");
}

TEST_F(SmtpDaemonTest, RequestsTakeTheProfileRouteOrTheSmtpRoute) {
  SmtpSink sink({{"--refuse-rcpt", "gone@x.org"}});
  ASSERT_TRUE(
      Profiles("Set", g_variant_new_parsed("('Ops', {'Transport': %s, 'From': 'ops@x.org'})",
                                           ("smtp://" + sink.server()).c_str()))
          .ok());
  // A mail per message: entry 0 To, the others Cc, by the "name $ address" rule.
  EXPECT_EQ(Deliver("<[<[<[<'Ops $ ops@x.org'>, <'dba@x.org'>]>, <[<'night@x.org'>]>]>, "
                    "<[<[<'web@x.org'>]>]>]>",
                    g_variant_new_parsed("<[<'Outage'>, <''>, <'Ops'>, <''>, <''>]>")),
            "QzNotes: Message Sent")
      << daemon_.Log();
  EXPECT_EQ(Mails(sink, 3), (std::vector<std::string>{"ops@x.org > ops@x.org dba@x.org: Outage",
                                                      "ops@x.org > night@x.org: Outage",
                                                      "ops@x.org > web@x.org: Outage"}));
  EXPECT_EQ(folder_.Read("QzNotesLog.log"), "");

  // A mail per recipient with the text as its subject; refusals go to the log.
  EXPECT_EQ(Deliver("<[<[<[<'ops@x.org'>, <'gone@x.org'>, <''>]>, <[<'dba@x.org'>]>]>, "
                    "<[<[<'web@x.org'>]>]>]>",
                    g_variant_new_parsed(
                        "<[<'Outage'>, <'QzNotes <notes@x.org>'>, <''>, <%s>, <'True'>]>",
                        sink.server().c_str())),
            "QzNotes: Message Undeliverable. See QzNotesLog.log file for details ");
  const std::vector<std::string> mails = Mails(sink, 6);
  EXPECT_EQ(std::vector(mails.begin() + std::min<size_t>(3, mails.size()), mails.end()),
            (std::vector<std::string>{"notes@x.org > ops@x.org: db1 down",
                                      "notes@x.org > dba@x.org: db2 slow",
                                      "notes@x.org > web@x.org: web1 unreachable"}));
  // Refused by the server, and by the mail component before it.
  EXPECT_THAT(folder_.Read("QzNotesLog.log"),
              HasSubstr("Mail Status: \r\n550 5.1.1 <gone@x.org>: Recipient address rejected by "
                        "the test sink\r\nMail not sent: a To recipient address \"\" is not a "
                        "valid e-mail address::"));
}

}  // namespace
}  // namespace qz::testing
