#include "diagnostics/last_error.h"

namespace qz {

thread_local std::string gstrLastError;

}  // namespace qz
