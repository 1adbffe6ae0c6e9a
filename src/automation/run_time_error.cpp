#include "automation/run_time_error.h"

namespace qz {

std::string_view StandardErrorText(int32_t number) {
  switch (number) {
    case kErrInvalidCall:
      return "Invalid procedure call or argument";
    case kErrOverflow:
      return "Overflow";
    case kErrOutOfMemory:
      return "Out of memory";
    case kErrSubscript:
      return "Subscript out of range";
    case 11:
      return "Division by zero";
    case kErrTypeMismatch:
      return "Type mismatch";
    case kErrInternal:
      return "Internal error";
    case kErrObjectNotSet:
      return "Object variable or With block variable not set";
    case kErrInvalidNull:
      return "Invalid use of Null";
    case 424:
      return "Object required";
    case kErrCannotCreate:
      return "ActiveX component can't create object";
    case kErrNoSuchMember:
      return "Object doesn't support this property or method";
    case kErrArgumentNotOptional:
      return "Argument not optional";
    case kErrNoSuchAction:
      return "Object doesn't support this action";
    case kErrWrongArguments:
      return "Wrong number of arguments or invalid property assignment";
    default:
      return {};
  }
}

RunTimeError::RunTimeError(int32_t number, std::string source)
    : RunTimeError(number, std::string(StandardErrorText(number)), std::move(source)) {}

RunTimeError::RunTimeError(int32_t number, std::string description, std::string source)
    : std::runtime_error(description),
      number_(number),
      description_(std::move(description)),
      source_(std::move(source)) {}

}  // namespace qz
