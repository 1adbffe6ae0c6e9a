// Retries of what failed: the [Delivery] policy as read, the delay
// schedule, the narrowing of a request to what is left after a try, and
// the journal record that carries a waiting retry.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
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

// Draws never leave the band and reach well into both halves of it.
TEST(RetrySchedule, RandomJitterSpreadsOverTheWholeBand) {
  double low = 1, high = -1;
  for (int i = 0; i < 1000; ++i) {
    const double jitter = RandomJitter();
    ASSERT_TRUE(jitter >= -1.0 && jitter < 1.0) << jitter;
    low = std::min(low, jitter);
    high = std::max(high, jitter);
  }
  EXPECT_LT(low, -0.5);
  EXPECT_GT(high, 0.5);
}

// Arrays in a short notation: "[[a,-]]" (a "-" is Empty); Shape prints them back.
Variant ReadArrays(std::string_view& text) {
  if (text.front() != '[') {
    const std::string_view item = text.substr(0, text.find_first_of(",]"));
    text.remove_prefix(item.size());
    return item == "-" ? Variant() : Variant(item);
  }
  std::vector<Variant> items;
  do {
    text.remove_prefix(1);  // the '[' or ','
    items.push_back(ReadArrays(text));
  } while (text.front() == ',');
  text.remove_prefix(1);
  return Variant::Array(std::move(items));
}
Variant Arrays(std::string_view text) { return ReadArrays(text); }
std::string Shape(const Variant& v) {
  if (v.IsEmpty()) return "-";
  if (!v.IsArray()) return v.Text();
  std::string s = "[";
  for (const Variant& item : v.Items()) s += (s.size() > 1 ? "," : "") + Shape(item);
  return s + "]";
}

// Parts of group 0 in a short notation, ';' between them: message k, then
// ".j" for recipient j (none: the whole message), S sent, T failed for now
// or P refused for good, the text, then "@j,j" for entries a message took.
void AddParts(DeliveryParts& log, std::string_view text) {
  for (size_t at = 0; at < text.size();) {
    const size_t semi = std::min(text.find(';', at), text.size());
    std::string_view item = text.substr(at, semi - at), went;
    at = semi + 1;
    DeliveredPart p{.channel = "c", .message = item[0] - '0', .recipient = {}};
    item.remove_prefix(1);
    if (item[0] == '.') p.recipient = item[1] - '0', item.remove_prefix(2);
    p.state = item[0] == 'S'   ? PartState::kSent
              : item[0] == 'T' ? PartState::kTransient
                               : PartState::kPermanent;
    if (const size_t sign = item.find('@'); sign != item.npos)
      went = item.substr(sign + 1), item = item.substr(0, sign);
    p.text = item.substr(1);
    for (char j : went)
      if (j != ',') p.went.push_back(j - '0');
    log.Add(p);
  }
}

// Per group, how a channel answered: 'S' delivered, 'F' failed, '-' not reached.
std::vector<ChannelTry> Answers(std::string_view kind, std::string_view per_group) {
  std::vector<ChannelTry> tries;
  for (char c : per_group)
    tries.push_back({.kind = std::string(kind), .ran = c != '-', .delivered = c == 'S'});
  return tries;
}

