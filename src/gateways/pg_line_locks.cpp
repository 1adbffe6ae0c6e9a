#include "gateways/pg_line_locks.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "platform/pg_connection.h"

namespace qz {
namespace {

constexpr const char* kLineLockSql =
    "SELECT pg_advisory_lock(hashtextextended('qznotes line ' || $1, 0))";
constexpr const char* kLockNotAvailable = "55P03";

class PgLineHold final : public LineHold {
 public:
  explicit PgLineHold(std::unique_ptr<PgConnection> connection)
      : connection_(std::move(connection)) {}

 private:
  std::unique_ptr<PgConnection> connection_;  // closing it lets the line go
};

}  // namespace

std::unique_ptr<LineHold> PgLineLocks::Hold(const std::string& line,
                                            std::chrono::steady_clock::time_point deadline,
                                            std::string& why) {
  Status status;
  std::unique_ptr<PgConnection> connection = PgConnection::Open(conninfo_, status);
  if (!connection) {
    why = "cannot ask the fleet's database who holds it: " + status.message();
    return nullptr;
  }
  using std::chrono::milliseconds;
  const auto left =
      std::chrono::duration_cast<milliseconds>(deadline - std::chrono::steady_clock::now());
  // lock_timeout 0 would wait for ever.
  const std::string timeout = std::to_string(std::max<int64_t>(1, left.count())) + "ms";
  const std::vector<std::optional<std::string>> timeout_param = {timeout};
  const std::vector<std::optional<std::string>> line_param = {line};
  PgResult set =
      connection->ExecParams("SELECT set_config('lock_timeout', $1, false)", timeout_param);
  PgResult locked = set.ok() ? connection->ExecParams(kLineLockSql, line_param) : std::move(set);
  if (locked.ok()) return std::make_unique<PgLineHold>(std::move(connection));
  why = locked.sqlstate() == kLockNotAvailable ? "busy: another daemon of the fleet is using it"
                                               : "cannot lock it: " + locked.error();
  return nullptr;
}

}  // namespace qz
