// Loops whose counter is a 16-bit integer: the bound is converted to 16 bits
// when the loop starts, and stepping past 32767 overflows, both raising 6 as
// the runtime does.
#pragma once

#include <cstdint>

#include "automation/run_time_error.h"

namespace qz {

inline int32_t Int16LoopLimit(int32_t upper) {
  if (upper > INT16_MAX || upper < INT16_MIN) throw RunTimeError(kErrOverflow);
  return upper;
}

inline void Step16(int32_t& counter) {
  if (counter >= INT16_MAX) throw RunTimeError(kErrOverflow);
  ++counter;
}

}  // namespace qz