TEST(RequestNarrowing, KeepsOnlyWhatFailedForNowPerChannel) {
  const struct {
    const char* why;
    const char *email, *mail, *mail_parts;  // a null email: no mail
    const char *pager, *page, *page_parts;
    const char *email_after, *pager_after;
    bool left;
    std::string permanent;
  } cases[] = {
      {"per recipient: the sent and the refused go, the failed stays", nullptr, "", "",
       "[[[a,b,c]]]", "F", "0.0S;0.1Tbusy;0.2P550", "-", "[[[-,b,-]]]", true,
       "Page Status: \r\n550::"},
      {"per message: a failed message keeps its whole list", nullptr, "", "", "[[[a,b],[c,d]]]",
       "F", "0S;1T", "-", "[[-,[c,d]]]", true, ""},
      {"a message the terminal took in part keeps only the rest", nullptr, "", "", "[[[a,b,c]]]",
       "F", "0Thung up@0,2", "-", "[[[-,b,-]]]", true, ""},
      {"mail and paging of one group are narrowed apart", "[[[m,n]]]", "F", "0.0T451;0.1S",
       "[[[a]]]", "S", "0.0S", "[[[m,-]]]", "[-]", true, ""},
      {"refused for good only: nothing is left to try", nullptr, "", "", "[[[a]]]", "F", "0.0PRS",
       "-", "[-]", false, "Page Status: \r\nRS::"},
      {"a channel that failed and told nothing keeps the group", nullptr, "", "", "[[[a]]]", "F",
       "", "-", "[[[a]]]", true, ""},
      {"groups the run never reached stay whole", nullptr, "", "", "[[[a]],[[b]]]", "S-", "0.0S",
       "-", "[-,[[b]]]", true, ""},
  };
  for (const auto& c : cases) {
    Variant email = c.email ? Arrays(c.email) : Variant(), pager = Arrays(c.pager);
    TriedRequest tried{.groups = pager.UBound() + 1,
                       .mail_enabled = c.email != nullptr,
                       .mail = Answers("mail", c.mail),
                       .page = Answers("page", c.page)};
    AddParts(tried.mail_parts, c.mail_parts);
    AddParts(tried.page_parts, c.page_parts);
    const Narrowing n = NarrowToFailed(email, pager, tried);
    EXPECT_EQ(Shape(email), c.email_after) << c.why;
    EXPECT_EQ(Shape(pager), c.pager_after) << c.why;
    EXPECT_EQ(n.transient_left, c.left) << c.why;
    EXPECT_EQ(n.permanent, c.permanent) << c.why;
  }
  // The final entry names every part that did not go; the next try waits
  // as long as the most patient peer asked.
  Variant email, pager = Arrays("[[[a,b,c]]]");
  TriedRequest tried{.groups = 1, .page = Answers("page", "F")};
  for (int32_t j : {0, 1, 2})
    tried.page_parts.Add({.channel = "c",
                          .message = 0,
                          .recipient = j,
                          .state = j == 1 ? PartState::kPermanent : PartState::kTransient,
                          .retry_after = seconds(j == 2 ? 30 : 120),
                          .text = "no " + std::to_string(j)});
  const Narrowing n = NarrowToFailed(email, pager, tried);
  EXPECT_EQ(n.unsent, "Page Status: \r\nno 0\r\nno 1\r\nno 2::");
  EXPECT_EQ(n.retry_after, seconds(120));
}

TEST(RequestRecord, ARetryRecordRoundTripsAndOlderLayoutsStillRead) {
  RequestRecord r;
  r.mstrTestID = "T-42", r.mvarPager = Arrays("[[[-,5551234]]]"), r.callback_uid = 7;
  const std::string untried = EncodeRequest(r);
  EXPECT_EQ(untried[0], 2) << "a request not tried yet keeps the bytes older daemons read";
  r.tries = 2;
  r.next_try_unix_ms = 1'800'000'000'123;
  r.earlier_failures = "Page Status: \r\nRS::";
  r.attempts = 5, r.first_retry_s = 30, r.max_delay_s = 900, r.give_up_after_s = 3600;
  std::string retry = EncodeRequest(r);
  const RequestRecord back = DecodeRequest(retry);
  EXPECT_EQ(retry[0], 3);
  EXPECT_EQ(std::tuple(back.tries, back.next_try_unix_ms, back.earlier_failures, back.attempts,
                       back.first_retry_s, back.max_delay_s, back.give_up_after_s),
            std::tuple(2, r.next_try_unix_ms, r.earlier_failures, 5, 30, 900, 3600));
  EXPECT_EQ(Shape(back.mvarPager), "[[[-,5551234]]]");
  EXPECT_EQ(back.callback_uid, 7u);
  // Layout 1 had no callback user (a flag byte and four bytes less).
  std::string layout1 = untried.substr(0, untried.size() - 5);
  layout1[0] = 1;
  EXPECT_EQ(std::tuple(DecodeRequest(layout1).mstrTestID, DecodeRequest(layout1).tries),
            std::tuple("T-42", 0));
  retry[0] = 4;
  EXPECT_THROW(DecodeRequest(retry), ByteCodecError);
}

}  // namespace
}  // namespace qz
