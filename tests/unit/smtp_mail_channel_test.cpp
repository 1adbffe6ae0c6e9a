#include "gateways/mail/smtp_mail_channel.h"

#include <gtest/gtest.h>

#include <tuple>

#include "automation/names.h"
#include "automation/run_time_error.h"
#include "diagnostics/last_error.h"
#include "fakes.h"

namespace qz::testing {
namespace {

using Properties = std::vector<std::pair<std::string, std::string>>;

// Stands in for "qzSMTP.cMail": records the properties of each instance in
// the order set and answers the scripted replies in turn ("raise" raises error 5).
class StubMail : public DispatchObject {
 public:
  StubMail(std::vector<Properties>& mails, std::vector<std::string>& replies)
      : mails_(mails), replies_(replies), index_(mails.size()) {
    mails_.emplace_back();
  }
  void SetProperty(std::string_view name, const Variant& v) override {
    mails_[index_].emplace_back(name, v.Text());
  }
  Variant CallMethod(std::string_view name, std::span<Variant> args) override {
    if (!AsciiCaseEqual(name, "gvarSendMessage")) return DispatchObject::CallMethod(name, args);
    std::string reply = replies_.empty() ? std::string(kAccepted) : replies_.front();
    if (!replies_.empty()) replies_.erase(replies_.begin());
    if (reply == "raise") throw RunTimeError(5, "component failed", "qzSMTP.cMail");
    return Variant(reply);
  }
  static constexpr std::string_view kAccepted = "250 Requested mail action okay, completed";

 private:
  std::vector<Properties>& mails_;
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
    GatewayStates kept;
    ChannelCall call{"/none", components_, "subject", " n@x.org  ", "", "  mx:2525 ", snpp, kept};
    return mblnSendSMTPMail(call, notes, lists);
  }
  std::string Get(size_t mail, std::string_view name) const {
    for (const auto& [n, v] : mails_.at(mail))
      if (n == name) return v;
    return "<unset>";
  }

  ComponentRegistry components_;
  std::vector<Properties> mails_;
  std::vector<std::string> replies_;
};

TEST_F(SmtpMailChannelTest, OneFreshInstancePerNonEmptyEntryWithTheFivePropertiesInOrder) {
  std::string accents;  // 150 characters of two bytes each
  for (int i = 0; i < 150; ++i) accents += "\xC3\xA9";
  const Variant notes =
      List({Variant("  db1 down\r\nsince 10:00 on C:\\data  "), Variant(accents)});
  const Variant lists = List(
      {List({Variant(" ops@example.org "), Variant(), Variant("\tdba@example.org"), Variant("")}),
       List({Variant("night@example.org")})});
  gstrLastError = "left over from an earlier group";
  EXPECT_TRUE(Send(notes, lists));
  EXPECT_EQ(gstrLastError, "");
  ASSERT_EQ(mails_.size(), 4u);
  EXPECT_EQ(mails_[0], (Properties{{"ServerName", "mx:2525"},
                                   {"MailFrom", "n@x.org"},
                                   {"MailTo", "ops@example.org"},
                                   {"Subject", "db1 down since 10:00 on C:/data"},
                                   {"Message", "db1 down since 10:00 on C:/data"}}));
  EXPECT_EQ(Get(1, "MailTo"), "\tdba@example.org");  // only blanks are trimmed
  EXPECT_EQ(Get(2, "MailTo"), "");                   // Empty is skipped, "" is tried
  EXPECT_EQ(Get(3, "MailTo"), "night@example.org");
  EXPECT_EQ(Get(3, "Subject"), accents.substr(0, 200));  // the first 100 characters
  EXPECT_EQ(Get(3, "Message"), accents);
}

TEST_F(SmtpMailChannelTest, WhatAGroupAnswersRecordsAndTriesNext) {
  const Variant one = List({Variant("m")}), two = List({Variant("a"), Variant("b")});
  const Variant l1 = List({List({Variant("1@x.org")})});
  const Variant l3 =
      List({List({Variant("1@x.org"), Variant("2@x.org")}), List({Variant("3@x.org")})});
  const Variant null_to = List({List({Variant::Null(), Variant("2@x.org")})});
  const std::string ok(StubMail::kAccepted);
  const std::string range = "Subscript out of range.\r\n", null = "Invalid use of Null.\r\n";
  // Messages, lists, the replies; whether delivered, gstrLastError, instances made, why.
  using Replies = std::vector<std::string>;
  const std::tuple<Variant, Variant, Replies, bool, std::string, size_t, const char*> cases[] = {
      // Only the success phrase, in any letter case, counts as delivered.
      {one, l1, {"queued: 250 requested Mail action okay, completed (7)"}, true, "", 1, "inside"},
      {one, l1, {"250 OK"}, false, "\r\n250 OK", 1, "another 250 reply"},
      {one, l1, {std::string("451 try\0later", 13)}, false, "\r\n451 try later", 1, "NUL"},
      {two, l3, {"550 No Such", ok, "452 Full"}, false, "\r\n550 No Such\r\n452 Full", 3, "go on"},
      {Variant("text"), l3, {}, true, "", 0, "messages no array"},
      {two, Variant(int16_t{3}), {}, true, "", 0, "lists no array"},
      {two, List({Variant(), Variant("x")}), {}, true, "", 0, "a list Empty, one no array"},
      {two, l1, {}, false, range, 1, "fewer lists than messages"},
      {Variant::NoDimensions(), List({}), {}, false, range, 0, "messages without dimensions"},
      {one, null_to, {}, false, null, 1, "recipient Null: made, then refused"},
      {one, List({List({List({})})}), {}, false, "Type mismatch.\r\n", 1, "list as recipient"},
      // What the component raises replaces the replies collected so far.
      {two, l3, {"550 no", "raise"}, false, "component failed.\r\n", 2, "raises 5"},
  };
  for (const auto& [notes, lists, replies, delivered, last_error, mails_made, why] : cases) {
    mails_.clear();
    replies_ = replies;
    gstrLastError = "stale";
    EXPECT_EQ(Send(notes, lists), delivered) << why;
    EXPECT_EQ(gstrLastError, last_error) << why;
    EXPECT_EQ(mails_.size(), mails_made) << why;
  }
}

}  // namespace
}  // namespace qz::testing
