// The record file of qznotes-snpp-sim: one line per event, tab-separated:
// connection number, milliseconds since that connection was accepted, kind
// (open, recv, recv-lf, partial, sent, close) and the escaped text. Each
// line is one write(2) on an O_APPEND descriptor, so lines from several
// connections never mix and a reader always sees whole lines. Safe from any
// thread.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "platform/unique_fd.h"

namespace qz::snppsim {

class Record {
 public:
  // An empty path records nothing. `unix_times`: the time of each line is
  // the wall clock in Unix milliseconds instead, to compare with due times
  // kept elsewhere.
  explicit Record(const std::string& path, bool unix_times = false);
  bool ok() const { return path_empty_ || static_cast<bool>(fd_); }
  void Write(int connection, std::chrono::steady_clock::time_point since, std::string_view kind,
             std::string_view text) const;

 private:
  bool path_empty_;
  bool unix_times_;
  UniqueFd fd_;
};

}  // namespace qz::snppsim
