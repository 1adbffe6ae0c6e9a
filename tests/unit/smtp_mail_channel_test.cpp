#include "gateways/mail/smtp_mail_channel.h"

#include <gtest/gtest.h>

#include "automation/names.h"
#include "automation/run_time_error.h"
#include "diagnostics/last_error.h"
#include "fakes.h"

namespace qz::testing {
namespace {

// One mail as the component instance saw it: properties in the order set.
struct Mail {
  std::vector<std::pair<std::string, std::string>> properties;
  bool sent = false;
  std::string Get(std::string_view name) const {
    for (const auto& [n, v] : properties)
      if (n == name) return v;
    return "<unset>";
  }
};

// Stands in for "qzSMTP.cMail": answers the scripted replies in turn, or
// raises when the script says so.
class StubMail : public DispatchObject {
 public:
  StubMail(std::vector<Mail>& mails, std::vector<std::string>& replies)
      : mails_(mails), replies_(replies) {
    mails_.emplace_back();
    index_ = mails_.size() - 1;
  }
  void SetProperty(std::string_view name, const Variant& v) override {
    mails_[index_].properties.emplace_back(name, v.Text());
  }
  Variant CallMethod(std::string_view name, std::span<Variant> args) override {
    if (!AsciiCaseEqual(name, "gvarSendMessage")) return DispatchObject::CallMethod(name, args);
    mails_[index_].sent = true;
    std::string reply = replies_.empty() ? std::string(kAccepted) : replies_.front();
    if (!replies_.empty()) replies_.erase(replies_.begin());
    if (reply.starts_with("raise ")) {
      const int32_t number = std::stoi(reply.substr(6));
      throw RunTimeError(number, "component failed", "qzSMTP.cMail");
    }
    return Variant(reply);
  }
  static constexpr std::string_view kAccepted = "250 Requested mail action okay, completed";

 private:
  std::vector<Mail>& mails_;
  std::vector<std::string>& replies_;
  size_t index_;
};

class SmtpMailChannelTest : public ::testing::Test {
 protected:
  SmtpMailChannelTest() {
    components_.Register(kSmtpMailProgId, [this](std::string_view) {
      return std::make_shared<StubMail>(mails_, replies_);
    });
  }
  bool Send(const Variant& notes, const Variant& lists) {
    std::string snpp;
    SmsSettings sms;
    ChannelCall call{"/nonexistent", components_, "request subject", from_, "", server_, snpp, sms};
    return mblnSendSMTPMail(call, notes, lists);
  }

