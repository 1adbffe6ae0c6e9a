// Sorting a failed delivery as worth another try or not, per gateway, and
// what the channel loop tells a listener about each part of a group.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <tuple>
#include <vector>

#include "automation/run_time_error.h"
#include "diagnostics/last_error.h"
#include "fakes.h"
#include "gateways/channel_frame.h"
#include "gateways/mail/smtp_transport.h"
#include "gateways/sms/http_failure.h"
#include "gateways/snpp/snpp_reply.h"

namespace qz::testing {
namespace {

using namespace std::chrono_literals;
constexpr FailureKind T = FailureKind::kTransient, P = FailureKind::kPermanent;

TEST(FailureSorting, ReplyCodesOfEachGateway) {
  const std::tuple<const char*, FailureKind (*)(int), int, FailureKind> cases[] = {
      {"smtp", SmtpReplyKind, 421, T}, {"smtp", SmtpReplyKind, 452, T},
      {"smtp", SmtpReplyKind, 550, P}, {"smtp", SmtpReplyKind, 554, P},
      {"smtp", SmtpReplyKind, 0, T},  // no reply: the server was not reached
      {"snpp", SnppReplyKind, 421, T}, {"snpp", SnppReplyKind, 550, P},
      {"snpp", SnppReplyKind, 554, P},
  };
  for (const auto& [gateway, sort, code, kind] : cases)
    EXPECT_EQ(sort(code), kind) << gateway << " " << code;
  const std::pair<long, FailureKind> http[] = {{400, P}, {401, P}, {404, P}, {408, T},
                                               {429, T}, {499, P}, {500, T}, {503, T},
                                               {200, T}, {302, T}, {0, T}};
  for (const auto& [status, kind] : http) EXPECT_EQ(HttpStatusKind(status), kind) << status;
}

TEST(FailureSorting, RetryAfterInSecondsOrAsADate) {
  // Wed, 21 Oct 2015 07:28:00 GMT
  const auto now = std::chrono::system_clock::from_time_t(1445412480) - 90s;
  const std::pair<const char*, std::optional<std::chrono::seconds>> cases[] = {
      {"120", 120s},
      {" 0 ", 0s},
      {"Wed, 21 Oct 2015 07:28:00 GMT", 90s},
      {"Wednesday, 21-Oct-15 07:28:00 GMT", 90s},
      {"Wed, 21 Oct 2015 07:00:00 GMT", 0s},  // already past
  };
  for (const auto& [value, wait] : cases) EXPECT_EQ(RetryAfter(value, now), wait) << value;
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

}  // namespace
}  // namespace qz::testing
