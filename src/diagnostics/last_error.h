// The text of the latest channel failure or trapped run-time error on this
// thread, shared by every object served on the thread.
#pragma once

#include <string>

namespace qz {

extern thread_local std::string gstrLastError;

}  // namespace qz
