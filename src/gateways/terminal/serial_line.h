// One serial line opened for the pager terminal: a terminal device only
// (never an ordinary file), exclusively locked, in raw mode with the speed,
// framing and hand-shaking of the settings. Every wait is a poll against a
// deadline. Owned by one thread for the length of one SendPage.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "gateways/terminal/terminal_settings.h"
#include "platform/unique_fd.h"

namespace qz::tap {

using Clock = std::chrono::steady_clock;

class SerialLine {
 public:
  // Opens `device`, waiting until `lock_deadline` for another user's lock
  // to go. Raises (kErrTerminal) with a description naming the device when it
  // is missing, not a terminal, refuses to open or stays locked.
  static SerialLine Open(const std::string& device, const LineSettings& line,
                         HandShaking hand_shaking, Clock::time_point lock_deadline);

  // Writes all of `bytes` before `deadline`; raises when the line will not
  // take them in time (hand-shaking holding it, a hung-up line).
  void Write(std::string_view bytes, Clock::time_point deadline);
  // Appends what arrives to `into`, waiting until `deadline` for at least one
  // byte. False when nothing came in time; raises when the line is gone.
  bool Read(std::string& into, Clock::time_point deadline);
  // Drops DTR for a moment so a modem hangs up; ignored where the device has
  // no modem lines (a pseudo-terminal).
  void PulseDtr();
  // Discards what the line holds in both directions.
  void Flush();

  const std::string& device() const { return device_; }

 private:
  SerialLine(UniqueFd fd, std::string device) : fd_(std::move(fd)), device_(std::move(device)) {}

  UniqueFd fd_;
  std::string device_;
};

}  // namespace qz::tap
