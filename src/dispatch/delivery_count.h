// Counts one channel call of a dispatch run for the metrics: how long it
// took and how it went (sent, failed for now, failed for good). Made just
// before the call, told its answer just after; with no metrics it does
// nothing. On the run's apartment thread.
#pragma once

#include <chrono>
#include <optional>
#include <span>
#include <string_view>

#include "diagnostics/metrics.h"
#include "gateways/delivery_parts.h"

namespace qz {

// The outcome of a channel call that told `parts`; nothing when it went to
// nobody (no part was told). A failure is transient when a part may go on
// another try, permanent when none may or none was told.
std::optional<DeliveryOutcome> ChannelOutcome(bool delivered, std::span<const DeliveredPart> parts);

class DeliveryCount {
 public:
  // `parts` collects the parts of the calls counted; null: every failure
  // counts as permanent and every success as sent.
  DeliveryCount(Metrics* metrics, const DeliveryParts* parts);
  // Counts the call under `gateway`; answers `delivered`.
  bool Done(std::string_view gateway, bool delivered) const;

 private:
  Metrics* metrics_;
  const DeliveryParts* parts_;
  size_t first_part_ = 0;
  std::chrono::steady_clock::time_point start_;
};

}  // namespace qz
