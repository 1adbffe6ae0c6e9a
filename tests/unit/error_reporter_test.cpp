#include "diagnostics/error_reporter.h"

#include <gtest/gtest.h>

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

void ReportRaised(int32_t number, const std::string& description) {
  try {
    throw RunTimeError(number, description, "test");
  } catch (...) {
    gsubDisplayError("QzNotes.cServer", "Test");
  }
}

TEST(ErrorReporter, StoresDescriptionOrCustomText) {
  struct Case {
    int32_t number;
    const char* description;
    const char* stored;
  } cases[] = {
      {5, "Invalid procedure call or argument", "Invalid procedure call or argument.\r\n"},
      {60001, "whatever", "Invalid parameter is passed to procedure.\r\n"},
      {60002, "whatever", "Invalid program flow.\r\n"},
      {60003, "whatever", "Inconsistent data in database.\r\n"},
      {60000, "kept", "kept.\r\n"},
      {60004, "kept too", "kept too.\r\n"},
      {1, "", ".\r\n"},
  };
  for (const auto& c : cases) {
    gstrLastError = "before";
    ReportRaised(c.number, c.description);
    EXPECT_EQ(gstrLastError, c.stored) << c.number;
  }
}

TEST(ErrorReporter, NumbersZeroOrBelowLeaveTheTextAlone) {
  for (int32_t number : {0, -1, -2147221005}) {
    gstrLastError = "before";
    ReportRaised(number, "from a component");
    EXPECT_EQ(gstrLastError, "before") << number;
  }
  gstrLastError = "before";
  gsubDisplayError("QzNotes.cServer", "NoErrorInFlight");
  EXPECT_EQ(gstrLastError, "before");
}

TEST(ErrorReporter, ForeignExceptionsGetRuntimeNumbers) {
  auto caught = [](auto thrower) {
    try {
      thrower();
    } catch (...) {
      return CurrentError();
    }
    return CaughtError{};
  };
  EXPECT_EQ(caught([] { throw std::bad_alloc(); }).number, 7);
  EXPECT_EQ(caught([] { throw std::logic_error("x"); }).number, 51);
  CaughtError raised = caught([] { throw RunTimeError(9, "cNotify:gvarGetSettings"); });
  EXPECT_EQ(raised.number, 9);
  EXPECT_EQ(raised.description, "Subscript out of range");
  EXPECT_EQ(raised.source, "cNotify:gvarGetSettings");
}

TEST(ErrorReporter, OwnFailureText) {
  EXPECT_EQ(ReporterFailureText(7, "Out of memory"),
            "Error occurred in [basError::gsubDisplayError].\r\nError (7) : Out of memory");
}

TEST(ErrorReporter, LastErrorBelongsToTheThread) {
  gstrLastError = "main thread";
  std::thread([] {
    EXPECT_EQ(gstrLastError, "");
    ReportRaised(5, "other");
  }).join();
  EXPECT_EQ(gstrLastError, "main thread");
}

TEST(LogonUser, AnswersTheSeatAndReRaisesItsFailure) {
  testing::FakeSeat seat(true);
  EXPECT_TRUE(mblnLogonUser(seat));
  seat.Answer(false);
  EXPECT_FALSE(mblnLogonUser(seat));
  seat.raises = true;
  try {
    mblnLogonUser(seat);
    ADD_FAILURE() << "no error raised";
  } catch (const RunTimeError& e) {
    EXPECT_EQ(e.number(), 5);
    EXPECT_EQ(e.description(), "seat query broke");
    EXPECT_EQ(e.source(), "cNotes:mblnLogonUser");
  }
}

