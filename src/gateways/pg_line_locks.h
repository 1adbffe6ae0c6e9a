// Line locks of a fleet: a session advisory lock in the fleet's database
// on the line's name, taken on a connection of its own that lives as long
// as the hold. A daemon that dies lets go with its connection. Safe from
// any thread.
#pragma once

#include <string>

#include "gateways/line_locks.h"

namespace qz {

class PgLineLocks final : public LineLocks {
 public:
  explicit PgLineLocks(std::string conninfo) : conninfo_(std::move(conninfo)) {}

  std::unique_ptr<LineHold> Hold(const std::string& line,
                                 std::chrono::steady_clock::time_point deadline,
                                 std::string& why) override;

 private:
  const std::string conninfo_;
};

}  // namespace qz
