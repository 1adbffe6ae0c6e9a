// The time each of the daemon's own lines on stderr starts with.
#include "server/server_log.h"

#include <gtest/gtest.h>

namespace qz {
namespace {

TEST(ServerLog, TimestampIsIso8601UtcWithMilliseconds) {
  using namespace std::chrono;
  const std::pair<system_clock::duration, const char*> cases[] = {
      {{}, "1970-01-01T00:00:00.000Z"},
      {seconds{1796611766} + milliseconds{7}, "2026-12-07T02:49:26.007Z"},
      {seconds{951782399} + milliseconds{999}, "2000-02-28T23:59:59.999Z"},
  };
  for (const auto& [since_epoch, text] : cases)
    EXPECT_EQ(LogTimestamp(system_clock::time_point{since_epoch}), text);
}

}  // namespace
}  // namespace qz
