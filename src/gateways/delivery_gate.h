// A check just before one recipient is sent: whether the text goes now,
// waits (too many sends to that recipient lately), or counts as sent
// already (the same text went there a moment ago). The gateways know
// nothing of why; the channel frame asks and tells. Used on the channel's
// thread; whoever implements it shares its state safely.
#pragma once

#include <chrono>
#include <string>

#include "automation/variant.h"

namespace qz {

enum class GateVerdict { kSend, kWait, kAlreadySent };

struct GateAnswer {
  GateVerdict verdict = GateVerdict::kSend;
  std::chrono::seconds wait{0};  // kWait: until the recipient may take it
  std::string why = {};          // kWait: for the daemon's line
};

class DeliveryGate {
 public:
  virtual GateAnswer Before(const std::string& text, const Variant& to) = 0;
  // After a kSend answer: whether the delivery went.
  virtual void After(const std::string& text, const Variant& to, bool sent) = 0;

 protected:
  ~DeliveryGate() = default;
};

}  // namespace qz
