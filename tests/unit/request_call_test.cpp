#include <gtest/gtest.h>

#include "dispatch_fixture.h"

namespace qz::testing {
namespace {

constexpr const char* kAccepted = "Notes Server: Asynch mode";

struct RouteCase {
  const char* why;
  Variant options;
  bool user_at_seat;
  std::string answer;
  int seat_calls;
  std::string mail_channel;  // "" when no e-mail is sent
  std::string profile, server, from;
};

Variant Options(Variant subject, Variant from, Variant profile, Variant server, Variant prefer) {
  return List({subject, from, profile, server, prefer});
}

TEST_F(DispatchTest, OptionDecision) {
  const Variant s("Subject"), f("from@example.org"), p("Profile"), m("mail.example.org"), e(""),
      n = Variant::Null();
  const RouteCase cases[] = {
      {"options not an array", Variant("x"), true, kAccepted, 0, "", "", "", ""},
      {"options Empty", Variant(), true, kAccepted, 0, "", "", "", ""},
      {"subject empty, short array", List({e}), true, kAccepted, 0, "", "", "", ""},
      {"subject Null", List({n}), true, kAccepted, 0, "", "", "", ""},
      {"forced SMTP", Options(s, f, p, m, Variant("True")), true, kAccepted, 0, "smtp", "",
       "mail.example.org", "from@example.org"},
      {"Boolean True is the text True", Options(s, f, e, m, Variant::Boolean(true)), true,
       kAccepted, 0, "smtp", "", "mail.example.org", "from@example.org"},
      {"preference in other case", Options(s, f, p, m, Variant("TRUE")), true, kAccepted, 1, "mail",
       "Profile", "", ""},
      {"no user: SMTP fallback", Options(s, f, p, m, Variant("true")), false, kAccepted, 1, "smtp",
       "", "mail.example.org", "from@example.org"},
      {"user: MAPI even with SMTP options", Options(s, f, p, m, e), true, kAccepted, 1, "mail",
       "Profile", "", ""},
      {"profile only, no user", Options(s, e, p, e, e), false, kAccepted, 1, "", "", "", ""},
      {"subject only", Options(s, e, e, e, e), false, kAccepted, 1, "", "", "", ""},
      {"preference Null", Options(s, f, e, m, n), true, kAccepted, 1, "smtp", "",
       "mail.example.org", "from@example.org"},
      {"four elements", List({s, f, p, m}), true, "Notes Server: Subscript out of range", 0, "", "",
       "", ""},
      {"sender Null", Options(s, n, e, m, e), true, "Notes Server: Invalid use of Null", 0, "", "",
       "", ""},
      {"profile Null at the MAPI test", Options(s, f, n, m, e), true,
       "Notes Server: Invalid use of Null", 1, "", "", "", ""},
      {"no dimensions", Variant::NoDimensions(), true, "Notes Server: Subscript out of range", 0,
       "", "", "", ""},
      {"subject an array", List({List({})}), true, "Notes Server: Type mismatch", 0, "", "", "",
       ""},
  };
  for (const auto& c : cases) {
    notify_ = std::make_unique<cNotify>(env_, context_);
    channels_.uses.clear();
    seat_.calls = 0;
    seat_.Answer(c.user_at_seat);
    EXPECT_EQ(Send(c.options).Text(), c.answer) << c.why;
    EXPECT_EQ(seat_.calls, c.seat_calls) << c.why;
    EXPECT_EQ(notify_->HasPendingRequest(), c.answer == kAccepted) << c.why;

    notify_->NotesTimer_Timer();
    std::string mailed;
    for (const auto& use : channels_.uses) {
      if (use.channel != "mail" && use.channel != "smtp") continue;
      mailed = use.channel;
      EXPECT_EQ(use.profile, c.profile) << c.why;
      EXPECT_EQ(use.server, c.server) << c.why;
      EXPECT_EQ(use.from, c.from) << c.why;
      if (use.channel == "mail") {
        EXPECT_EQ(use.subject, "Subject") << c.why;
      }
    }
    EXPECT_EQ(mailed, c.mail_channel) << c.why;
  }
}

TEST_F(DispatchTest, SeatFailureFailsTheCall) {
  seat_.raises = true;
  EXPECT_EQ(Send(Options(Variant("s"), Variant(""), Variant("p"), Variant(""), Variant(""))).Text(),
            "Notes Server: seat query broke");
  EXPECT_FALSE(notify_->HasPendingRequest());
}

TEST_F(DispatchTest, FailedCallCancelsTheEarlierPendingRequest) {
  ASSERT_EQ(Send(Variant()).Text(), kAccepted);
  EXPECT_EQ(Send(List({Variant("s"), Variant("f")})).Text(),
            "Notes Server: Subscript out of range");
  notify_->NotesTimer_Timer();
  EXPECT_TRUE(channels_.uses.empty());
}

TEST_F(DispatchTest, OptionFieldsOutliveTheirRequest) {
  // A profile stored by an earlier request still selects MAPI for a request
  // whose own decision chose SMTP.
  ASSERT_EQ(
      Send(Options(Variant("s"), Variant("f"), Variant("P1"), Variant("m"), Variant(""))).Text(),
      kAccepted);
  notify_->NotesTimer_Timer();
  channels_.uses.clear();
  ASSERT_EQ(
      Send(Options(Variant("s"), Variant("f"), Variant(""), Variant("m"), Variant("True"))).Text(),
      kAccepted);
  notify_->NotesTimer_Timer();
  ASSERT_FALSE(channels_.uses.empty());
  EXPECT_EQ(channels_.uses[0].channel, "mail");
  EXPECT_EQ(channels_.uses[0].profile, "P1");
}

TEST_F(DispatchTest, ExVariantStoresTheHostAsText) {
  auto made = std::make_shared<int>(0);
  components_.Register(kCallbackProgId, [made](std::string_view) {
    ++*made;
    return std::make_shared<RecordingCallback>("CallBack");
  });
  EXPECT_EQ(
      notify_->SendMessageCallBackEx(notes_, emails_, pagers_, Variant(), Variant::Null(), "t")
          .Text(),
      "Notes Server: Invalid use of Null");
  EXPECT_EQ(
      notify_->SendMessageCallBackEx(notes_, emails_, pagers_, Variant(), Variant(), "t").Text(),
      kAccepted);
  notify_->NotesTimer_Timer();
  EXPECT_EQ(*made, 0);  // empty host: no callback component
}

}  // namespace
}  // namespace qz::testing
