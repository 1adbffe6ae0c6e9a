#include "gateways/channel_frame.h"

#include "automation/counter16.h"
#include "diagnostics/error_reporter.h"
#include "diagnostics/error_sources.h"
#include "diagnostics/last_error.h"
#include "gateways/clean_message.h"

namespace qz {
namespace {

bool HasItems(const Variant& v) { return !v.IsEmpty() && v.IsArray(); }

void Note(const ChannelFrame& frame, Refusal refusal) {
  if (!refusal) return;
  if (frame.refusals == Refusals::kLatestOnly) {
    gstrLastError = std::move(*refusal);
  } else {
    gstrLastError.append("\r\n").append(*refusal);
  }
}

void DeliverGroup(const ChannelFrame& frame, const Variant& notes, const Variant& recipients) {
  // Both counters are 16 bits wide, as the loops they stand for.
  for (int32_t k = 0, last = Int16LoopLimit(notes.UBound()); k <= last; Step16(k)) {
    std::string text = notes.At(k).Text();
    msubCleanMessage(text, frame.paging);
    const Variant& list = recipients.At(k);
    if (!HasItems(list)) continue;
    if (frame.delivery == Delivery::kPerMessage) {
      if (!frame.reachable || frame.reachable()) Note(frame, frame.deliver(text, list));
      continue;
    }
    for (int32_t j = 0, end = Int16LoopLimit(list.UBound()); j <= end; Step16(j)) {
      const Variant& to = list.At(j);
      if (to.IsEmpty()) continue;
      if (frame.reachable && !frame.reachable()) continue;
      Note(frame, frame.deliver(text, to));
    }
  }
}

}  // namespace

bool RunChannel(const ChannelFrame& frame, const Variant& notes, const Variant& recipients) {
  try {
    gstrLastError.clear();
    if (HasItems(notes) && HasItems(recipients)) {
      const Opening opening = frame.open ? frame.open() : Opening::kSend;
      if (opening == Opening::kFailed) return false;
      if (opening == Opening::kSend) DeliverGroup(frame, notes, recipients);
    }
    return gstrLastError.empty();
  } catch (...) {
    gsubDisplayError(kServerSource, frame.procedure);
    return false;
  }
}

}  // namespace qz
