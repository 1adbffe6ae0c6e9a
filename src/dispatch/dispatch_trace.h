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
  std::string test_id;
  std::string outcome;  // the run's outcome text, as the callback carries it
  std::string gateway;  // the paging gateway the run read last ("SNPP", ...)
  std::vector<ChannelStep> steps;
  std::string error;  // set when the run itself raised: what it reported
};

// One line per step ("group 0: page (SNPP) to 555: failed: ..."), then the
// run's own error if it raised. Texts are as recorded; the log escapes them.
std::vector<std::string> TraceDetails(const DispatchTrace& trace);

}  // namespace qz
