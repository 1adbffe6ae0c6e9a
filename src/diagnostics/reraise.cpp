#include "diagnostics/reraise.h"

#include <string>

#include "automation/run_time_error.h"
#include "diagnostics/error_reporter.h"

namespace qz {

void ReRaiseWithSource(std::string_view source) {
  CaughtError error = CurrentError();
  throw RunTimeError(error.number, std::move(error.description), std::string(source));
}

}  // namespace qz
