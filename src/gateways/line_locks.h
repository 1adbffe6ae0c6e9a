// Who may use a pager terminal's line now, across every daemon that is
// configured with it: the terminal channel holds its line for a whole
// session, so two daemons never dial the same terminal at once. A daemon
// alone needs none (its serial line's own lock keeps its callers apart).
// Safe from any thread.
#pragma once

#include <chrono>
#include <memory>
#include <string>

namespace qz {

// Held until destroyed.
class LineHold {
 public:
  virtual ~LineHold() = default;
};

class LineLocks {
 public:
  virtual ~LineLocks() = default;
  // Holds `line`, waiting until `deadline` for another holder to let go.
  // nullptr when it could not be had; `why` then says so for the page's
  // failure (a busy line: the page is tried again later).
  virtual std::unique_ptr<LineHold> Hold(const std::string& line,
                                         std::chrono::steady_clock::time_point deadline,
                                         std::string& why) = 0;
};

}  // namespace qz
