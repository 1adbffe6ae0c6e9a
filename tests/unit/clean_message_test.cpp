#include "gateways/clean_message.h"

#include <gtest/gtest.h>

#include "platform/utf8.h"

namespace qz {
namespace {

using namespace std::string_literals;

std::string Times(int n, const std::string& s) {
  std::string out;
  while (n-- > 0) out += s;
  return out;
}

TEST(CleanMessage, Rules) {
  const std::string y155(155, 'y'), a155(155, 'a'), b150(150, 'b'), mail = Times(2500, "mmmm");
  const std::string emoji = "\xF0\x9F\x98\x80", bad = "\xFF\xFE\x80\xC3";
  const struct {
    std::string in;
    bool limit;
    std::string out;
    const char* why;
  } cases[] = {
      {"Hello\r\n", false, "Hello ", "CR LF becomes one blank after the trim"},
      {"  Hello  ", false, "Hello", "spaces trimmed"},
      {"\tHello\t", false, "\tHello\t", "only spaces are trimmed"},
      {"a\r\n\r\nb", false, "a  b", "runs of breaks stay runs of blanks"},
      {"a\n\rb", false, "a  b", "LF CR is not a pair"},
      {"a\r\r\nb", false, "a  b", "lone CR, then a pair"},
      {"C:\\Temp\\x", false, "C:/Temp/x", "backslashes become slashes"},
      {"a\0b"s, false, "a b", "NUL becomes a blank"},
      {" \r\n x \r\n ", false, "  x  ", "blanks made from breaks survive the trim"},
      {"     ", true, "", "all spaces"},
      {std::string(157, 'x'), true, std::string(156, 'x'), "paged texts keep 156 characters"},
      {y155 + "\r\n", true, y155 + " ", "the cut comes after the replacements"},
      {mail + "\r\n", false, mail + " ", "mail is not cut"},
      {Times(200, "\xC3\xA4"), true, Times(156, "\xC3\xA4"), "characters, not bytes"},
      {a155 + emoji + "zz", true, a155 + emoji, "a sequence is never split"},
      {b150 + bad + "cccc", true, b150 + bad + "cc", "invalid bytes count one each"},
  };
  for (const auto& c : cases) {
    std::string text = c.in;
    msubCleanMessage(text, c.limit);
    EXPECT_EQ(text, c.out) << c.why;
  }
}

TEST(Utf8, CharacterBoundaries) {
  const std::pair<std::string, size_t> cases[] = {
      {"a", 1},        {"\xC3\xA4", 2},         {"\xE2\x82\xAC", 3}, {"\xF0\x9F\x98\x80", 4},
      {"\xC3", 1},     {"\xC0\x80", 1},         {"\xE0\x80\x80", 1}, {"\xED\xA0\x80", 1},
      {"\xE2\x82", 1}, {"\xF4\x90\x80\x80", 1}, {"\x80", 1},
  };
  for (const auto& [s, bytes] : cases)
    EXPECT_EQ(Utf8CharBytes(s), bytes) << ::testing::PrintToString(s);
}

}  // namespace
}  // namespace qz
