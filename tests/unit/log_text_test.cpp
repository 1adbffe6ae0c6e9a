#include "diagnostics/log_text.h"

#include <fcntl.h>
#include <unistd.h>

#include <regex>
#include <string>

#include <gtest/gtest.h>

#include "server/server_log.h"
#include "support/temp_folder.h"

namespace qz {
namespace {

TEST(LogText, EscapesEveryControlCharacter) {
  struct Case {
    const char* why;
    std::string text;
    std::string expected;
  };
  const Case cases[] = {
      {"plain text stays", "cNotify/3: request T-42: Message Sent",
       "cNotify/3: request T-42: Message Sent"},
      {"printable UTF-8 stays", "Ärger € 日本", "Ärger € 日本"},
      {"line breaks cannot start a forged line", "T\nqznotesd: cNotify/1: request X: Message Sent",
       "T\\x0aqznotesd: cNotify/1: request X: Message Sent"},
      {"carriage return cannot overwrite the line", "a\rb", "a\\x0db"},
      {"escape sequences reach no terminal", "\x1b[2J\x1b]0;title\x07",
       "\\x1b[2J\\x1b]0;title\\x07"},
      {"tab, NUL and DEL", std::string("\t\0\x7f", 3), "\\x09\\x00\\x7f"},
      {"C1 control as UTF-8 (CSI)",
       "a\xc2\x9b"
       "31m",
       "a\\u009b31m"},
      {"lone C1 byte (CSI in 8-bit terminals)",
       "a\x9b"
       "31m",
       "a\\x9b31m"},
      {"broken sequence", "\xe2\x82", "\\xe2\\x82"},
      {"Unicode line and paragraph separators",
       "a\xe2\x80\xa8"
       "b\xe2\x80\xa9",
       "a\\u2028b\\u2029"},
      {"a backslash cannot fake an escape", "\\x0a", "\\\\x0a"},
  };
  for (const Case& c : cases) EXPECT_EQ(EscapeControls(c.text), c.expected) << c.why;
}

// The daemon's line itself: one line, the caller's text escaped inside it.
TEST(LogText, ServerLogWritesOneLinePerCall) {
  testing::TempFolder folder;
  const std::string file = folder.File("stderr");
  const int saved = ::dup(STDERR_FILENO);
  ASSERT_GE(saved, 0);
  const int redirected = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(redirected, 0);
  ::dup2(redirected, STDERR_FILENO);
  ::close(redirected);
  ServerLog("cNotify/1: request T\r\nqznotesd: cNotify/2: request U: Message Sent\x1b[0m");
  ServerLog("error: Type mismatch.\r\n");
  ::dup2(saved, STDERR_FILENO);
  ::close(saved);
  // Each line starts with its time, which is left out of the comparison.
  const std::regex time("(^|\n)\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z ");
  const std::string written = folder.Read("stderr");
  EXPECT_EQ(std::distance(std::sregex_iterator(written.begin(), written.end(), time),
                          std::sregex_iterator()),
            2)
      << written;
  EXPECT_EQ(std::regex_replace(written, time, "$1"),
            "qznotesd: cNotify/1: request T\\x0d\\x0aqznotesd: cNotify/2: request U: Message "
            "Sent\\x1b[0m\n"
            "qznotesd: error: Type mismatch.\\x0d\\x0a\n");
}

}  // namespace
}  // namespace qz
