// The daemon's own lines: when stderr counts as the journal, and the time
// each stderr line starts with.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>
#include <string>

#include "server/server_log.h"

namespace qz {
namespace {

TEST(ServerLog, JournalStreamMustNameThisVeryDescriptor) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  struct stat status {};
  ASSERT_EQ(::fstat(fds[1], &status), 0);
  const std::string own = std::to_string(status.st_dev) + ":" + std::to_string(status.st_ino);
  const std::string other = std::to_string(status.st_dev) + ":" + std::to_string(status.st_ino + 1);
  struct Case {
    const char* why;
    std::optional<std::string> value;  // none: unset
    bool journal;
  };
  const Case cases[] = {
      {"device and inode of the descriptor", own, true},
      {"another inode (a redirected stderr)", other, false},
      {"unset: not started by systemd", std::nullopt, false},
      {"empty", "", false},
      {"trailing text", own + "x", false},
      {"no inode", std::to_string(status.st_dev), false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(IsJournalStream(c.value ? c.value->c_str() : nullptr, fds[1]), c.journal) << c.why;
  ::close(fds[0]);
  ::close(fds[1]);
}

TEST(ServerLog, TimestampIsIso8601UtcWithMilliseconds) {
  using namespace std::chrono;
  struct Case {
    system_clock::time_point when;
    const char* text;
  };
  const Case cases[] = {
      {system_clock::time_point{}, "1970-01-01T00:00:00.000Z"},
      {system_clock::time_point{seconds{1796611766} + milliseconds{7}}, "2026-12-07T02:49:26.007Z"},
      {system_clock::time_point{seconds{951782399} + milliseconds{999}},
       "2000-02-28T23:59:59.999Z"},
  };
  for (const Case& c : cases) EXPECT_EQ(LogTimestamp(c.when), c.text);
}

}  // namespace
}  // namespace qz