TEST(LogFile, EntriesAreWholeLinesEvenFromManyThreads) {
  testing::TempFolder dir;
  auto file = dir / "QzNotesLog.log";
  constexpr int kThreads = 4, kEntries = 200;
  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t)
    writers.emplace_back([&, t] {
      std::string text = "Page Status: " + std::string(500, static_cast<char>('a' + t)) + "::";
      for (int i = 0; i < kEntries; ++i) ASSERT_TRUE(AppendLogEntry(file, text));
    });
  for (auto& w : writers) w.join();

  std::string log = dir.Read("QzNotesLog.log");
  static const std::regex entry(
      R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d Page Status: ([a-d])\1{499}::\r\n)");
  size_t count = 0;
  for (auto it = std::sregex_iterator(log.begin(), log.end(), entry); it != std::sregex_iterator();
       ++it) {
    EXPECT_EQ(it->position(), static_cast<long>(count * it->length()));
    ++count;
  }
  EXPECT_EQ(count, size_t{kThreads * kEntries});
}

TEST(LogFile, RotatesAtItsBoundWithWholeEntries) {
  testing::TempFolder dir;
  auto file = dir / "QzNotesLog.log";
  const LogBound bound{1000, 3};
  const std::string text(100, 'x');  // 122 bytes an entry with timestamp and CR LF
  for (int i = 0; i < 40; ++i) ASSERT_TRUE(AppendLogEntry(file, text, bound));
  static const std::regex whole(R"((\d{4}-\d\d-\d\d \d\d:\d\d:\d\d x{100}\r\n)+)");
  for (const char* name :
       {"QzNotesLog.log", "QzNotesLog.log.1", "QzNotesLog.log.2", "QzNotesLog.log.3"}) {
    std::string content = dir.Read(name);
    EXPECT_LE(content.size(), bound.max_bytes) << name;
    EXPECT_TRUE(std::regex_match(content, whole)) << name;
  }
  EXPECT_EQ(dir.Read("QzNotesLog.log.1").size(), 8u * 122)
      << "a full file holds as many whole entries as fit";
  EXPECT_FALSE(std::filesystem::exists(dir / "QzNotesLog.log.4"))
      << "only three old files are kept";

  // An entry larger than the bound is never cut: it starts a file of its own.
  ASSERT_TRUE(AppendLogEntry(file, std::string(5000, 'y'), bound));
  EXPECT_EQ(dir.Read("QzNotesLog.log").size(), 20u + 5000 + 2);
}

TEST(LogFile, WritersRotatingTogetherLoseNoEntry) {
  testing::TempFolder dir;
  auto file = dir / "QzNotesLog.log";
  const LogBound bound{4096, 1000};  // enough old files to keep every entry
  constexpr int kThreads = 4, kEntries = 150;
  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t)
    writers.emplace_back([&, t] {
      for (int i = 0; i < kEntries; ++i)
        ASSERT_TRUE(AppendLogEntry(file, std::string(60, static_cast<char>('a' + t)), bound));
    });
  for (auto& w : writers) w.join();
  static const std::regex entry(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d ([a-d])\1{59}\r\n)");
  size_t count = 0;
  for (const auto& found : std::filesystem::directory_iterator(dir.path())) {
    std::string content = dir.Read(found.path().filename().string());
    EXPECT_LE(content.size(), bound.max_bytes);
    size_t here = 0;
    for (auto it = std::sregex_iterator(content.begin(), content.end(), entry);
         it != std::sregex_iterator(); ++it)
      EXPECT_EQ(it->position(), static_cast<long>(here++ * it->length()));
    EXPECT_EQ(here * 82, content.size()) << found.path();
    count += here;
  }
  EXPECT_EQ(count, size_t{kThreads * kEntries});
}

TEST(LogFile, UnwritableTargetAnswersFalse) {
  testing::TempFolder dir;
  EXPECT_FALSE(AppendLogEntry(dir.path(), "a folder is no log"));
  EXPECT_FALSE(AppendLogEntry(dir / "missing" / "QzNotesLog.log", "no such folder"));
}

TEST(LogFile, TimestampIsLocalTime) {
  std::tm when{};
  when.tm_year = 2026 - 1900;
  when.tm_mon = 0;
  when.tm_mday = 2;
  when.tm_hour = 3;
  when.tm_min = 4;
  when.tm_sec = 5;
  when.tm_isdst = -1;
  EXPECT_EQ(LogTimestamp(std::mktime(&when)), "2026-01-02 03:04:05");
}

}  // namespace
}  // namespace qz
