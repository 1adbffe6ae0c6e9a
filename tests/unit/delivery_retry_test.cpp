// Retries of what failed: sorting a failed delivery as worth another try or
// not, per gateway, and what the channel loop tells a listener about each
// part of a group; the [Delivery] policy as read, the delay schedule, the
// breaker that holds back tries to a gateway that is down, the narrowing of a
// request to what is left after a try, the journal record that carries a
// waiting retry, the queue whose one timer wakes the waiting retries, and the
// ledger of recent sends behind the throttles and the duplicate window.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "automation/run_time_error.h"
#include "automation/timer_queue.h"
#include "automation/variant_codec.h"
#include "config/delivery_policy.h"
#include "diagnostics/gateway_health.h"
#include "diagnostics/last_error.h"
#include "dispatch/delivery_ledger.h"
#include "dispatch/request_narrowing.h"
#include "dispatch/request_record.h"
#include "dispatch/retry_schedule.h"
#include "fakes.h"
#include "gateways/channel_frame.h"
#include "gateways/mail/smtp_transport.h"
#include "gateways/sms/http_failure.h"
#include "gateways/snpp/snpp_reply.h"
#include "support/temp_folder.h"

namespace qz {
namespace {

using namespace std::chrono_literals;
using std::chrono::milliseconds;
using std::chrono::seconds;
using testing::List;

constexpr FailureKind T = FailureKind::kTransient, P = FailureKind::kPermanent;

TEST(FailureSorting, ReplyCodesOfEachGatewayAndTheWaitsPeersAskFor) {
  const std::tuple<const char*, FailureKind (*)(int), int, FailureKind> cases[] = {
      {"smtp", SmtpReplyKind, 421, T}, {"smtp", SmtpReplyKind, 550, P},
      {"smtp", SmtpReplyKind, 0, T},  // no reply: the server was not reached
      {"snpp", SnppReplyKind, 421, T}, {"snpp", SnppReplyKind, 550, P},
  };
  for (const auto& [gateway, sort, code, kind] : cases)
    EXPECT_EQ(sort(code), kind) << gateway << " " << code;
  const std::pair<long, FailureKind> http[] = {{400, P}, {408, T}, {429, T}, {499, P},
                                               {500, T}, {200, T}, {0, T}};
  for (const auto& [status, kind] : http) EXPECT_EQ(HttpStatusKind(status), kind) << status;

  // Retry-After in seconds or as a date; now is 90 s before Wed, 21 Oct 2015 07:28:00 GMT.
  const auto now = std::chrono::system_clock::from_time_t(1445412480) - 90s;
  const std::pair<const char*, std::optional<std::chrono::seconds>> waits[] = {
      {"120", 120s},
      {" 0 ", 0s},
      {"Wed, 21 Oct 2015 07:28:00 GMT", 90s},
      {"Wednesday, 21-Oct-15 07:28:00 GMT", 90s},
      {"Wed, 21 Oct 2015 07:00:00 GMT", 0s},  // already past
  };
  for (const auto& [value, wait] : waits) EXPECT_EQ(RetryAfter(value, now), wait) << value;
  for (const char* unusable : {"", "-5", "soon", "99999999999999999999999"})
    EXPECT_EQ(RetryAfter(unusable, now), std::nullopt) << unusable;
}

// Each part as "k.j state text", j "*" for a whole message.
std::vector<std::string> Told(const DeliveryParts& parts) {
  std::vector<std::string> told;
  for (const DeliveredPart& p : parts.parts()) {
    const char* state = p.state == PartState::kSent        ? "sent"
                        : p.state == PartState::kTransient ? "transient"
                                                           : "permanent";
    told.push_back(std::to_string(p.group) + ":" + std::to_string(p.message) + "." +
                   (p.recipient ? std::to_string(*p.recipient) : "*") + " " + state +
                   (p.retry_after ? " after " + std::to_string(p.retry_after->count()) : "") +
                   (p.text.empty() ? "" : " " + p.text) + " " + p.channel);
  }
  return told;
}

// A fake delivery answers by recipient: "ok" goes, "later" and "never" fail,
// "raise" raises, "last" goes and leaves the gateway unreachable; `open`
// decides the group's opening.
TEST(FailureSorting, RunChannelTellsEveryPartHowItWent) {
  const Variant notes = List({"m0", "m1"});
  const Variant lists = List({List({"ok", Variant(), "never"}), List({"later", "ok"})});
  bool gone = false;
  const auto deliver = [&](const std::string&, const Variant& to) -> Refusal {
    const std::string who = to.IsArray() ? to.At(0).Text() : to.Text();
    gone = who == "last";
    if (who == "raise") throw RunTimeError(kErrOverflow);
    if (who == "never") return Failure{.text = "no such", .kind = P};
    if (who == "later") return Failure{.text = "busy", .retry_after = 30s, .noted = false};
    return std::nullopt;
  };
  // Name, delivery, opening, lists; what each part was told, gstrLastError.
  using enum Delivery;
  using enum Opening;
  using Parts = std::vector<std::string>;
  const std::tuple<const char*, Delivery, Opening, Variant, Parts, std::string> cases[] = {
      {"per recipient", kPerRecipient, kSend, lists,
       Parts{"4:0.0 sent c", "4:0.2 permanent no such c", "4:1.0 transient after 30 busy c",
             "4:1.1 sent c"},
       "\r\nno such"},
      {"per message", kPerMessage, kSend, lists,
       Parts{"4:0.* sent c", "4:1.* transient after 30 busy c"}, ""},
      // Only the part that raised has the error's kind; what follows was never tried.
      {"raised", kPerMessage, kSend, List({List({"raise"}), List({"ok"})}),
       Parts{"4:0.* permanent Overflow.\r\n c", "4:1.* transient Overflow.\r\n c"},
       "Overflow.\r\n"},
      {"opening refused", kPerRecipient, kSendNothing, lists,
       Parts{"4:0.0 transient c", "4:0.2 transient c", "4:1.0 transient c", "4:1.1 transient c"},
       ""},
      // Parts no longer reachable are not tried.
      {"unreachable", kPerRecipient, kSend, List({List({"last", "ok"}), List({"ok"})}),
       Parts{"4:0.0 sent c", "4:0.1 transient c", "4:1.0 transient c"}, ""},
      {"opening failed", kPerMessage, kFailed, lists,
       Parts{"4:0.* transient c", "4:1.* transient c"}, ""},
  };
  for (const auto& [name, delivery, opening, given, told, last_error] : cases) {
    SCOPED_TRACE(name);
    DeliveryParts parts;
    parts.BeginGroup(4);
    gstrLastError = "before";
    gone = false;
    RunChannel({.procedure = "c",
                .delivery = delivery,
                .open = [o = opening] { return o; },
                .reachable = [&] { return !gone; },
                .deliver = deliver,
                .error_kind = [] { return P; },
                .parts = &parts},
               notes, given);
    EXPECT_EQ(Told(parts), told);
    EXPECT_EQ(gstrLastError, last_error);
  }
}

// The policy in one line: attempts, the delays and BreakAfter, KeepFailed,
// the throttle caps, ThrottleMail and the duplicate window.
std::string PolicyText(const DeliveryPolicy& p) {
  std::string text = std::to_string(p.attempts);
  for (seconds s : {p.first_retry, p.max_delay, p.give_up_after})
    text += " " + std::to_string(s.count());
  text += " b" + std::to_string(p.break_after) + " k" + std::to_string(p.keep_failed_days) + " [";
  for (const ThrottleCap& cap : p.gates.caps)
    text += std::to_string(cap.count) + "/" + std::to_string(cap.window.count()) + " ";
  return text + "] " + std::to_string(p.gates.throttle_mail) + " " +
         std::to_string(p.gates.suppress_for.count());
}

TEST(DeliveryPolicy, ReadsTheSectionAndKeepsDefaultsForAnythingElse) {
  const std::pair<const char*, const char*> cases[] = {
      {"[Delivery]\nAttempts= 5 \nFirstRetry=10\nMaxDelay=60\nGiveUpAfter=600\nBreakAfter=2\n"
       "KeepFailed=0\n",
       "5 10 60 600 b2 k0 [] 0 0"},
      {"[Delivery]\nAttempts=\nFirstRetry=-3\nMaxDelay=12x\nGiveUpAfter=99999999999\nBreakAfter=x\n"
       "KeepFailed=367\n",
       "1 30 900 3600 b5 k7 [] 0 0"},
      // A ceiling below the first delay would shorten the first retry.
      {"[Delivery]\nFirstRetry=600\nMaxDelay=60\n", "1 600 600 3600 b5 k7 [] 0 0"},
      {"[Delivery]\nMaxPerRecipient=5/900\nMaxPerRecipient3= 2/20 \nThrottleMail=1\n"
       "SuppressDuplicates=60\n",
       "1 30 900 3600 b5 k7 [5/900 2/20 ] 1 60"},
      {"[Delivery]\nMaxPerRecipient=5\nMaxPerRecipient2=0/9\nMaxPerRecipient4=3/x\n"
       "MaxPerRecipient5=1/99999999\nThrottleMail=yes\nSuppressDuplicates=-1\n",
       "1 30 900 3600 b5 k7 [] 0 0"},
  };
  for (const auto& [ini, policy] : cases)
    EXPECT_EQ(PolicyText(ParseDeliveryPolicy(ini)), policy) << ini;
}

TEST(RetrySchedule, DoublesUpToTheCeilingHonoursRetryAfterUpToItAndStopsWhenUsedUp) {
  const DeliveryPolicy p{.attempts = 100};  // 30 s doubling to 900 s
  const struct {
    int tries;
    std::optional<seconds> retry_after;
    double jitter;
    int64_t ms;
  } cases[] = {
      {3, {}, 0, 120'000},
      {6, {}, 0, 900'000},  // 960 s would pass the ceiling
      {90, {}, 0, 900'000},
      {1, {}, 1, 36'000},
      {1, {}, 7, 36'000},  // a jitter out of range stays within 20 %
      {1, seconds(120), 0, 120'000},
      {1, seconds(5000), 0, 900'000},
      {2, seconds(10), 0, 60'000},  // a shorter Retry-After does not hurry us
  };
  for (const auto& c : cases)
    EXPECT_EQ(RetryDelay(p, c.tries, c.retry_after, c.jitter), milliseconds(c.ms))
        << c.tries << " tries, jitter " << c.jitter;

  // No try starts once the tries are used or the request is too old.
  const DeliveryPolicy three{.attempts = 3};
  const int64_t accepted = 1'000'000;
  const struct {
    int tries;
    int64_t now;
    std::optional<int64_t> due;
  } dues[] = {
      {1, accepted, accepted + 30'000},
      {2, accepted + 40'000, accepted + 100'000},
      {3, accepted + 40'000, std::nullopt},
      {1, accepted + 3'570'000, std::nullopt},  // due exactly at the give-up time
      {1, accepted + 3'569'999, accepted + 3'599'999},
  };
  for (const auto& c : dues)
    EXPECT_EQ(NextTryDue(three, c.tries, accepted, c.now, std::nullopt, 0), c.due) << c.tries;
}

// Runs what the context has ready, a bounded number of rounds, never waiting.
void RunReady(GMainContext* context) {
  for (int round = 0; round < 1000; ++round) g_main_context_iteration(context, FALSE);
}

// Entries are due `due_s` seconds from now (the past: due already); the
// ones listed in `cancel` are cancelled before the context runs.
TEST(TimerQueue, RunsWhatIsDueInOrderNothingEarlyOrCancelledAndLetsOtherWorkIn) {
  const struct {
    const char* why;
    std::vector<int> due_s;
    std::vector<size_t> cancel;
    const char* ran;
    size_t left;
  } cases[] = {
      {"by due time, ties in the order added", {-3, -5, -3, -4}, {}, "1302", 0},
      {"one not due yet waits", {-1, 3600, -2}, {}, "20", 1},
      {"a cancelled one never runs", {-2, -1, -3}, {0}, "21", 0},
      {"cancelling the one not due leaves nothing", {3600}, {0}, "", 0},
  };
  MainContextPtr context(g_main_context_new());
  for (const auto& c : cases) {
    const int64_t now = g_get_real_time() / 1000;
    std::string ran;
    TimerQueue queue(context.get());
    std::vector<TimerQueue::Handle> handles;
    for (size_t i = 0; i < c.due_s.size(); ++i)
      handles.push_back(queue.Add(now + c.due_s[i] * 1000, [&ran, i] { ran += char('0' + i); }));
    for (size_t i : c.cancel) handles[i].Cancel();
    RunReady(context.get());
    EXPECT_EQ(std::tuple(ran, queue.size(), queue.NextDue().has_value()),
              std::tuple(std::string(c.ran), c.left, c.left > 0))
        << c.why;
  }

  // Many entries due at once leave room for other work between them; work
  // may add entries, and may end the queue itself (its owner going).
  const int64_t past = g_get_real_time() / 1000 - 1000;
  auto queue = std::make_unique<TimerQueue>(context.get());
  std::string ran;
  for (int i = 0; i < 500; ++i) queue->Schedule(past, [&ran] { ran += 'q'; });
  PostToContext(context.get(), [&ran] { ran += 'P'; });
  queue->Schedule(past, [&] { queue->Schedule(past, [&ran] { ran += 'a'; }); });
  RunReady(context.get());
  EXPECT_EQ(std::count(ran.begin(), ran.end(), 'q'), 500);
  EXPECT_LT(ran.find('P'), ran.rfind('q')) << "the posted work waited for every due entry";
  EXPECT_EQ(ran.back(), 'a');

  ran.clear();
  queue->Schedule(past, [&] { queue.reset(); });
  queue->Schedule(past, [&ran] { ran += 'x'; });
  RunReady(context.get());
  EXPECT_EQ(queue, nullptr);
  EXPECT_EQ(ran, "") << "work ran from a queue already gone";
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
// ".j" for recipient j (none: the whole message), S sent, T failed for now,
// W held back or P refused for good, the text, then "@j,j" for entries a
// message took, then "~s" for the seconds the peer asked to wait.
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
              : item[0] == 'W' ? PartState::kWaiting
                               : PartState::kPermanent;
    if (const size_t wait = item.find('~'); wait != item.npos)
      p.retry_after = seconds(std::stoi(std::string(item.substr(wait + 1)))),
      item = item.substr(0, wait);
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
      {"a held-back part stays without failing", nullptr, "", "", "[[[a,b]]]", "S",
       "0.0S;0.1Wthrottled", "-", "[[[-,b]]]", false, ""},
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
  AddParts(tried.page_parts, "0.0Tno 0~120;0.1Pno 1~120;0.2Tno 2~30");
  const Narrowing n = NarrowToFailed(email, pager, tried);
  EXPECT_EQ(std::tuple(n.unsent, n.retry_after),
            std::tuple("Page Status: \r\nno 0\r\nno 1\r\nno 2::", seconds(120)));
}

TEST(GatewayBreaker, OpensAfterFailuresInARowCoolsDownDoublingAndClosesOnASuccess) {
  // The defaults: 30 s doubling to 900 s; BreakAfter=0 never opens it.
  for (const auto& [after, failures, ms] :
       {std::tuple{5, 4, 0}, {5, 6, 60'000}, {5, 999, 900'000}, {0, 50, 0}, {1, 1, 30'000}})
    EXPECT_EQ(CoolDownMs({.break_after = after}, failures), ms) << failures << " of " << after;

  // One gateway's story; `held` -1: a new try may go now.
  const BreakerSettings b{.break_after = 2, .first_ms = 1000, .ceiling_ms = 4000};
  enum Op { kFail, kRefused, kSent, kAsk };
  const struct {
    Op op;
    int64_t now;
    const char* line;
    int64_t held;
  } story[] = {
      {kFail, 0, "", -1},
      {kFail, 100, "gateway SNPP down after 2 failures in a row: refused", -1},
      {kAsk, 500, "", 1100},
      {kAsk, 1100, "", -1},      // the probe goes
      {kAsk, 1200, "", 3100},    // the others wait as if it failed
      {kFail, 1300, "", -1},     // it did: no second "down"
      {kRefused, 2000, "", -1},  // a refusal for good neither opens nor closes
      {kAsk, 3000, "", 3300},
      {kFail, 3400, "", -1},
      {kAsk, 3500, "", 7400},  // the ceiling
      {kSent, 150'000, "gateway SNPP back after 2 min", -1},
      {kAsk, 150'000, "", -1},
      {kFail, 150'100, "", -1},  // counting starts again
  };
  GatewayHealth health;
  for (const auto& s : story) {
    std::optional<std::string> line;
    std::optional<int64_t> held;
    if (s.op == kFail || s.op == kRefused)
      line = health.Failed("SNPP", "refused", s.op == kFail, s.now, &b);
    else if (s.op == kSent)
      line = health.Succeeded("SNPP", s.now);
    else
      held = health.HeldUntil("SNPP", b, s.now);
    EXPECT_EQ(line.value_or(""), s.line) << "at " << s.now;
    EXPECT_EQ(held.value_or(-1), s.held) << "at " << s.now;
  }
  const GatewayReport snpp = health.Snapshot().at(0);
  EXPECT_EQ(std::tuple(snpp.up, snpp.failures_in_a_row, snpp.down_since_unix_ms, snpp.broken),
            std::tuple(false, 1, int64_t{150'100}, false));
}

// Failures that get no retry are given up while held-back parts wait on.
TEST(RequestNarrowing, DroppingTheFailedLeavesOnlyTheHeldBackParts) {
  Variant email = Arrays("[[[m]]]"), pager = Arrays("[[[a,b,c]]]");
  TriedRequest tried{.groups = 1,
                     .mail_enabled = true,
                     .mail = Answers("mail", "F"),
                     .page = Answers("page", "S")};
  AddParts(tried.mail_parts, "0.0T451");
  AddParts(tried.page_parts, "0.0Tbusy;0.2S;0.1Wthrottled~40");
  const Narrowing n = NarrowToFailed(email, pager, tried);
  EXPECT_EQ(n.waiting, seconds(40));
  EXPECT_EQ(Shape(pager), "[[[a,b,-]]]");
  EXPECT_EQ(DropFailed(email, pager, tried), "Mail Status: \r\n451::Page Status: \r\nbusy::");
  EXPECT_EQ(Shape(email), "[-]") << "a channel with nothing left does not open";
  EXPECT_EQ(Shape(pager), "[[[-,b,-]]]");
}

TEST(DeliveryLedger, CapsSendsPerRecipientInSlidingWindows) {
  const std::vector<ThrottleCap> one{{2, seconds(20)}}, two{{2, seconds(20)}, {3, seconds(60)}};
  const struct {
    const char* why;
    const std::vector<ThrottleCap>& caps;
    std::vector<int64_t> sent;  // each taken in turn
    int64_t now, wait_ms;       // 0: the send may go
  } cases[] = {
      {"at the cap: until the oldest leaves", one, {0, 5'000}, 10'000, 10'000},
      {"the oldest has just left", one, {0, 5'000}, 20'000, 0},
      {"the longest wait of several windows", two, {0, 25'000, 30'000}, 35'000, 25'000},
  };
  for (const auto& c : cases) {
    DeliveryLedger ledger("");
    for (int64_t t : c.sent) ASSERT_EQ(ledger.Take("a", c.caps, t), std::nullopt) << c.why;
    const auto hold = ledger.Take("a", c.caps, c.now);
    EXPECT_EQ(hold ? hold->wait_ms : 0, c.wait_ms) << c.why;
  }
}

TEST(DeliveryLedger, TheDuplicateWindowSurvivesARestartAndStaysSmall) {
  testing::TempFolder folder;
  const int64_t t0 = 1'800'000'000'000;
  DeliveryLedger ledger(folder.path());
  ledger.RecordSent("d1", "T 41\n%", seconds(60), t0);
  EXPECT_EQ(ledger.DuplicateOf("d1", seconds(60), t0 + 60'000), std::nullopt) << "in memory";
  for (const auto& [now, first] : {std::pair(t0 + 59'999, std::optional<std::string>("T 41\n%")),
                                   std::pair(t0 + 60'000, std::optional<std::string>())})
    EXPECT_EQ(DeliveryLedger(folder.path()).DuplicateOf("d1", seconds(60), now), first);
  // A send a second for five minutes, with a two-second window: the file
  // keeps about what is in the window, not every send.
  DeliveryLedger busy(folder.path());
  for (int i = 0; i < 300; ++i)
    busy.RecordSent("d" + std::to_string(i % 100), "T-" + std::to_string(i), seconds(2),
                    t0 + i * 1000);
  const std::string text = folder.Read(std::string(kRecentSendsFile));
  EXPECT_LT(std::count(text.begin(), text.end(), '\n'), 250);
  EXPECT_EQ(DeliveryLedger(folder.path()).DuplicateOf("d99", seconds(2), t0 + 300'000), "T-299");
}

// T-1 sends "hi" to 555; then T-2 sends a text to a number.
TEST(DeliveryLedger, AGateHoldsBackSuppressesOrLetsGoPerLane) {
  const DeliveryGates caps{.caps = {{1, seconds(60)}}};
  const DeliveryGates window{.caps = {}, .suppress_for = seconds(60)};
  const struct {
    const char* why;
    const DeliveryGates& gates;
    bool throttled, first_went;
    const char *text, *to;
    GateVerdict verdict;
  } cases[] = {
      {"over the cap", caps, true, true, "hi", "555", GateVerdict::kWait},
      {"another number", caps, true, true, "hi", "556", GateVerdict::kSend},
      {"mail without ThrottleMail", caps, false, true, "hi", "555", GateVerdict::kSend},
      {"the first did not go", caps, true, false, "hi", "555", GateVerdict::kSend},
      {"the same text again", window, true, true, "hi", " 555 ", GateVerdict::kAlreadySent},
      {"another text", window, true, true, "ho", "555", GateVerdict::kSend},
      {"the earlier one never went", window, true, false, "hi", "555", GateVerdict::kSend},
  };
  for (const auto& c : cases) {
    DeliveryLedger ledger("");
    auto lane = [&](const char* id) {
      return LedgerGate::Lane{
          .kind = "page", .gateway = "SNPP", .request = id, .throttled = c.throttled};
    };
    LedgerGate first(ledger, c.gates, lane("T-1"), nullptr);
    LedgerGate second(ledger, c.gates, lane("T-2"), nullptr);
    ASSERT_EQ(first.Before("hi", Variant("555")).verdict, GateVerdict::kSend) << c.why;
    first.After("hi", Variant("555"), c.first_went);
    const GateAnswer answer = second.Before(c.text, Variant(c.to));
    EXPECT_EQ(answer.verdict, c.verdict) << c.why;
    EXPECT_EQ(answer.why, c.verdict == GateVerdict::kWait ? "throttled (1 in 60 s)" : "") << c.why;
  }
}

TEST(RequestRecord, ARetryRecordRoundTripsOlderLayoutsStillReadAndAFailedOneExpires) {
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
                       back.first_retry_s, back.max_delay_s, back.give_up_after_s,
                       Shape(back.mvarPager), back.callback_uid),
            std::tuple(2, r.next_try_unix_ms, r.earlier_failures, 5, 30, 900, 3600,
                       "[[[-,5551234]]]", 7u));
  // Layout 1 had no callback user (a flag byte and four bytes less).
  std::string layout1 = untried.substr(0, untried.size() - 5);
  layout1[0] = 1;
  EXPECT_EQ(std::tuple(DecodeRequest(layout1).mstrTestID, DecodeRequest(layout1).tries),
            std::tuple("T-42", 0));
  retry[0] = 5;
  EXPECT_THROW(DecodeRequest(retry), ByteCodecError);

  // A request that gave up: marked, with its id, time and reasons.
  r.failed = true, r.failed_id = "0a1b2c3d4e5f", r.failed_unix_ms = 1'800'000'100'000;
  r.failed_reasons = "Page Status: \r\nno answer::";
  const std::string dead = EncodeRequest(r);
  const RequestRecord gone = DecodeRequest(dead);
  EXPECT_EQ(dead[0], 4);
  EXPECT_EQ(
      std::tuple(gone.failed, gone.failed_id, gone.failed_unix_ms, gone.failed_reasons, gone.tries),
      std::tuple(true, r.failed_id, r.failed_unix_ms, r.failed_reasons, 2));

  // It expires KeepFailed days after it failed.
  constexpr int64_t kDay = 86'400'000, kFailedAt = 1'800'000'000'000;
  const struct {
    bool failed;
    int64_t now;
    int keep_days;
    bool expired;
  } cases[] = {
      {true, kFailedAt + 7 * kDay - 1, 7, false},
      {true, kFailedAt + 7 * kDay, 7, true},
      {true, kFailedAt, 0, true},
      {false, kFailedAt + 30 * kDay, 7, false},
  };
  for (const auto& c : cases) {
    r.failed = c.failed, r.failed_unix_ms = kFailedAt;
    EXPECT_EQ(FailedExpired(r, c.now, c.keep_days), c.expired)
        << c.failed << " " << (c.now - kFailedAt) << " ms, " << c.keep_days << " days";
  }
}

}  // namespace
}  // namespace qz
