#include "diagnostics/log_text.h"

#include <gtest/gtest.h>

#include <string>

#include "diagnostics/logged_text.h"

namespace qz {
namespace {

TEST(LogText, EscapesEveryControlCharacter) {
  struct Case {
    const char* why;
    std::string text;
    std::string expected;
  };
  const Case cases[] = {
      {"plain and printable UTF-8 stay", "cNotify/3: Ärger € 日本", "cNotify/3: Ärger € 日本"},
      {"no forged line", "T\nqznotesd: cNotify/1", "T\\x0aqznotesd: cNotify/1"},
      {"no overwritten line", "a\rb", "a\\x0db"},
      {"no terminal escapes", "\x1b[2J\x1b]0;title\x07", "\\x1b[2J\\x1b]0;title\\x07"},
      {"tab, NUL and DEL", std::string("\t\0\x7f", 3), "\\x09\\x00\\x7f"},
      {"C1 control as UTF-8", "a\xc2\x9b", "a\\u009b"},
      {"lone C1 byte", "a\x9b", "a\\x9b"},
      {"broken sequence", "\xe2\x82", "\\xe2\\x82"},
      {"line and paragraph separators", "\xe2\x80\xa8\xe2\x80\xa9", "\\u2028\\u2029"},
      {"no faked escape", "\\x0a", "\\\\x0a"},
  };
  for (const Case& c : cases) EXPECT_EQ(EscapeControls(c.text), c.expected) << c.why;
}

TEST(LoggedText, SameTextOnlyWhetherKeptWholeOrByDigest) {
  const std::string whole = "Page Status: ::", digest(LoggedText::kKeptWhole + 1, 'x');
  std::string other = digest;
  other[other.size() / 2] = 'y';
  struct Case {
    std::string remembered, asked;
    bool same;
  } cases[] = {{whole, whole, true},   {whole, "Page Status: :", false}, {digest, digest, true},
               {digest, other, false}, {digest, digest + "x", false},    {"", whole, false}};
  for (const Case& c : cases) {
    LoggedText logged;
    if (!c.remembered.empty()) logged.Remember(c.remembered);
    EXPECT_EQ(logged.Equals(c.asked), c.same) << c.remembered.size() << " / " << c.asked.size();
  }
}

}  // namespace
}  // namespace qz
