// The seat check as the daemon's --seat option sets it: "auto" asks the
// login probe, "present" and "absent" answer without asking (for headless
// servers whose administrators want the profile route, and for tests).
// Safe from any thread.
#pragma once

#include <optional>
#include <string_view>

#include "platform/seat.h"

namespace qz {

enum class SeatMode { kAuto, kPresent, kAbsent };

// "auto", "present" or "absent"; nullopt for anything else.
std::optional<SeatMode> ParseSeatMode(std::string_view text);

class ConfiguredSeatProbe final : public SeatProbe {
 public:
  explicit ConfiguredSeatProbe(SeatMode mode) : mode_(mode) {}
  bool UserAtSeat() override;

 private:
  SeatMode mode_;
  LoginSeatProbe login_;
};

}  // namespace qz
