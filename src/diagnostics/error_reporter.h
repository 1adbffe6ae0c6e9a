// Turns a trapped run-time error into text: its description, "." and CR LF
// go to gstrLastError. Call it inside a catch block; it reads the error being
// handled. Per thread, like gstrLastError.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qz {

// The error being handled, as the reporter sees it.
struct CaughtError {
  int32_t number = 0;
  std::string description;
  std::string source;
};

// The error of the exception in flight (std::current_exception): a
// RunTimeError as it is, running out of memory as 7, anything else as 51.
// Number 0 when no exception is being handled.
CaughtError CurrentError();

// The text the reporter stores for an error: the custom numbers 60001 to
// 60003 get their own text in place of the description.
std::string ReportedText(int32_t number, std::string_view description);

// The text the reporter stores when it fails itself.
std::string ReporterFailureText(int32_t number, std::string_view description);

// `source` names the reporting class and `procedure` the procedure; neither
// appears in the stored text. Errors numbered 0 or below leave
// gstrLastError unchanged.
void gsubDisplayError(std::string_view source, std::string_view procedure);
void gsubDisplayError(const CaughtError& error, std::string_view source,
                      std::string_view procedure);

}  // namespace qz
