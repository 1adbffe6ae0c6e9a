// What was sent lately, for the [Delivery] throttles and the duplicate
// window: the sends to each recipient within the caps' windows, and who
// sent each recent text last. One daemon keeps it in memory and a file
// (DeliveryLedger); a fleet keeps it in its shared database (PgLedger), so
// a cap holds across every daemon. Safe from any thread.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/delivery_policy.h"

namespace qz {

class SendLedger {
 public:
  struct Hold {
    int64_t wait_ms = 0;  // until a send to the recipient is within every cap
    ThrottleCap cap;      // the cap that holds it longest
  };

  virtual ~SendLedger() = default;

  // Takes a send to `recipient` at `now_ms` when every cap allows one;
  // otherwise takes nothing and says how long it must wait.
  virtual std::optional<Hold> Take(const std::string& recipient,
                                   const std::vector<ThrottleCap>& caps, int64_t now_ms) = 0;
  // Gives back what Take took at `taken_ms`: the send did not go.
  virtual void GiveBack(const std::string& recipient, int64_t taken_ms) = 0;

  // The request that sent `digest` less than `window` before `now_ms`.
  virtual std::optional<std::string> DuplicateOf(const std::string& digest,
                                                 std::chrono::seconds window, int64_t now_ms) = 0;
  virtual void RecordSent(const std::string& digest, std::string_view request,
                          std::chrono::seconds window, int64_t now_ms) = 0;
};

// What holds a send at `now_ms` back, given the recipient's earlier send
// times in order (`times`, none older than the longest window): the cap
// whose window frees a slot last, or nothing when every cap allows one.
template <typename Times>
std::optional<SendLedger::Hold> CapsHold(const Times& times, const std::vector<ThrottleCap>& caps,
                                         int64_t now_ms) {
  std::optional<SendLedger::Hold> hold;
  for (const ThrottleCap& cap : caps) {
    const int64_t window = std::chrono::milliseconds(cap.window).count();
    const auto inside = std::upper_bound(times.begin(), times.end(), now_ms - window);
    const auto count = times.end() - inside;
    if (count < cap.count) continue;
    // The send that must leave the window before one more fits in it.
    const int64_t frees = *(inside + (count - cap.count)) + window;
    if (!hold || frees - now_ms > hold->wait_ms) hold = SendLedger::Hold{frees - now_ms, cap};
  }
  return hold;
}

}  // namespace qz