  ComponentRegistry components_;
  std::vector<Mail> mails_;
  std::vector<std::string> replies_;
  std::string server_ = "  mail.example.org:2525 ";
  std::string from_ = " notes@example.org  ";
};

TEST_F(SmtpMailChannelTest, OneFreshInstancePerMailWithTheFivePropertiesInOrder) {
  Variant notes = List({Variant("  db1 down\r\nsince 10:00 on C:\\data  "), Variant("second")});
  Variant lists = List({List({Variant(" ops@example.org "), Variant("\tdba@example.org")}),
                        List({Variant("night@example.org")})});
  gstrLastError = "left over from an earlier group";
  EXPECT_TRUE(Send(notes, lists));
  EXPECT_EQ(gstrLastError, "");
  ASSERT_EQ(mails_.size(), 3u);
  using Props = std::vector<std::pair<std::string, std::string>>;
  EXPECT_EQ(mails_[0].properties, (Props{{"ServerName", "mail.example.org:2525"},
                                         {"MailFrom", "notes@example.org"},
                                         {"MailTo", "ops@example.org"},
                                         {"Subject", "db1 down since 10:00 on C:/data"},
                                         {"Message", "db1 down since 10:00 on C:/data"}}));
  EXPECT_EQ(mails_[1].Get("MailTo"), "\tdba@example.org");  // only blanks are trimmed
  EXPECT_EQ(mails_[2].Get("MailTo"), "night@example.org");
  EXPECT_EQ(mails_[2].Get("Message"), "second");
  for (const Mail& m : mails_) EXPECT_TRUE(m.sent);
}

TEST_F(SmtpMailChannelTest, SubjectIsTheFirstHundredCharactersOfTheCleanedText) {
  const std::string ascii250 = std::string(120, 'a') + "\n" + std::string(129, 'b');
  std::string accents;  // 150 characters of two bytes each
  for (int i = 0; i < 150; ++i) accents += "\xC3\xA9";
  const struct {
    std::string text;
    std::string subject;
    std::string message;
  } cases[] = {
      {ascii250, std::string(100, 'a'), std::string(120, 'a') + " " + std::string(129, 'b')},
      {std::string(99, 'x') + "\r\nyz", std::string(99, 'x') + " ", std::string(99, 'x') + " yz"},
      {accents, accents.substr(0, 200), accents},
      {"short", "short", "short"},
      {"", "", ""},
  };
  for (const auto& c : cases) {
    mails_.clear();
    EXPECT_TRUE(Send(List({Variant(c.text)}), List({List({Variant("a@example.org")})})));
    ASSERT_EQ(mails_.size(), 1u);
    EXPECT_EQ(mails_[0].Get("Subject"), c.subject);
    EXPECT_EQ(mails_[0].Get("Message"), c.message);
  }
}

TEST_F(SmtpMailChannelTest, OnlyTheSuccessPhraseInAnyLetterCaseCountsAsDelivered) {
  const struct {
    std::string reply;
    bool delivered;
    std::string recorded;
  } cases[] = {
      {"250 Requested mail action okay, completed", true, ""},
      {"250 REQUESTED MAIL ACTION OKAY, COMPLETED", true, ""},
      {"queued: 250 requested Mail action okay, completed (id 7)", true, ""},
      {std::string("250 Requested\0mail action okay, completed", 41), true, ""},
      {"250 OK", false, "\r\n250 OK"},
      {"250 2.0.0 Ok: queued as 12345", false, "\r\n250 2.0.0 Ok: queued as 12345"},
      {"250 Requested mail action okay,completed", false,
       "\r\n250 Requested mail action okay,completed"},
      {"550 5.1.1 No Such User", false, "\r\n550 5.1.1 No Such User"},
      {std::string("451 try\0later", 13), false, "\r\n451 try later"},
      {"", false, "\r\n"},
  };
  for (const auto& c : cases) {
    replies_ = {c.reply};
    EXPECT_EQ(Send(List({Variant("m")}), List({List({Variant("a@example.org")})})), c.delivered)
        << c.reply;
    EXPECT_EQ(gstrLastError, c.recorded) << c.reply;
  }
}

TEST_F(SmtpMailChannelTest, RefusedMailsAreCollectedAndLaterRecipientsStillTried) {
  replies_ = {"550 No Such User", std::string(StubMail::kAccepted), "452 Mailbox Full"};
  Variant notes = List({Variant("a"), Variant("b")});
  Variant lists = List({List({Variant("x@example.org"), Variant("y@example.org")}),
                        List({Variant("z@example.org")})});
  EXPECT_FALSE(Send(notes, lists));
  EXPECT_EQ(gstrLastError, "\r\n550 No Such User\r\n452 Mailbox Full");
  EXPECT_EQ(mails_.size(), 3u);
}

TEST_F(SmtpMailChannelTest, EmptyEntriesAreSkippedButEmptyTextsAreTried) {
  Variant lists = List(
      {List({Variant("first@example.org"), Variant(), Variant(""), Variant("last@example.org")})});
  EXPECT_TRUE(Send(List({Variant("m")}), lists));
  ASSERT_EQ(mails_.size(), 3u);
  EXPECT_EQ(mails_[0].Get("MailTo"), "first@example.org");
  EXPECT_EQ(mails_[1].Get("MailTo"), "");
  EXPECT_EQ(mails_[2].Get("MailTo"), "last@example.org");
}

TEST_F(SmtpMailChannelTest, ArgumentsThatAreNoArraysSendNothingAndSucceed) {
  const std::pair<Variant, Variant> cases[] = {
      {Variant(), List({})},
      {Variant("text"), List({})},
      {List({Variant("x")}), Variant()},
      {List({Variant("x")}), Variant(int16_t{3})},
      {List({Variant("x"), Variant("y")}), List({Variant(), Variant("not a list")})},
  };
  for (const auto& [notes, lists] : cases) {
    gstrLastError = "stale";
    EXPECT_TRUE(Send(notes, lists));
    EXPECT_EQ(gstrLastError, "");
  }
  EXPECT_TRUE(mails_.empty());
}

TEST_F(SmtpMailChannelTest, RunTimeFailuresStopTheGroup) {
  Variant two = List({Variant("a"), Variant("b")});
  const struct {
    const char* why;
    Variant notes;
    Variant lists;
    std::vector<std::string> replies;
    std::string last_error;
    size_t mails_made;
  } cases[] = {
      {"fewer lists than messages",
       two,
       List({List({Variant("1@x.org")})}),
       {},
       "Subscript out of range.\r\n",
       1},
      {"message Null",
       List({Variant::Null()}),
       List({List({Variant("1@x.org")})}),
       {},
       "Invalid use of Null.\r\n",
       0},
      {"recipient Null",
       List({Variant("a")}),
       List({List({Variant::Null(), Variant("2@x.org")})}),
       {},
       "Invalid use of Null.\r\n",
       1},
      // The instance exists before its properties are set.
      {"nested list as recipient",
       List({Variant("a")}),
       List({List({List({})})}),
       {},
       "Type mismatch.\r\n",
       1},
      {"messages without dimensions",
       Variant::NoDimensions(),
       List({}),
       {},
       "Subscript out of range.\r\n",
       0},
      // An error numbered above 0 replaces the replies collected so far...
      {"component raises after a refusal",
       two,
       List({List({Variant("1@x.org"), Variant("2@x.org")}), List({Variant("3@x.org")})}),
       {"550 refused", "raise 5"},
       "component failed.\r\n",
       2},
      // ...one numbered below 0 leaves them, and the answer is still false.
      {"negative error after a refusal",
       two,
       List({List({Variant("1@x.org"), Variant("2@x.org")}), List({Variant("3@x.org")})}),
       {"550 refused", "raise -2147467259"},
       "\r\n550 refused",
       2},
  };
  for (const auto& c : cases) {
    mails_.clear();
    replies_ = c.replies;
    EXPECT_FALSE(Send(c.notes, c.lists)) << c.why;
    EXPECT_EQ(gstrLastError, c.last_error) << c.why;
    EXPECT_EQ(mails_.size(), c.mails_made) << c.why;
  }
}

TEST_F(SmtpMailChannelTest, MissingComponentIsReportedOnceAndNothingIsSent) {
  components_.Unregister(kSmtpMailProgId);
  Variant lists =
      List({List({Variant("1@x.org"), Variant("2@x.org")}), List({Variant("3@x.org")})});
  EXPECT_FALSE(Send(List({Variant("a"), Variant("b")}), lists));
  EXPECT_EQ(gstrLastError, "ActiveX component can't create object.\r\n");
}

}  // namespace
}  // namespace qz::testing
