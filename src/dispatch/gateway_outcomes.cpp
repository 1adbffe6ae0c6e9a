// How cNotify tells the gateway health what each channel call did, and
// holds a try back while a gateway it needs cools down after failing in a
// row (the breaker, on with retries only).
#include "diagnostics/last_error.h"
#include "dispatch/c_notify.h"
#include "dispatch/retry_schedule.h"
#include "dispatch/tracing_channels.h"
#include "gateways/gateway_table.h"

namespace qz {
namespace {

BreakerSettings BreakerOf(const DeliveryPolicy& policy) {
  return {.break_after = policy.break_after,
          .first_ms = std::chrono::milliseconds(policy.first_retry).count(),
          .ceiling_ms = std::chrono::milliseconds(policy.max_delay).count()};
}

// Narrowing leaves a group's list Empty once nothing is left to send to it.
bool AnythingLeft(const Variant& groups) {
  if (!groups.IsArray()) return true;
  for (const Variant& group : groups.Items())
    if (group.kind() != Variant::Kind::Empty) return true;
  return false;
}

// Gateway texts hold the CR LF between replies; a status line reads one line.
std::string FailureLine(std::string_view text) {
  std::string line;
  for (char c : text) {
    if (c != '\r' && c != '\n')
      line.push_back(c);
    else if (!line.empty() && !line.ends_with("; "))
      line.append("; ");
  }
  while (line.ends_with("; ")) line.resize(line.size() - 2);
  return line;
}

}  // namespace

bool cNotify::HoldForCoolDown() {
  if (!env_.health) return false;
  std::vector<std::string> needed;
  if (mblnMailEnabled && AnythingLeft(mvarEmail))
    needed.push_back(!mstrProfile.empty() ? env_.gateways.profile.name : env_.gateways.smtp.name);
  if (AnythingLeft(mvarPager)) {
    try {
      const Variant number = env_.gateways.read_gateway(ChannelState());
      if (const PagingGateway* gateway = env_.gateways.Find(number.ToNumber()))
        needed.push_back(gateway->name);
    } catch (...) {
      // The run reads it again and reports what is wrong; nothing to hold for.
    }
  }
  const BreakerSettings breaker = BreakerOf(policy_);
  const int64_t now = UnixMsNow();
  std::optional<int64_t> until;
  std::string held;
  for (const std::string& name : needed)
    if (auto end = env_.health->HeldUntil(name, breaker, now); end && (!until || *end > *until)) {
      until = end;
      held = name;
    }
  // A cool-down past the give-up time would end the request untried: the
  // last try goes now instead.
  if (!until || *until >= accepted_unix_ms_ + policy_.give_up_after.count() * 1000) return false;
  next_try_unix_ms_ = *until;
  if (env_.journal && tries_ > 0) journal_slot_.Keep(JournalRecord());
  ArmRetryTimer();
  if (env_.report)
    env_.report("request " + mstrTestID + ": gateway " + held + " is down; try " +
                std::to_string(tries_ + 1) + " waits " + SpanText(*until - now));
  return true;
}

void cNotify::NoteGatewayOutcome(std::string_view gateway, const Variant& recipients,
                                 bool delivered, const DeliveryParts* parts, size_t told) {
  if (!env_.health) return;
  const int64_t now = UnixMsNow();
  std::optional<std::string> news;
  if (delivered) {
    // A channel handed nobody sent nothing and proved nothing.
    if (RecipientsText(recipients).empty()) return;
    news = env_.health->Succeeded(gateway, now);
  } else {
    // What the parts told decides; a channel that told none failed before
    // any part, which is a failure for now.
    bool transient = true;
    std::string text = gstrLastError;
    if (parts && parts->parts().size() > told) {
      transient = false;
      for (size_t p = told; p < parts->parts().size(); ++p) {
        const DeliveredPart& part = parts->parts()[p];
        if (part.state == PartState::kSent) continue;
        if (part.state == PartState::kTransient) transient = true;
        if (!part.text.empty()) text = part.text;
      }
    }
    const BreakerSettings breaker = BreakerOf(policy_);
    news = env_.health->Failed(gateway, FailureLine(text), transient, now,
                               policy_.retries() ? &breaker : nullptr);
  }
  if (news && env_.report) env_.report(*news);
}

}  // namespace qz
