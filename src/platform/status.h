// What went wrong below the behaviour's own layer, as a value the caller
// must look at: ok, or a code and a message saying what failed. A function
// that can fail returns a Status; one that makes something returns that
// (empty on failure) and sets a Status passed last. Errors the behaviour
// raises stay RunTimeError. A plain value; safe from any thread.
#pragma once

#include <ostream>
#include <string>
#include <utility>

namespace qz {

class [[nodiscard]] Status {
 public:
  enum class Code { kOk, kInvalidArgument, kNotFound, kIoError };

  Status() = default;  // ok
  static Status InvalidArgument(std::string message) {
    return {Code::kInvalidArgument, std::move(message)};
  }
  static Status NotFound(std::string message) { return {Code::kNotFound, std::move(message)}; }
  static Status IoError(std::string message) { return {Code::kIoError, std::move(message)}; }

  bool ok() const { return code_ == Code::kOk; }
  Code code() const { return code_; }
  const std::string& message() const { return message_; }  // empty when ok

 private:
  Status(Code code, std::string message) : code_(code), message_(std::move(message)) {}

  Code code_ = Code::kOk;
  std::string message_;
};

// The message, or "ok": for diagnostics and test failures.
inline std::ostream& operator<<(std::ostream& out, const Status& status) {
  return out << (status.ok() ? std::string("ok") : status.message());
}

}  // namespace qz
