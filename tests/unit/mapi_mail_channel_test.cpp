// The profile e-mail channel and cEmail on the host form's mail controls,
// delivering through a stand-in sendmail: which entries become To and Cc,
// which messages are dropped, and how failures end.
#include "gateways/mail/mapi_mail_channel.h"

#include <gtest/gtest.h>

#include "automation/component_registry.h"
#include "diagnostics/last_error.h"
#include "dispatch/frm_notes.h"
#include "fakes.h"
#include "gateways/mail/c_email.h"
#include "gateways/mail/mail_profile.h"
#include "platform/registry_store.h"
#include "platform/seat_override.h"
#include "support/sendmail_stand_in.h"

namespace qz::testing {
namespace {

class MapiMailChannelTest : public ::testing::Test {
 protected:
  MapiMailChannelTest() : context_(g_main_context_new()) {
    EXPECT_EQ(store_.ReplaceValues(kHkeyCurrentUser, std::string(kMessageProfilesKey) + "ops",
                                   {{"Transport", "sendmail"}, {"From", "server@example.org"}}),
              kRegOk);
  }
  ~MapiMailChannelTest() override {
    form_.reset();
    g_main_context_unref(context_);
  }

  bool Send(const Variant& notes, const Variant& lists, std::string profile = "ops") {
    profile_ = std::move(profile);
    ChannelCall call{folder_.path(), components_, "Alert",    "", profile_, "",
                     snpp_,          sms_,        form_.get()};
    return mblnSendMail(call, notes, lists);
  }

