// What one dispatch run did, for the server's own log and its monitors: per
// group which channel ran for which recipients, with what result and why,
// and the outcome. Filled on the object's apartment thread during the run;
// a plain value afterwards.
#pragma once

#include <string>
#include <vector>

namespace qz {

struct ChannelStep {
  long group = 0;          // index of the message group
  std::string channel;     // "mail (SMTP)", "page (SNPP)", ...
  std::string recipients;  // the group's addresses or numbers, flattened
  bool addressed = true;   // false for a step that has no recipients (loading settings)
  bool delivered = false;
  std::string reason;  // the channel's failure text when not delivered
};

struct DispatchTrace {
  // A request of many groups is traced by its first steps and a count: its
  // log lines and its Delivered signal stay small.
  static constexpr size_t kMaxSteps = 100;

  std::string test_id;
  std::string outcome;  // the run's outcome text, as the callback carries it
  std::string gateway;  // the paging gateway the run read last ("SNPP", ...)
  std::vector<ChannelStep> steps;
  std::string error;             // set when the run itself raised: what it reported
  size_t steps_not_kept = 0;     // past kMaxSteps
  size_t failures_not_kept = 0;  // of those, the ones not delivered
  // The run ended without an outcome: another daemon of the fleet finishes
  // the request, so nothing is reported here.
  bool let_go = false;
};

// One line per step ("group 0: page (SNPP) to 555: failed: ..."), one for
// the steps not kept, then the run's own error if it raised. Texts are as recorded; the log escapes
// them.
std::vector<std::string> TraceDetails(const DispatchTrace& trace);
// "250 more steps not shown, 3 of them failed".
std::string NotKeptLine(const DispatchTrace& trace);

}  // namespace qz
