#include "dispatch/delivery_count.h"

#include <algorithm>

namespace qz {

std::optional<DeliveryOutcome> ChannelOutcome(bool delivered,
                                              std::span<const DeliveredPart> parts) {
  if (delivered) {
    if (parts.empty()) return std::nullopt;
    return DeliveryOutcome::kSent;
  }
  const bool may_go_later = std::any_of(parts.begin(), parts.end(), [](const DeliveredPart& p) {
    return p.state == PartState::kTransient;
  });
  return may_go_later ? DeliveryOutcome::kTransient : DeliveryOutcome::kPermanent;
}

DeliveryCount::DeliveryCount(Metrics* metrics, const DeliveryParts* parts)
    : metrics_(metrics), parts_(parts) {
  if (!metrics_) return;
  if (parts_) first_part_ = parts_->parts().size();
  start_ = std::chrono::steady_clock::now();
}

bool DeliveryCount::Done(std::string_view gateway, bool delivered) const {
  if (!metrics_) return delivered;
  const auto took = std::chrono::steady_clock::now() - start_;
  std::optional<DeliveryOutcome> outcome =
      delivered ? DeliveryOutcome::kSent : DeliveryOutcome::kPermanent;
  if (parts_) outcome = ChannelOutcome(delivered, std::span(parts_->parts()).subspan(first_part_));
  if (outcome) metrics_->Delivered(gateway, *outcome, took);
  return delivered;
}

}  // namespace qz