  TempFolder folder_;
  RegistryStore store_{folder_.File("QzRegistry.db")};
  GMainContext* context_;
  std::unique_ptr<frmNotes> form_ = std::make_unique<frmNotes>(context_, &store_);
  ComponentRegistry components_;
  std::string profile_;
  std::string snpp_;
  SmsSettings sms_;
  SendmailStandIn sendmail_;
};

TEST_F(MapiMailChannelTest, EntriesBecomeToAndCcByTheirRules) {
  struct Case {
    Variant list;
    const char* to;  // nullptr: nothing is sent
    const char* cc;
    const char* why;
  };
  const Case cases[] = {
      {List({Variant(" ops@example.org ")}), "ops@example.org", "", "trimmed; only To, no Cc"},
      {List({Variant("Night Shift $ night@example.org")}), "Night Shift <night@example.org>", "",
       "name $ address"},
      {List({Variant("$night@example.org")}), "night@example.org", "",
       "leading $: no display name"},
      {List({Variant("a@example.org"), Variant("nobody"), Variant("c@example.org")}),
       "a@example.org", "c@example.org", "entry 1 without @ skipped, entry 2 Cc"},
      {List({Variant("a@example.org"), Variant::Null(), Variant(), Variant("Dev $ d@example.org")}),
       "a@example.org", "Dev <d@example.org>", "Null and Empty entries skipped"},
      {List({Variant("a@example.org"), Variant("name $ no-at-sign")}), "a@example.org", "",
       "$ without @ skipped"},
      {List({Variant(""), Variant("b@example.org")}), nullptr, nullptr, "entry 0 empty: dropped"},
      {List({Variant("Bare Name"), Variant("b@example.org")}), nullptr, nullptr,
       "entry 0 no @: dropped"},
      {List({Variant::Null(), Variant("b@example.org")}), nullptr, nullptr,
       "entry 0 Null: dropped"},
  };
  size_t expected_mails = 0;
  for (const Case& c : cases) {
    EXPECT_TRUE(Send(List({Variant("db1\r\ndown")}), List({c.list})))
        << c.why << ": " << gstrLastError;
    std::vector<std::string> mails = sendmail_.Mails();
    if (!c.to) {
      EXPECT_EQ(mails.size(), expected_mails) << c.why;
      continue;
    }
    ASSERT_EQ(mails.size(), ++expected_mails) << c.why;
    const std::string& mail = mails.back();
    EXPECT_EQ(MailHeader(mail, "To"), c.to) << c.why;
    EXPECT_EQ(MailHeader(mail, "Cc"), c.cc) << c.why;
    EXPECT_EQ(MailHeader(mail, "From"), "server@example.org");
    EXPECT_EQ(MailHeader(mail, "Subject"), "Alert");
    EXPECT_NE(mail.find("\r\n\r\ndb1 down"), std::string::npos) << "one line, cleaned: " << mail;
    EXPECT_EQ(sendmail_.Arguments(static_cast<int>(expected_mails - 1)), "-t -i\n");
  }
}

TEST_F(MapiMailChannelTest, OneMailPerMessageAndFailuresGoOnToTheNext) {
  Variant notes = List({Variant("m0"), Variant("m1"), Variant("m2"), Variant("m3")});
  Variant lists = List({List({Variant("x $ a@example.org $ y")}),  // second $ stays in the address
                        List({Variant("b@example.org")}), Variant(), Variant("not a list")});
  EXPECT_FALSE(Send(notes, lists));
  EXPECT_EQ(gstrLastError, "Unknown recipient: 'a@example.org $ y' is no e-mail address.\r\n");
  ASSERT_EQ(sendmail_.Mails().size(), 1u);
  EXPECT_EQ(MailHeader(sendmail_.Mails()[0], "To"), "b@example.org");
}

TEST_F(MapiMailChannelTest, SessionFailuresAndWhatNeedsNoSession) {
  const Variant notes = List({Variant("m0")});
  const Variant lists = List({List({Variant("a@example.org")})});
  struct Case {
    std::function<bool()> send;
    bool result;
    std::string last_error;
    const char* why;
  };
  const Case cases[] = {
      {[&] { return Send(notes, lists, "nope"); }, false,
       "Login has failed: there is no mail profile named 'nope'.\r\n", "unknown profile"},
      {[&] { return Send(notes, Variant(), "nope"); }, true, "", "lists Empty: no sign-on at all"},
      {[&] { return Send(Variant("text"), lists, "nope"); }, true, "", "messages not an array"},
      {[&] { return Send(Variant::NoDimensions(), lists); }, false, "Subscript out of range.\r\n",
       "the channel's own failure"},
      {[&] { return Send(notes, List({List({})})); }, false, "Subscript out of range.\r\n",
       "an empty recipient list fails inside cEmail"},
      {[&] {
         return Send(List({Variant("m0"), Variant("m1")}), lists);
       },
       false, "Subscript out of range.\r\n", "fewer lists than messages stops the group"},
      {[&] {
         form_.reset();
         return Send(notes, lists);
       },
       false, "Object variable or With block variable not set.\r\n", "no host form"},
  };
  for (const Case& c : cases) {
    gstrLastError = "stale";
    EXPECT_EQ(c.send(), c.result) << c.why;
    EXPECT_EQ(gstrLastError, c.last_error) << c.why;
  }
  // Only message 0 of the group whose lists ran short went out.
  ASSERT_EQ(sendmail_.Mails().size(), 1u);
  EXPECT_NE(sendmail_.Mails()[0].find("\r\n\r\nm0"), std::string::npos);
}

TEST_F(MapiMailChannelTest, RefusedHandOffIsReportedAndTheSessionEndsAtRelease) {
  sendmail_.Fail();
  EXPECT_FALSE(Send(List({Variant("m0")}), List({List({Variant("a@example.org")})})));
  EXPECT_EQ(gstrLastError,
            "The mail was not sent: sendmail exited with status 75: queue is full.\r\n");
  // Signed off when the channel let go of its cEmail.
  EXPECT_EQ(form_->MAPISession1.SessionID(), nullptr);
  ASSERT_NE(form_->MAPIMessages1.SessionID, nullptr);
  EXPECT_FALSE(form_->MAPIMessages1.SessionID->open);
  EXPECT_THROW(form_->MAPIMessages1.Send(), RunTimeError);
}

TEST_F(MapiMailChannelTest, HostileEntriesEndAsUnknownRecipientsOrQuotedNames) {
  struct Case {
    Variant entry;
    const char* to;  // nullptr: refused, with this text in gstrLastError
    const char* error;
  };
  const std::string long_local = std::string(1000, 'a') + "@example.org";
  const Case cases[] = {
      {Variant("Ann \"The Boss\" $ ann@example.org"), "\"Ann \\\"The Boss\\\"\" <ann@example.org>",
       ""},
      {Variant("Ops, Night $ ops@example.org"), "\"Ops, Night\" <ops@example.org>", ""},
      {Variant(long_local), nullptr, "is no e-mail address"},
      {Variant("a@example.org\r\nBcc: victim@example.org"), nullptr, "is no e-mail address"},
      {Variant("Ann\nLee $ ann@example.org"), nullptr,
       "display name of ann@example.org holds a line break"},
      {Variant("<ops@example.org>"), nullptr, "is no e-mail address"},
  };
  for (const Case& c : cases) {
    size_t before = sendmail_.Mails().size();
    bool sent = Send(List({Variant("m")}), List({List({c.entry})}));
    if (c.to) {
      EXPECT_TRUE(sent) << c.entry.Text() << ": " << gstrLastError;
      ASSERT_EQ(sendmail_.Mails().size(), before + 1);
      EXPECT_EQ(MailHeader(sendmail_.Mails().back(), "To"), c.to);
    } else {
      EXPECT_FALSE(sent) << c.entry.Text();
      EXPECT_NE(gstrLastError.find(c.error), std::string::npos) << gstrLastError;
      EXPECT_TRUE(gstrLastError.starts_with("Unknown recipient: ")) << gstrLastError;
      EXPECT_EQ(sendmail_.Mails().size(), before);
    }
  }
}

TEST(SeatOption, ModesAndWhatTheyAnswer) {
  EXPECT_EQ(ParseSeatMode("auto"), SeatMode::kAuto);
  EXPECT_EQ(ParseSeatMode("present"), SeatMode::kPresent);
  EXPECT_EQ(ParseSeatMode("absent"), SeatMode::kAbsent);
  for (const char* bad : {"", "Present", "yes", "present "})
    EXPECT_FALSE(ParseSeatMode(bad)) << bad;
  ConfiguredSeatProbe present(SeatMode::kPresent), absent(SeatMode::kAbsent);
  EXPECT_TRUE(present.UserAtSeat());
  EXPECT_FALSE(absent.UserAtSeat());
}

TEST(MailProfileRules, TransportsAndNames) {
  struct Case {
    const char* transport;
    bool usable;
  } cases[] = {{"sendmail", true},
               {"smtp://relay", true},
               {"SMTPS://u:p@relay:465", true},
               {"smtp://user@", false},
               {"smtp://:25", false},
               {"http://relay", false},
               {"Sendmail", false},
               {"", false},
               {"smtp://relay\r\nx", false}};
  for (const Case& c : cases)
    EXPECT_EQ(TransportProblem(c.transport).empty(), c.usable) << c.transport;
  EXPECT_TRUE(ProfileNameProblem("Ops Desk").empty());
  EXPECT_FALSE(ProfileNameProblem("").empty());
  EXPECT_FALSE(ProfileNameProblem("a\\b").empty());
  EXPECT_FALSE(ProfileNameProblem(std::string(256, 'n')).empty());
}

}  // namespace
}  // namespace qz::testing
