#include "platform/seat_override.h"

namespace qz {

std::optional<SeatMode> ParseSeatMode(std::string_view text) {
  if (text == "auto") return SeatMode::kAuto;
  if (text == "present") return SeatMode::kPresent;
  if (text == "absent") return SeatMode::kAbsent;
  return std::nullopt;
}

bool ConfiguredSeatProbe::UserAtSeat() {
  switch (mode_) {
    case SeatMode::kPresent:
      return true;
    case SeatMode::kAbsent:
      return false;
    case SeatMode::kAuto:
      break;
  }
  return login_.UserAtSeat();
}

}  // namespace qz
