// How each delivery of a channel went, part by part, for whoever decides
// later what to send again. A part is one recipient of one message where the
// channel tells recipients apart, else a whole message. A failure is sorted
// as worth another try (transient) or not (permanent). Owned by the run that
// collects it; used on the channel's thread only.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qz {

enum class FailureKind {
  kTransient,  // another try may go: no answer, busy, try later
  kPermanent,  // another try would be refused the same way
  kWaiting,    // not tried: held back until the recipient may take more
};

enum class PartState { kSent, kTransient, kPermanent, kWaiting };

struct DeliveredPart {
  std::string channel;  // the procedure name of the channel that ran
  int64_t group = 0;
  int32_t message = 0;               // index k within the group's messages
  std::optional<int32_t> recipient;  // index j in message k's list; none: the whole message
  PartState state = PartState::kSent;
  std::optional<std::chrono::seconds> retry_after = {};  // what the peer asked us to wait
  std::string text = {};  // why it failed; empty when sent, or when the part was never tried
  // Of a whole message that failed: the entries of its list that went all
  // the same (a terminal that took some identifiers of a call).
  std::vector<int32_t> went = {};
};

// Collects the parts of one run; the runner names the group before each one.
class DeliveryParts {
 public:
  void BeginGroup(int64_t group) { group_ = group; }
  void Add(DeliveredPart part) {
    part.group = group_;
    parts_.push_back(std::move(part));
  }
  const std::vector<DeliveredPart>& parts() const { return parts_; }

 private:
  int64_t group_ = 0;
  std::vector<DeliveredPart> parts_;
};

}  // namespace qz
