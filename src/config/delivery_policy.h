// The [Delivery] section of QzNotes.ini: whether a request that failed for
// now is tried again, how often and how long apart. It is an extra the
// behaviour's own reads never touch, so it is read here, apart from them;
// read afresh when a request's run starts, so an administrator's change
// applies to the next request. Stateless; safe from any thread.
#pragma once

#include <chrono>
#include <string_view>

namespace qz {

struct DeliveryPolicy {
  int attempts = 1;  // tries of a request in all; 1: tried once, as always
  std::chrono::seconds first_retry{30};
  std::chrono::seconds max_delay{900};       // the ceiling of the doubling delay
  std::chrono::seconds give_up_after{3600};  // after acceptance, no new try starts
  // Transient failures in a row after which a gateway's new tries wait for
  // a cool-down; 0: never.
  int break_after = 5;
  int keep_failed_days = 7;  // a request that gave up stays this long as a dead letter; 0: not kept

  bool retries() const { return attempts > 1; }
};

// The policy in the text of a QzNotes.ini. A value missing, empty or not a
// whole number in range keeps its default.
DeliveryPolicy ParseDeliveryPolicy(std::string_view ini_text);
// The policy of the program folder `folder`; defaults when the file is missing.
DeliveryPolicy ReadDeliveryPolicy(std::string_view folder);

}  // namespace qz
