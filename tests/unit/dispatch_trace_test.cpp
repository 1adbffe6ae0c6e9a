// What a dispatch run reports of itself: per group which channel ran for
// which recipients with what result and reason, the gateway and outcome.
#include <gtest/gtest.h>

#include "dispatch/tracing_channels.h"
#include "dispatch_fixture.h"

namespace qz::testing {
namespace {

constexpr const char* kSent = "Message Sent";
constexpr const char* kUndeliverable =
    "Message Undeliverable. See QzNotesLog.log file for details ";

Variant SmtpOptions() {
  return List(
      {Variant("s"), Variant("f@example.org"), Variant(""), Variant("mail"), Variant("True")});
}

struct TraceCase {
  const char* why;
  bool mail;
  Variant gateway;
  std::map<std::string, std::string> failures;
  bool sms_initialises;
  std::vector<std::string> details;
  std::string gateway_name;
  std::string outcome;
};

TEST_F(DispatchTest, TraceNamesEveryChannelStepWithRecipientsAndReason) {
  const TraceCase cases[] = {
      {"everything delivers",
       true,
       Variant("0"),
       {},
       true,
       {"group 0: mail (SMTP) to a@example.org: delivered",
        "group 0: page (pager terminal) to 100: delivered",
        "group 1: mail (SMTP) to b@example.org: delivered",
        "group 1: page (pager terminal) to 101: delivered"},
       "pager terminal",
       kSent},
      {"failures carry the channel's text, its line breaks joined",
       true,
       Variant(" 1 "),
       {{"smtp", "\r\n550 no such user"}, {"snpp", "refused\r\nagain"}},
       true,
       {"group 0: mail (SMTP) to a@example.org: failed: 550 no such user",
        "group 0: page (SNPP) to 100: failed: refused; again",
        "group 1: mail (SMTP) to b@example.org: failed: 550 no such user",
        "group 1: page (SNPP) to 101: failed: refused; again"},
       "SNPP",
       kUndeliverable},
      {"SMS settings that do not load leave the page result of the group before",
       false,
       Variant(int16_t{2}),
       {},
       false,
       {"group 0: loading SMS settings: failed: (no reason given)",
        "group 0: page (SMS) to 100: failed: (no reason given)",
        "group 1: loading SMS settings: failed: (no reason given)",
        "group 1: page (SMS) to 101: failed: (no reason given)"},
       "SMS",
       kUndeliverable},
      {"a gateway number outside 0 to 2 runs no paging channel",
       false,
       Variant(int16_t{5}),
       {},
       true,
       {"group 0: page (no gateway (5)) to 100: failed: (no reason given)",
        "group 1: page (no gateway (5)) to 101: failed: (no reason given)"},
       "no gateway (5)",
       kUndeliverable},
      {"a gateway that is no number ends the run with its error",
       false,
       Variant("two"),
       {},
       true,
       {"run raised: Message Undeliverable. Type mismatch."},
       "no gateway (not a number)",
       kUndeliverable},
  };
  int run = 0;
  for (const TraceCase& c : cases) {
    notify_ = std::make_unique<cNotify>(env_, context_);
    std::vector<DispatchTrace> traces;
    notify_->SetOutcomeListener([&](const DispatchTrace& t) { traces.push_back(t); });
    channels_.uses.clear();
    channels_.failures = c.failures;
    channels_.gateway = [g = c.gateway] { return g; };
    channels_.sms_initialises = [ok = c.sms_initialises] { return ok; };
    const std::string id = "trace-" + std::to_string(++run);
    ASSERT_EQ(Send(c.mail ? SmtpOptions() : Variant(), nullptr, id).Text(),
              "Notes Server: Asynch mode");
    notify_->NotesTimer_Timer();

    ASSERT_EQ(traces.size(), 1u) << c.why;
    EXPECT_EQ(traces[0].test_id, id) << c.why;
    EXPECT_EQ(traces[0].outcome, c.outcome) << c.why;
    EXPECT_EQ(traces[0].gateway, c.gateway_name) << c.why;
    EXPECT_EQ(TraceDetails(traces[0]), c.details) << c.why;
  }
}

// A request of many groups keeps its first steps and counts the rest, so its
// lines and signal stay small; the failures past the cap are still counted.
TEST_F(DispatchTest, TraceOfManyGroupsKeepsItsFirstStepsAndCountsTheRest) {
  constexpr size_t kGroups = DispatchTrace::kMaxSteps + 50;
  std::vector<Variant> notes, pagers;
  for (size_t i = 0; i < kGroups; ++i) {
    notes.push_back(List({Variant("m")}));
    pagers.push_back(List({List({Variant(std::to_string(i))})}));
  }
  notes_ = Variant::Array(std::move(notes));
  pagers_ = Variant::Array(std::move(pagers));
  emails_ = Variant();
  channels_.gateway = [] { return Variant("1"); };
  channels_.failures = {{"snpp", "refused"}};
  std::vector<DispatchTrace> traces;
  notify_->SetOutcomeListener([&](const DispatchTrace& t) { traces.push_back(t); });
  ASSERT_EQ(Send(Variant()).Text(), "Notes Server: Asynch mode");
  notify_->NotesTimer_Timer();
  ASSERT_EQ(traces.size(), 1u);
  const std::vector<std::string> details = TraceDetails(traces[0]);
  ASSERT_EQ(details.size(), DispatchTrace::kMaxSteps + 1);
  EXPECT_EQ(details.front(), "group 0: page (SNPP) to 0: failed: refused");
  EXPECT_EQ(details.back(), "50 more steps not shown, 50 of them failed");
  EXPECT_EQ(channels_.Names().size(), kGroups) << "every group still ran";
}

// The recording wrapper must not change what the run does: the same
// channels in the same order and the same log entry as without it.
TEST_F(DispatchTest, TracedRunWritesTheSameLogEntry) {
  channels_.gateway = [] { return Variant("1"); };
  channels_.failures = {{"smtp", "X"}, {"snpp", "Y"}};
  notify_->SetOutcomeListener([](const DispatchTrace&) {});
  ASSERT_EQ(Send(SmtpOptions()).Text(), "Notes Server: Asynch mode");
  notify_->NotesTimer_Timer();
  EXPECT_EQ(channels_.Names(), (std::vector<std::string>{"smtp", "snpp", "smtp", "snpp"}));
  EXPECT_NE(Log().find("Mail Status: X::Page Status: Y::Mail Status: X::Page Status: Y::"),
            std::string::npos)
      << Log();
}

TEST(RecipientsText, FlattensGroupsAndCountsTheRest) {
  std::vector<Variant> many;
  for (int i = 0; i < 40; ++i) many.emplace_back(std::to_string(i));
  struct Case {
    const char* why;
    Variant recipients;
    std::string text;
  };
  const Case cases[] = {
      {"nested lists", List({List({Variant("a@x"), Variant("b@x")}), List({Variant("c@x")})}),
       "a@x, b@x, c@x"},
      {"empty entries are skipped", List({List({Variant(), Variant("5551234")})}), "5551234"},
      {"Null and numbers", List({List({Variant::Null(), Variant(int32_t{42})})}), "Null, 42"},
      {"nothing at all", Variant(), ""},
      {"long lists are cut", List({Variant::Array(many)}),
       "0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, "
       "25, 26, 27, 28, "
       "29, 30, 31 and 8 more"},
  };
  for (const Case& c : cases) EXPECT_EQ(RecipientsText(c.recipients), c.text) << c.why;
}

}  // namespace
}  // namespace qz::testing
