// The run-time error of the automation runtime: a number, a description and
// the source that raised it. Thrown wherever the classic runtime would raise.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace qz {

// Standard numbers the system raises or recognises.
enum ErrorNumber : int32_t {
  kErrInvalidCall = 5,
  kErrOverflow = 6,
  kErrOutOfMemory = 7,
  kErrSubscript = 9,
  kErrTypeMismatch = 13,
  kErrInternal = 51,
  kErrObjectNotSet = 91,
  kErrInvalidNull = 94,
  kErrCannotCreate = 429,
  kErrNoSuchMember = 438,
  kErrNoSuchAction = 445,
  kErrArgumentNotOptional = 449,
  kErrWrongArguments = 450,
};

// The runtime's own text for a standard number; empty for numbers it has none for.
std::string_view StandardErrorText(int32_t number);

class RunTimeError : public std::runtime_error {
 public:
  // A standard error with the runtime's text.
  explicit RunTimeError(int32_t number, std::string source = {});
  RunTimeError(int32_t number, std::string description, std::string source);

  int32_t number() const { return number_; }
  const std::string& description() const { return description_; }
  const std::string& source() const { return source_; }

 private:
  int32_t number_;
  std::string description_;
  std::string source_;
};

}  // namespace qz
