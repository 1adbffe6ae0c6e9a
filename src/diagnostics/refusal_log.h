// Keeps the daemon's lines about refused calls from growing with a caller
// that keeps calling past its limits: one line per caller and window, and
// the next line says how many refusals went unlogged meanwhile. Safe from
// any thread.
#pragma once

#include <chrono>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace qz {

class RefusalLog {
 public:
  using Clock = std::chrono::steady_clock;

  // `unlogged` follows the count of events left out in the next line.
  explicit RefusalLog(Clock::duration window = std::chrono::seconds(10),
                      std::string_view unlogged = "more refused since the last line")
      : window_(window), unlogged_(unlogged) {}

  // The line to write for `caller`'s refusal `text` at `now`, or nothing
  // when its last line is more recent than the window.
  std::optional<std::string> Line(std::string_view caller, std::string_view text,
                                  Clock::time_point now = Clock::now());
  // The caller left the bus.
  void Forget(std::string_view caller);

 private:
  struct Caller {
    Clock::time_point last_line;
    unsigned long unlogged = 0;
  };
  const Clock::duration window_;
  const std::string unlogged_;
  std::mutex mutex_;
  std::map<std::string, Caller, std::less<>> callers_;
};

}  // namespace qz
