#include "gateways/channel_frame.h"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "automation/counter16.h"
#include "diagnostics/error_reporter.h"
#include "diagnostics/error_sources.h"
#include "diagnostics/last_error.h"
#include "gateways/clean_message.h"

namespace qz {
namespace {

bool HasItems(const Variant& v) { return !v.IsEmpty() && v.IsArray(); }

PartState StateOf(FailureKind kind) {
  switch (kind) {
    case FailureKind::kPermanent:
      return PartState::kPermanent;
    case FailureKind::kWaiting:
      return PartState::kWaiting;
    default:
      return PartState::kTransient;
  }
}

// Tells the listener, if any, how each part went. The parts are walked in
// delivery order; `next_` is the first part not yet told, so whatever stops
// the group can be told for everything that was not tried.
class PartReport {
 public:
  PartReport(const ChannelFrame& frame, const Variant& notes, const Variant& recipients)
      : frame_(frame), notes_(notes), recipients_(recipients) {}

  void Tell(int32_t k, std::optional<int32_t> j, const Refusal& refusal,
            std::vector<int32_t> went = {}) {
    if (frame_.parts) {
      DeliveredPart part{.channel = std::string(frame_.procedure),
                         .message = k,
                         .recipient = j,
                         .went = std::move(went)};
      if (refusal) {
        part.state = StateOf(refusal->kind);
        part.retry_after = refusal->retry_after;
        part.text = refusal->text;
      }
      frame_.parts->Add(std::move(part));
    }
    next_k_ = j ? k : k + 1;
    next_j_ = j ? *j + 1 : 0;
  }

  // Every part not yet told did not go, for the same reason. Only the first
  // was tried, and only it can have a kind of its own: the rest may go later.
  void TellTheRest(FailureKind first_kind, const std::string& text,
                   std::vector<int32_t> first_went = {}) noexcept {
    if (!frame_.parts || !HasItems(notes_) || !HasItems(recipients_)) return;
    try {
      Refusal failure = Failure{.text = text, .kind = first_kind};
      // Counters past 16 bits raise before any delivery; such parts never go.
      const int32_t last = std::min<int32_t>(notes_.UBound(), INT16_MAX);
      for (int32_t k = next_k_; k <= last; ++k) {
        const Variant& list = recipients_.At(k);
        if (!HasItems(list)) continue;
        if (frame_.delivery == Delivery::kPerMessage) {
          Tell(k, std::nullopt, failure, std::exchange(first_went, {}));
          failure->kind = FailureKind::kTransient;
          continue;
        }
        const int32_t end = std::min<int32_t>(list.UBound(), INT16_MAX);
        for (int32_t j = k == next_k_ ? next_j_ : 0; j <= end; ++j) {
          if (list.At(j).IsEmpty()) continue;
          Tell(k, j, failure);
          failure->kind = FailureKind::kTransient;
        }
      }
    } catch (...) {
      // Only the listener's memory can fail; the caller's answer stands.
    }
  }

 private:
  const ChannelFrame& frame_;
  const Variant& notes_;
  const Variant& recipients_;
  int32_t next_k_ = 0;
  int32_t next_j_ = 0;
};

void Note(const ChannelFrame& frame, const Refusal& refusal) {
  if (!refusal || !refusal->noted) return;
  if (frame.refusals == Refusals::kLatestOnly) {
    gstrLastError = refusal->text;
  } else {
    gstrLastError.append("\r\n").append(refusal->text);
  }
}

// A part the channel cannot reach any more is not tried; it did not go.
const Refusal kUnreachable = Failure{.kind = FailureKind::kTransient, .noted = false};

// One recipient, past the gate when there is one. A held-back recipient is
// not the caller's failure: it goes on a later try.
Refusal DeliverOne(const ChannelFrame& frame, const std::string& text, const Variant& to) {
  const GateAnswer gate = frame.gate ? frame.gate->Before(text, to) : GateAnswer{};
  if (gate.verdict == GateVerdict::kAlreadySent) return std::nullopt;
  if (gate.verdict == GateVerdict::kWait)
    return Failure{
        .text = gate.why, .kind = FailureKind::kWaiting, .retry_after = gate.wait, .noted = false};
  Refusal refusal;
  try {
    refusal = !frame.reachable || frame.reachable() ? frame.deliver(text, to) : kUnreachable;
  } catch (...) {
    if (frame.gate) frame.gate->After(text, to, false);
    throw;
  }
  if (frame.gate) frame.gate->After(text, to, !refusal);
  return refusal;
}

void DeliverGroup(const ChannelFrame& frame, const Variant& notes, const Variant& recipients,
                  PartReport& report) {
  // Both counters are 16 bits wide, as the loops they stand for.
  for (int32_t k = 0, last = Int16LoopLimit(notes.UBound()); k <= last; Step16(k)) {
    std::string text = notes.At(k).Text();
    msubCleanMessage(text, frame.paging);
    const Variant& list = recipients.At(k);
    if (!HasItems(list)) continue;
    if (frame.delivery == Delivery::kPerMessage) {
      const Refusal refusal =
          !frame.reachable || frame.reachable() ? frame.deliver(text, list) : kUnreachable;
      Note(frame, refusal);
      report.Tell(k, std::nullopt, refusal);
      continue;
    }
    for (int32_t j = 0, end = Int16LoopLimit(list.UBound()); j <= end; Step16(j)) {
      const Variant& to = list.At(j);
      if (to.IsEmpty()) continue;
      const Refusal refusal = DeliverOne(frame, text, to);
      Note(frame, refusal);
      report.Tell(k, j, refusal);
    }
  }
}

}  // namespace

bool RunChannel(const ChannelFrame& frame, const Variant& notes, const Variant& recipients) {
  PartReport report(frame, notes, recipients);
  try {
    gstrLastError.clear();
    if (HasItems(notes) && HasItems(recipients)) {
      const Opening opening = frame.open ? frame.open() : Opening::kSend;
      if (opening != Opening::kSend) {
        report.TellTheRest(FailureKind::kTransient, gstrLastError);
        if (opening == Opening::kFailed) return false;
      } else {
        DeliverGroup(frame, notes, recipients, report);
      }
    }
    return gstrLastError.empty();
  } catch (...) {
    gsubDisplayError(kServerSource, frame.procedure);
    FailureKind kind = FailureKind::kTransient;
    std::vector<int32_t> went;
    try {
      if (frame.error_kind) kind = frame.error_kind();
      if (frame.error_went) went = frame.error_went();
    } catch (...) {
      // Unsorted: worth another try, of every entry.
    }
    const CaughtError error = CurrentError();
    report.TellTheRest(kind, ReportedText(error.number, error.description), std::move(went));
    return false;
  }
}

}  // namespace qz
