#include "diagnostics/error_reporter.h"

#include <gtest/gtest.h>

#include <functional>
#include <regex>
#include <thread>

#include "automation/run_time_error.h"
#include "diagnostics/last_error.h"
#include "diagnostics/log_file.h"
#include "dispatch/logon_user.h"
#include "fakes.h"
#include "support/temp_folder.h"

namespace qz {
namespace {

// gstrLastError after "before" and a report of what `thrower` raised.
std::string Reported(const std::function<void()>& thrower) {
  gstrLastError = "before";
  try {
    thrower();
  } catch (...) {
    gsubDisplayError("QzNotes.cServer", "Test");
  }
  return gstrLastError;
}

std::function<void()> Raise(int32_t number, const char* description = "kept") {
  return [=] { throw RunTimeError(number, description, "test"); };
}

TEST(ErrorReporter, StoresDescriptionOrCustomTextPerThread) {
  struct Case {
    std::function<void()> thrower;
    const char* stored;
  } cases[] = {{Raise(5, "Invalid procedure call"), "Invalid procedure call.\r\n"},
               {Raise(9, ""), ".\r\n"},
               {Raise(60000), "kept.\r\n"},
               {Raise(60001), "Invalid parameter is passed to procedure.\r\n"},
               {Raise(60002), "Invalid program flow.\r\n"},
               {Raise(60003), "Inconsistent data in database.\r\n"},
               {Raise(60004), "kept.\r\n"},
               {Raise(0), "before"},
               {Raise(-2147221005), "before"},
               {[] { throw std::bad_alloc(); }, "Out of memory.\r\n"},
               {[] { throw std::logic_error("x"); }, "Internal error.\r\n"},
               {[] {}, "before"}};
  for (const auto& c : cases) EXPECT_EQ(Reported(c.thrower), c.stored);
  EXPECT_EQ(ReporterFailureText(7, "Out of memory"),
            "Error occurred in [basError::gsubDisplayError].\r\nError (7) : Out of memory");
  std::thread([] {
    EXPECT_EQ(gstrLastError, "");
    Reported(Raise(5));
  }).join();
  EXPECT_EQ(gstrLastError, "before");
}

// The seat's failure reaches the caller under the logon check's name.
TEST(LogonUser, AnswersTheSeatAndReRaisesItsFailure) {
  testing::FakeSeat seat(false);
  EXPECT_FALSE(mblnLogonUser(seat));
  seat.raises = true;
  try {
    mblnLogonUser(seat);
    ADD_FAILURE() << "no error raised";
  } catch (const RunTimeError& e) {
    EXPECT_EQ(e.source(), "cNotes:mblnLogonUser");
  }
}

// How many whole entries "<timestamp> <text>\r\n" (`text` a pattern) make
// up `content`; -1 when anything else is in it.
long WholeEntries(const std::string& content, const std::string& text) {
  const std::regex entry(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d )" + text + "\r\n");
  long count = 0;
  size_t at = 0;
  for (auto it = std::sregex_iterator(content.begin(), content.end(), entry);
       it != std::sregex_iterator() && static_cast<size_t>(it->position()) == at; ++it) {
    at += it->length();
    ++count;
  }
  return at == content.size() ? count : -1;
}

TEST(LogFile, RotatesAtItsBoundWithWholeEntries) {
  testing::TempFolder dir;
  const LogBound bound{1000, 3};
  const std::string text(100, 'x');  // 122 bytes an entry with timestamp and CR LF
  for (int i = 0; i < 40; ++i) ASSERT_TRUE(AppendLogEntry(dir / "QzNotesLog.log", text, bound));
  for (const char* name :
       {"QzNotesLog.log", "QzNotesLog.log.1", "QzNotesLog.log.2", "QzNotesLog.log.3"}) {
    EXPECT_LE(dir.Read(name).size(), bound.max_bytes) << name;
    EXPECT_GT(WholeEntries(dir.Read(name), "x{100}"), 0) << name;
  }
  EXPECT_EQ(WholeEntries(dir.Read("QzNotesLog.log.1"), "x{100}"), 8) << "as many as fit";
  EXPECT_EQ(dir.EntryCount(), 4) << "only three old files are kept";
  // An entry larger than the bound is never cut: it starts a file of its own.
  ASSERT_TRUE(AppendLogEntry(dir / "QzNotesLog.log", std::string(5000, 'y'), bound));
  EXPECT_EQ(WholeEntries(dir.Read("QzNotesLog.log"), "y{5000}"), 1);
  EXPECT_FALSE(AppendLogEntry(dir.path(), "a folder is no log"));
  EXPECT_FALSE(AppendLogEntry(dir / "missing" / "QzNotesLog.log", "no such folder"));
}

TEST(LogFile, WritersRotatingTogetherLoseNoEntry) {
  testing::TempFolder dir;
  const LogBound bound{4096, 1000};  // enough old files to keep every entry
  constexpr int kThreads = 4, kEntries = 150;
  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t)
    writers.emplace_back([&, t] {
      for (int i = 0; i < kEntries; ++i)
        ASSERT_TRUE(AppendLogEntry(dir / "QzNotesLog.log", std::string(60, 'a' + t), bound));
    });
  for (auto& w : writers) w.join();
  long count = 0;
  for (const auto& found : std::filesystem::directory_iterator(dir.path())) {
    const std::string content = dir.Read(found.path().filename().string());
    EXPECT_LE(content.size(), bound.max_bytes);
    const long here = WholeEntries(content, "([a-d])\\1{59}");
    EXPECT_GT(here, 0) << found.path();
    count += here;
  }
  EXPECT_EQ(count, kThreads * kEntries);
}

TEST(LogFile, TimestampIsLocalTime) {
  std::tm when{};
  when.tm_year = 126, when.tm_mday = 2, when.tm_hour = 3, when.tm_min = 4, when.tm_sec = 5;
  when.tm_isdst = -1;
  EXPECT_EQ(LogTimestamp(std::mktime(&when)), "2026-01-02 03:04:05");
}

}  // namespace
}  // namespace qz
