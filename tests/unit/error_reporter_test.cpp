// Diagnostics: the error reporter, the log file, and the escaping of what
// callers put into log lines.
#include "diagnostics/error_reporter.h"

#include <gtest/gtest.h>

#include <fcntl.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <regex>
#include <thread>
#include <tuple>

#include "automation/run_time_error.h"
#include "diagnostics/last_error.h"
#include "diagnostics/log_file.h"
#include "diagnostics/log_text.h"
#include "diagnostics/logged_text.h"
#include "platform/file_lock.h"
#include "platform/unique_fd.h"
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

std::function<void()> Raise(int32_t number) {
  return [=] { throw RunTimeError(number, "kept", "test"); };
}

TEST(ErrorReporter, StoresDescriptionOrCustomTextPerThread) {
  for (auto [thrower, stored] : {std::pair{Raise(60000), "kept.\r\n"},
                                 {Raise(60001), "Invalid parameter is passed to procedure.\r\n"},
                                 {Raise(60002), "Invalid program flow.\r\n"},
                                 {Raise(60003), "Inconsistent data in database.\r\n"},
                                 {Raise(0), "before"},  // numbers 0 and below leave the text alone
                                 {[] { throw std::bad_alloc(); }, "Out of memory.\r\n"},
                                 {[] { throw std::logic_error("x"); }, "Internal error.\r\n"}})
    EXPECT_EQ(Reported(thrower), stored);
  EXPECT_EQ(ReporterFailureText(7, "Out of memory"),
            "Error occurred in [basError::gsubDisplayError].\r\nError (7) : Out of memory");
  std::thread([] {
    EXPECT_EQ(gstrLastError, "");
    Reported(Raise(5));
  }).join();
  EXPECT_EQ(gstrLastError, "Internal error.\r\n") << "the last report here, not the thread's";
}

// How many whole entries "<timestamp> <text>\r\n" (`text` a pattern) make
// up the file `name`, which must hold at most `bound` bytes; -1 when
// anything else is in it.
long WholeEntries(const testing::TempFolder& dir, const std::string& name, const std::string& text,
                  uint64_t bound = UINT64_MAX) {
  const std::string content = dir.Read(name);
  EXPECT_LE(content.size(), bound) << name;
  const std::regex entry(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d )" + text + "\r\n");
  long count = 0;
  size_t at = 0;
  for (auto it = std::sregex_iterator(content.begin(), content.end(), entry);
       it != std::sregex_iterator() && static_cast<size_t>(it->position()) == at; ++it, ++count)
    at += it->length();
  return at == content.size() ? count : -1;
}

TEST(LogFile, RotatesAtItsBoundWithWholeEntries) {
  testing::TempFolder dir;
  const LogBound bound{1000, 3};
  const std::string text(100, 'x');  // 122 bytes an entry with timestamp and CR LF
  for (int i = 0; i < 40; ++i)
    ASSERT_TRUE(AppendLogEntry(dir / "QzNotesLog.log", text, bound).written);
  for (const char* name : {"QzNotesLog.log", "QzNotesLog.log.2", "QzNotesLog.log.3"})
    EXPECT_GT(WholeEntries(dir, name, "x{100}", bound.max_bytes), 0) << name;
  EXPECT_EQ(WholeEntries(dir, "QzNotesLog.log.1", "x{100}", bound.max_bytes), 8);
  EXPECT_EQ(dir.EntryCount(), 4) << "only three old files are kept";
  // An entry larger than the bound is never cut: it starts a file of its own.
  ASSERT_TRUE(AppendLogEntry(dir / "QzNotesLog.log", std::string(5000, 'y'), bound).written);
  EXPECT_EQ(WholeEntries(dir, "QzNotesLog.log", "y{5000}"), 1);
  const LogWrite dropped = AppendLogEntry(dir / "missing" / "QzNotesLog.log", "nowhere to go");
  EXPECT_FALSE(dropped.written);
  EXPECT_NE(dropped.trouble.find("entry dropped: "), std::string::npos) << dropped.trouble;
}

// A log an earlier version left open to everyone names every user's
// failures: the next entry takes the bits for others away.
TEST(LogFile, AnEntryClosesALogLeftOpenToOthers) {
  testing::TempFolder dir;
  const std::filesystem::path file = dir / "QzNotesLog.log";
  std::ofstream(file) << "";
  namespace fs = std::filesystem;
  fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                            fs::perms::others_read);
  ASSERT_TRUE(AppendLogEntry(file, "entry").written);
  EXPECT_EQ(fs::status(file).permissions() & fs::perms::others_all, fs::perms::none);
  EXPECT_EQ(fs::status(file).permissions() & fs::perms::group_read, fs::perms::group_read);
}

