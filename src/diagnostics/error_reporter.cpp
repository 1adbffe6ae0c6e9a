#include "diagnostics/error_reporter.h"

#include <exception>
#include <new>

#include "automation/run_time_error.h"
#include "diagnostics/last_error.h"

namespace qz {

CaughtError CurrentError() {
  std::exception_ptr current = std::current_exception();
  if (!current) return {};
  try {
    std::rethrow_exception(current);
  } catch (const RunTimeError& e) {
    return {e.number(), e.description(), e.source()};
  } catch (const std::bad_alloc&) {
    return {kErrOutOfMemory, std::string(StandardErrorText(kErrOutOfMemory)), {}};
  } catch (...) {
    return {kErrInternal, std::string(StandardErrorText(kErrInternal)), {}};
  }
}

std::string ReportedText(int32_t number, std::string_view description) {
  std::string_view text = description;
  switch (number) {
    case 60001:
      text = "Invalid parameter is passed to procedure";
      break;
    case 60002:
      text = "Invalid program flow";
      break;
    case 60003:
      text = "Inconsistent data in database";
      break;
    default:
      break;
  }
  std::string reported;
  reported.reserve(text.size() + 3);
  reported.append(text).append(".\r\n");
  return reported;
}

std::string ReporterFailureText(int32_t number, std::string_view description) {
  std::string text = "Error occurred in [basError::gsubDisplayError].\r\nError (";
  text.append(std::to_string(number)).append(") : ").append(description);
  return text;
}

void gsubDisplayError(const CaughtError& error, std::string_view, std::string_view) {
  try {
    if (error.number > 0) gstrLastError = ReportedText(error.number, error.description);
  } catch (...) {
    // Out of memory while building the text: fall back to the short report.
    CaughtError own = CurrentError();
    try {
      gstrLastError = ReporterFailureText(own.number, own.description);
    } catch (...) {
      gstrLastError.clear();
    }
  }
}

void gsubDisplayError(std::string_view source, std::string_view procedure) {
  gsubDisplayError(CurrentError(), source, procedure);
}

}  // namespace qz
