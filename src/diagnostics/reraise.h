// The re-raising convention (the settings procedures, the window-station
// check): a run-time error inside them reaches their caller with its number
// and description and their own name as the source. Stateless.
#pragma once

#include <string_view>

namespace qz {

// Raises the error being handled again under `source`. Call it only inside a
// catch block.
[[noreturn]] void ReRaiseWithSource(std::string_view source);

}  // namespace qz