TEST(LogFile, WritersRotatingTogetherLoseNoEntry) {
  testing::TempFolder dir;
  // Enough old files to keep every entry; no writer gives up waiting, even
  // on a loaded machine.
  const LogBound bound{4096, 1000, std::chrono::minutes(1)};
  std::vector<std::thread> writers;
  for (char t = 'a'; t < 'e'; ++t)
    writers.emplace_back([&, t] {
      for (int i = 0; i < 150; ++i)
        ASSERT_TRUE(AppendLogEntry(dir / "QzNotesLog.log", std::string(60, t), bound).written);
    });
  for (auto& w : writers) w.join();
  long count = 0;
  for (const auto& found : std::filesystem::directory_iterator(dir.path()))
    count += WholeEntries(dir, found.path().filename(), "([a-d])\\1{59}", bound.max_bytes);
  EXPECT_EQ(count, 4 * 150);
}

// A writer stuck holding the writers' lock costs the size check, never the
// entry; once it lets go, entries are checked and rotated again.
TEST(LogFile, WriterWaitsForAnotherOnlyUntilItsDeadline) {
  testing::TempFolder dir;
  const LogBound bound{10, 1, std::chrono::milliseconds(100)};  // each entry rotates the last
  const UniqueFd folder(::open(dir.path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  const char* held_too_long =
      ".QzNotesLog.log.lock: another writer held the lock for 100 ms; entry written without the "
      "size check";
  for (auto [held, trouble, entries] : {std::tuple<bool, const char*, long>{false, "", 1},
                                        {true, held_too_long, 2},
                                        {false, "", 1}}) {
    Status status;
    const std::optional<FileLock> lock =
        held ? FileLock::Acquire(folder.get(), "QzNotesLog.log", {}, status) : std::nullopt;
    ASSERT_EQ(held, lock.has_value()) << status;
    const LogWrite result = AppendLogEntry(dir / "QzNotesLog.log", "entry", bound);
    EXPECT_TRUE(result.written);
    EXPECT_EQ(result.trouble, trouble);
    EXPECT_EQ(WholeEntries(dir, "QzNotesLog.log", "entry"), entries) << trouble;
  }
}

TEST(LogFile, TimestampIsLocalTime) {
  std::tm when{};
  when.tm_year = 126, when.tm_mday = 2, when.tm_hour = 3, when.tm_min = 4, when.tm_sec = 5;
  when.tm_isdst = -1;
  EXPECT_EQ(LogTimestamp(std::mktime(&when)), "2026-01-02 03:04:05");
}

TEST(LogText, EscapesEveryControlCharacter) {
  for (auto [text, expected] : {
           std::pair<std::string, std::string>{"cNotify/3: Ärger € 日本",
                                               "cNotify/3: Ärger € 日本"},
           {"T\nqznotesd: cNotify/1", "T\\x0aqznotesd: cNotify/1"},  // no forged line
           {"a\rb\x1b[2J\x07", "a\\x0db\\x1b[2J\\x07"},              // no terminal control
           {std::string("\t\0\x7f", 3), "\\x09\\x00\\x7f"},
           {"a\xc2\x9b|\x9b", "a\\u009b|\\x9b"},  // C1 as UTF-8 and as a lone byte
           {"\xe2\x82", "\\xe2\\x82"},            // a broken sequence
           {"\xe2\x80\xa8\xe2\x80\xa9", "\\u2028\\u2029"},
           {"\\x0a", "\\\\x0a"},  // a backslash cannot fake an escape
       })
    EXPECT_EQ(EscapeControls(text), expected);
}

// A long text is remembered by its length and digest.
TEST(LoggedText, SameTextOnlyWhetherKeptWholeOrByDigest) {
  const std::string whole = "Page Status: ::", digest(LoggedText::kKeptWhole + 1, 'x');
  std::string other = digest;
  other[other.size() / 2] = 'y';
  LoggedText logged;
  EXPECT_FALSE(logged.Equals(whole)) << "nothing remembered yet";
  logged.Remember(whole);
  EXPECT_TRUE(logged.Equals(whole));
  EXPECT_FALSE(logged.Equals("Page Status: :"));
  logged.Remember(digest);
  EXPECT_TRUE(logged.Equals(digest));
  for (const std::string& asked : {other, whole})
    EXPECT_FALSE(logged.Equals(asked)) << asked.size();
}

}  // namespace
}  // namespace qz
