// The [Delivery] section of QzNotes.ini: whether a request that failed for
// now is tried again, how often and how long apart. It is an extra the
// behaviour's own reads never touch, so it is read here, apart from them;
// read afresh when a request's run starts, so an administrator's change
// applies to the next request. Stateless; safe from any thread.
#pragma once

#include <chrono>
#include <string_view>
#include <vector>

namespace qz {

// At most `count` sends to one recipient in any `window`.
struct ThrottleCap {
  int count = 0;
  std::chrono::seconds window{0};
};

// What is checked just before a recipient is sent; nothing when all are unset.
struct DeliveryGates {
  std::vector<ThrottleCap> caps;         // MaxPerRecipient, MaxPerRecipient2...
  bool throttle_mail = false;            // mail is capped too, per address
  std::chrono::seconds suppress_for{0};  // 0: a repeated text is sent again

  bool any() const { return !caps.empty() || suppress_for.count() > 0; }
};

struct DeliveryPolicy {
  int attempts = 1;  // tries of a request in all; 1: tried once, as always
  std::chrono::seconds first_retry{30};
  std::chrono::seconds max_delay{900};       // the ceiling of the doubling delay
  std::chrono::seconds give_up_after{3600};  // after acceptance, no new try starts
  // Transient failures in a row after which a gateway's new tries wait for
  // a cool-down; 0: never.
  int break_after = 5;
  int keep_failed_days = 7;  // a request that gave up stays this long as a dead letter; 0: not kept
  DeliveryGates gates = {};

  bool retries() const { return attempts > 1; }
};

// The policy in the text of a QzNotes.ini. A value missing, empty or not a
// whole number in range keeps its default.
DeliveryPolicy ParseDeliveryPolicy(std::string_view ini_text);
// The policy of the program folder `folder`; defaults when the file is missing.
DeliveryPolicy ReadDeliveryPolicy(std::string_view folder);

}  // namespace qz
