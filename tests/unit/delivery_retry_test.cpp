// Retries of what failed: the [Delivery] policy as read, the delay
// schedule, the narrowing of a request to what is left after a try, and
// the journal record that carries a waiting retry.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "automation/variant_codec.h"
#include "config/delivery_policy.h"
#include "dispatch/request_narrowing.h"
#include "dispatch/request_record.h"
#include "dispatch/retry_schedule.h"

namespace qz {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

TEST(DeliveryPolicy, ReadsTheSectionAndKeepsDefaultsForAnythingElse) {
  const struct {
    const char* ini;
    int attempts, first, max, give_up;
  } cases[] = {
      {"", 1, 30, 900, 3600},
      {"[Delivery]\nAttempts=5\nFirstRetry=10\nMaxDelay=60\nGiveUpAfter=600\n", 5, 10, 60, 600},
      {"[Delivery]\nAttempts= 4 \n", 4, 30, 900, 3600},
      {"[Delivery]\nAttempts=\n", 1, 30, 900, 3600},
      {"[Delivery]\nAttempts=five\nFirstRetry=-3\nMaxDelay=12x\nGiveUpAfter=0\n", 1, 30, 900, 3600},
      {"[Delivery]\nAttempts=1000\nGiveUpAfter=99999999999\n", 1, 30, 900, 3600},
      {"[Default]\nAttempts=5\n", 1, 30, 900, 3600},
      // A ceiling below the first delay would shorten the first retry.
      {"[Delivery]\nFirstRetry=600\nMaxDelay=60\n", 1, 600, 600, 3600},
  };
  for (const auto& c : cases) {
    const DeliveryPolicy p = ParseDeliveryPolicy(c.ini);
    EXPECT_EQ(p.attempts, c.attempts) << c.ini;
    EXPECT_EQ(p.first_retry, seconds(c.first)) << c.ini;
    EXPECT_EQ(p.max_delay, seconds(c.max)) << c.ini;
    EXPECT_EQ(p.give_up_after, seconds(c.give_up)) << c.ini;
  }
}

TEST(RetrySchedule, DoublesUpToTheCeilingWithJitterAndHonoursRetryAfterUpToIt) {
  const DeliveryPolicy p{.attempts = 100};  // 30 s doubling to 900 s
  const struct {
    int tries;
    std::optional<seconds> retry_after;
    double jitter;
    int64_t ms;
  } cases[] = {
      {1, {}, 0, 30'000},
      {2, {}, 0, 60'000},
      {3, {}, 0, 120'000},
      {6, {}, 0, 900'000},  // 960 s would pass the ceiling
      {90, {}, 0, 900'000},
      {1, {}, 1, 36'000},
      {1, {}, -1, 24'000},
      {3, {}, 0.5, 132'000},
      {1, {}, 7, 36'000},  // a jitter out of range stays within 20 %
      {1, seconds(120), 0, 120'000},
      {1, seconds(5000), 0, 900'000},
      {2, seconds(10), 0, 60'000},  // a shorter Retry-After does not hurry us
  };
  for (const auto& c : cases)
    EXPECT_EQ(RetryDelay(p, c.tries, c.retry_after, c.jitter), milliseconds(c.ms))
        << c.tries << " tries, jitter " << c.jitter;
}

TEST(RetrySchedule, NoTryStartsOnceTheTriesAreUsedOrTheRequestIsTooOld) {
  const DeliveryPolicy p{.attempts = 3};
  const int64_t accepted = 1'000'000;
  const struct {
    int tries;
    int64_t now;
    std::optional<int64_t> due;
  } cases[] = {
      {1, accepted, accepted + 30'000},
      {2, accepted + 40'000, accepted + 100'000},
      {3, accepted + 40'000, std::nullopt},
      {1, accepted + 3'570'000, std::nullopt},  // due exactly at the give-up time
      {1, accepted + 3'569'999, accepted + 3'599'999},
  };
  for (const auto& c : cases)
    EXPECT_EQ(NextTryDue(p, c.tries, accepted, c.now, std::nullopt, 0), c.due) << c.tries;
}

// Arrays from text: "-" is Empty, [..] an array.
Variant Arr(std::vector<Variant> items) { return Variant::Array(std::move(items)); }
std::string Shape(const Variant& v) {
  if (v.IsEmpty()) return "-";
  if (!v.IsArray()) return v.Text();
  std::string s = "[";
  for (const Variant& item : v.Items()) s += (s.size() > 1 ? "," : "") + Shape(item);
  return s + "]";
}

DeliveredPart Part(int64_t group, int32_t k, std::optional<int32_t> j, PartState state,
                   std::string text = "") {
  return {.channel = "c",
          .group = group,
          .message = k,
          .recipient = j,
          .state = state,
          .text = std::move(text)};
}

TEST(RequestNarrowing, KeepsOnlyWhatFailedForNowPerChannel) {
  using enum PartState;
  const ChannelTry sent{.ran = true, .delivered = true};
  const ChannelTry failed{.ran = true, .delivered = false};
  struct Case {
    const char* why;
    Variant email, pager;
    bool mail_enabled;
    int64_t groups;
    std::vector<ChannelTry> mail, page;
    std::vector<DeliveredPart> mail_parts, page_parts;
    std::string email_after, pager_after;
    bool left;
    std::string permanent;
    std::string unsent = {};
  };
  const Case cases[] = {
      {"per recipient: the sent and the refused go, the failed stays",
       Variant(),
       Arr({Arr({Arr({"p1", "p2", "p3"})})}),
       false,
       1,
       {},
       {failed},
       {},
       {Part(0, 0, 0, kSent), Part(0, 0, 1, kTransient, "busy"),
        Part(0, 0, 2, kPermanent, "550 no such pager")},
       "-",
       "[[[-,p2,-]]]",
       true,
       "Page Status: \r\n550 no such pager::",
       "Page Status: \r\nbusy\r\n550 no such pager::"},
      {"per message: a failed message keeps its whole list",
       Variant(),
       Arr({Arr({Arr({"p1", "p2"}), Arr({"p3", "p4"})})}),
       false,
       1,
       {},
       {failed},
       {},
       {Part(0, 0, {}, kSent), Part(0, 1, {}, kTransient, "no carrier")},
       "-",
       "[[-,[p3,p4]]]",
       true,
       ""},
      {"a message the terminal took in part keeps only the rest",
       Variant(),
       Arr({Arr({Arr({"p1", "p2", "p3"})})}),
       false,
       1,
       {},
       {failed},
       {},
       {[] {
         DeliveredPart p = Part(0, 0, {}, kTransient, "hung up");
         p.went = {0, 2};
         return p;
       }()},
       "-",
       "[[[-,p2,-]]]",
       true,
       ""},
      {"mail and paging of one group are narrowed apart",
       Arr({Arr({Arr({"a@x", "b@x"})})}),
       Arr({Arr({Arr({"p1"})})}),
       true,
       1,
       {failed},
       {sent},
       {Part(0, 0, 0, kTransient, "451 later"), Part(0, 0, 1, kSent)},
       {Part(0, 0, 0, kSent)},
       "[[[a@x,-]]]",
       "[-]",
       true,
       ""},
      {"refused for good only: nothing is left to try",
       Variant(),
       Arr({Arr({Arr({"p1"})})}),
       false,
       1,
       {},
       {failed},
       {},
       {Part(0, 0, 0, kPermanent, "RS")},
       "-",
       "[-]",
       false,
       "Page Status: \r\nRS::"},
      {"a channel that failed and told nothing keeps the group",
       Variant(),
       Arr({Arr({Arr({"p1"})})}),
       false,
       1,
       {},
       {failed},
       {},
       {},
       "-",
       "[[[p1]]]",
       true,
       ""},
      {"groups the run never reached stay whole",
       Variant(),
       Arr({Arr({Arr({"p1"})}), Arr({Arr({"p2"})})}),
       false,
       2,
       {},
       {sent},
       {},
       {Part(0, 0, 0, kSent)},
       "-",
       "[-,[[p2]]]",
       true,
       ""},
      {"the mail arrays of a request without mail are left alone",
       Arr({Arr({Arr({"a@x"})})}),
       Arr({Arr({Arr({"p1"})})}),
       false,
       1,
       {},
       {sent},
       {},
       {Part(0, 0, 0, kSent)},
       "[[[a@x]]]",
       "[-]",
       false,
       ""},
  };
  for (const Case& c : cases) {
    TriedRequest tried{
        .groups = c.groups, .mail_enabled = c.mail_enabled, .mail = c.mail, .page = c.page};
    for (const auto& p : c.mail_parts)
      tried.mail_parts.BeginGroup(p.group), tried.mail_parts.Add(p);
    for (const auto& p : c.page_parts)
      tried.page_parts.BeginGroup(p.group), tried.page_parts.Add(p);
    Variant email = c.email, pager = c.pager;
    const Narrowing n = NarrowToFailed(email, pager, tried);
    EXPECT_EQ(Shape(email), c.email_after) << c.why;
    EXPECT_EQ(Shape(pager), c.pager_after) << c.why;
    EXPECT_EQ(n.transient_left, c.left) << c.why;
    EXPECT_EQ(n.permanent, c.permanent) << c.why;
    if (!c.unsent.empty()) {
      EXPECT_EQ(n.unsent, c.unsent) << c.why;
    }
  }
}

TEST(RequestNarrowing, WaitsAsLongAsTheMostPatientPeerAsked) {
  TriedRequest tried{.groups = 1, .page = {{.ran = true}}};
  for (int wait : {30, 120, 60}) {
    DeliveredPart part = Part(0, 0, 0, PartState::kTransient, "503");
    part.retry_after = seconds(wait);
    tried.page_parts.Add(part);
  }
  Variant email, pager = Arr({Arr({Arr({"p1"})})});
  EXPECT_EQ(NarrowToFailed(email, pager, tried).retry_after, seconds(120));
}

TEST(RequestRecord, ARetryRecordRoundTripsAndOlderLayoutsStillRead) {
  RequestRecord r;
  r.procedure = "SendMessageCallBack";
  r.mstrTestID = "T-42";
  r.mvarPager = Arr({Arr({Arr({Variant(), "5551234"})})});
  r.callback_uid = 1000;
  const std::string untried = EncodeRequest(r);
  EXPECT_EQ(untried[0], 2) << "a request not tried yet keeps the bytes older daemons read";

  r.tries = 2;
  r.next_try_unix_ms = 1'800'000'000'123;
  r.earlier_failures = "Page Status: \r\nRS::";
  r.attempts = 5;
  r.first_retry_s = 30;
  r.max_delay_s = 900;
  r.give_up_after_s = 3600;
  const RequestRecord back = DecodeRequest(EncodeRequest(r));
  EXPECT_EQ(EncodeRequest(r)[0], 3);
  EXPECT_EQ(back.tries, 2);
  EXPECT_EQ(back.next_try_unix_ms, r.next_try_unix_ms);
  EXPECT_EQ(back.earlier_failures, r.earlier_failures);
  EXPECT_EQ(
      std::vector({back.attempts, back.first_retry_s, back.max_delay_s, back.give_up_after_s}),
      std::vector({5, 30, 900, 3600}));
  EXPECT_EQ(Shape(back.mvarPager), "[[[-,5551234]]]");
  EXPECT_EQ(back.callback_uid, 1000u);

  // Layout 1 had no callback user (a flag byte and four bytes less).
  std::string layout1 = untried.substr(0, untried.size() - 5);
  layout1[0] = 1;
  const RequestRecord old = DecodeRequest(layout1);
  EXPECT_EQ(old.mstrTestID, "T-42");
  EXPECT_EQ(old.tries, 0);
  EXPECT_FALSE(old.callback_uid);
  std::string future = EncodeRequest(r);
  future[0] = 4;
  EXPECT_THROW(DecodeRequest(future), ByteCodecError);
}

}  // namespace
}  // namespace qz
