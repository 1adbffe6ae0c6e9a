// The profile e-mail channel and cEmail on the host form's mail controls,
// delivering through a stand-in sendmail: which entries become To and Cc,
// which messages are dropped, and how failures end.
#include "gateways/mail/mapi_mail_channel.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <tuple>

#include "automation/component_registry.h"
#include "diagnostics/last_error.h"
#include "fakes.h"
#include "gateways/mail/mail_profile.h"
#include "gateways/mail/mail_system.h"
#include "platform/registry_store.h"
#include "support/sendmail_stand_in.h"

namespace qz::testing {
namespace {

class MapiMailChannelTest : public ::testing::Test {
 protected:
  MapiMailChannelTest() {
    EXPECT_EQ(store_.ReplaceValues(kHkeyCurrentUser, std::string(kMessageProfilesKey) + "ops",
                                   {{"Transport", "sendmail"}, {"From", "server@example.org"}}),
              kRegOk);
  }
  bool Send(const Variant& notes, const Variant& lists, std::string_view profile = "ops") {
    std::string snpp;
    GatewayStates kept;
    ChannelCall call{folder_.path(), components_, "Alert",        "", profile, "",
                     snpp,           kept,        controls_.get()};
    return mblnSendMail(call, notes, lists);
  }

  TempFolder folder_;
  RegistryStore store_{folder_.File("QzRegistry.db")};
  std::unique_ptr<MailControls> controls_ = std::make_unique<MailControls>(&store_);
  ComponentRegistry components_;
  SendmailStandIn sendmail_;
};

TEST_F(MapiMailChannelTest, EntriesBecomeToAndCcByTheirRules) {
  const Variant a("a@example.org"), null = Variant::Null();
  // The list, then To and Cc; nullptr: nothing is sent.
  const std::tuple<Variant, const char*, const char*> cases[] = {
      {List({Variant(" ops@example.org ")}), "ops@example.org", ""},
      {List({Variant("Night Shift $ night@example.org")}), "Night Shift <night@example.org>", ""},
      {List({a, Variant("nobody"), Variant("c@example.org")}), "a@example.org", "c@example.org"},
      {List({a, null, Variant(), Variant("Dev $ d@example.org")}), "a@example.org",
       "Dev <d@example.org>"},
      {List({a, Variant("name $ no-at-sign")}), "a@example.org", ""},
      {List({Variant(""), a}), nullptr, nullptr},
      {List({null, a}), nullptr, nullptr},
  };
  size_t sent = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);  // the row
    const auto& [list, to, cc] = c;
    EXPECT_TRUE(Send(List({Variant("db1\r\ndown")}), List({list}))) << gstrLastError;
    const std::vector<std::string> mails = sendmail_.Mails();
    ASSERT_EQ(mails.size(), to ? ++sent : sent);
    if (!to) continue;
    EXPECT_EQ(MailHeader(mails.back(), "To"), to);
    EXPECT_EQ(MailHeader(mails.back(), "Cc"), cc);
    EXPECT_EQ(MailHeader(mails.back(), "From"), "server@example.org");
    EXPECT_EQ(MailHeader(mails.back(), "Subject"), "Alert");
    EXPECT_TRUE(mails.back().starts_with("-t -i\n")) << "sendmail's arguments";
    EXPECT_TRUE(mails.back().ends_with("\r\n\r\ndb1 down\r\n")) << "one line, cleaned";
  }
}

TEST_F(MapiMailChannelTest, FailuresAndWhatNeedsNoSession) {
  const Variant m0 = List({Variant("m0")}), lists = List({List({Variant("a@example.org")})});
  // Messages, lists, profile; whether sent, gstrLastError.
  const std::tuple<Variant, Variant, std::string, bool, std::string> cases[] = {
      {m0, lists, "nope", false, "Login has failed: there is no mail profile named 'nope'.\r\n"},
      {m0, Variant(), "nope", true, ""},                                    // no sign-on at all
      {m0, List({List({})}), "ops", false, "Subscript out of range.\r\n"},  // inside cEmail
      {m0, List({List({Variant("Ann\nLee $ ann@example.org")})}), "ops", false,
       "Unknown recipient: the display name of ann@example.org holds a line break.\r\n"},
      // One mail per message; a failure goes on to the next.
      {List({Variant("m1"), Variant("m2"), Variant("m3"), Variant("m4")}),
       List({List({Variant("x $ a@example.org $ y")}), List({Variant("b@example.org")}), Variant(),
             Variant("not a list")}),
       "ops", false, "Unknown recipient: 'a@example.org $ y' is no e-mail address.\r\n"},
  };
  for (const auto& [notes, given, profile, sent, last_error] : cases) {
    gstrLastError = "stale";
    EXPECT_EQ(Send(notes, given, profile), sent) << last_error;
    EXPECT_EQ(gstrLastError, last_error);
  }
  const std::vector<std::string> mails = sendmail_.Mails();
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_TRUE(mails[0].ends_with("\r\n\r\nm2\r\n") &&
              MailHeader(mails[0], "To") == "b@example.org");
  controls_.reset();
  EXPECT_FALSE(Send(m0, lists));
  EXPECT_EQ(gstrLastError, "Object variable or With block variable not set.\r\n");
}

TEST_F(MapiMailChannelTest, RefusedHandOffIsReportedAndTheSessionEndsAtRelease) {
  sendmail_.Fail();
  EXPECT_FALSE(Send(List({Variant("m0")}), List({List({Variant("a@example.org")})})));
  EXPECT_EQ(gstrLastError,
            "The mail was not sent: sendmail exited with status 75: queue is full.\r\n");
  // Signed off when the channel let go of its cEmail.
  EXPECT_EQ(controls_->MAPISession1.SessionID(), nullptr);
  ASSERT_NE(controls_->MAPIMessages1.SessionID, nullptr);
  EXPECT_FALSE(controls_->MAPIMessages1.SessionID->open);
  EXPECT_THROW(controls_->MAPIMessages1.Send(), RunTimeError);
}

// A sendmail that will not stop complaining is cut short: a few KiB of it
// are held and reported, its writes beyond are refused.
TEST_F(MapiMailChannelTest, EndlessComplaintIsCutShort) {
  sendmail_.FailAtLength();
  EXPECT_FALSE(Send(List({Variant("m0")}), List({List({Variant("a@example.org")})})));
  EXPECT_THAT(gstrLastError,
              ::testing::AllOf(::testing::StartsWith("The mail was not sent: sendmail exited with "
                                                     "status 75: queue is full\nqueue is full\n"),
                               ::testing::SizeIs(::testing::Lt(4200u))));
  EXPECT_TRUE(sendmail_.HeldBack());
}

TEST(MailProfileRules, TransportsAndNames) {
  EXPECT_EQ(TransportProblem("SMTPS://u:p@relay:465") + TransportProblem("sendmail"), "");
  for (const char* unusable : {"Sendmail", "smtp://user@", "smtp://:25", "smtp://relay\r\nx"})
    EXPECT_NE(TransportProblem(unusable), "") << unusable;
  EXPECT_EQ(ProfileNameProblem(std::string(255, 'n')), "");
  for (const std::string& unusable : {std::string(256, 'n'), std::string()})
    EXPECT_NE(ProfileNameProblem(unusable), "") << unusable;
}

}  // namespace
}  // namespace qz::testing
