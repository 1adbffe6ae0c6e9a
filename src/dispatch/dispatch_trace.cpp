#include "dispatch/dispatch_trace.h"

namespace qz {

std::string NotKeptLine(const DispatchTrace& trace) {
  return std::to_string(trace.steps_not_kept) + " more steps not shown, " +
         std::to_string(trace.failures_not_kept) + " of them failed";
}

std::vector<std::string> TraceDetails(const DispatchTrace& trace) {
  std::vector<std::string> details;
  details.reserve(trace.steps.size() + 1);
  for (const ChannelStep& step : trace.steps) {
    std::string line = "group " + std::to_string(step.group) + ": " + step.channel;
    if (step.addressed)
      line.append(" to ").append(step.recipients.empty() ? "(none)" : step.recipients);
    if (step.delivered) {
      line.append(": delivered");
    } else {
      line.append(": failed: ").append(step.reason.empty() ? "(no reason given)" : step.reason);
    }
    details.push_back(std::move(line));
  }
  if (trace.steps_not_kept > 0) details.push_back(NotKeptLine(trace));
  if (!trace.error.empty()) details.push_back("run raised: " + trace.error);
  return details;
}

}  // namespace qz
