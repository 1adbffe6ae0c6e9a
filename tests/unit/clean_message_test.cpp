#include "gateways/clean_message.h"

#include <gtest/gtest.h>

#include "platform/utf8.h"

namespace qz {
namespace {

using namespace std::string_literals;

struct CleanCase {
  std::string in;
  bool limit;
  std::string out;
  const char* why;
};

TEST(CleanMessage, SingleLineRules) {
  const CleanCase cases[] = {
      {"Hello\r\n", false, "Hello ", "CR LF becomes one blank after the trim"},
      {"  Hello  ", false, "Hello", "spaces trimmed"},
      {"\tHello\t", false, "\tHello\t", "only spaces are trimmed"},
      {"a\r\n\r\nb", false, "a  b", "runs of breaks stay runs of blanks"},
      {"a\n\rb", false, "a  b", "LF CR is not a pair"},
      {"a\r\r\nb", false, "a  b", "lone CR, then a pair"},
      {"C:\\Temp\\x", false, "C:/Temp/x", "backslashes become slashes"},
      {"a\0b"s, false, "a b", "NUL becomes a blank"},
      {" \r\n x \r\n ", false, "  x  ", "blanks made from breaks survive the trim"},
      {"", true, "", "empty stays empty"},
      {"     ", true, "", "all spaces"},
  };
  for (const auto& c : cases) {
    std::string text = c.in;
    msubCleanMessage(text, c.limit);
    EXPECT_EQ(text, c.out) << c.why;
  }
}

TEST(CleanMessage, CutsPagedTextsAfterTheReplacements) {
  std::string exact(156, 'x'), longer(157, 'x');
  msubCleanMessage(exact, true);
  msubCleanMessage(longer, true);
  EXPECT_EQ(exact.size(), 156u);
  EXPECT_EQ(longer, std::string(156, 'x'));

  // 157 characters that shrink to 156 through the CR LF step are not cut.
  std::string shrinking = std::string(155, 'y') + "\r\n";
  msubCleanMessage(shrinking, true);
  EXPECT_EQ(shrinking, std::string(155, 'y') + " ");

  std::string mail(10000, 'm');
  mail[5000] = '\r';
  mail[5001] = '\n';
  msubCleanMessage(mail, false);
  EXPECT_EQ(mail.size(), 9999u);
}

TEST(CleanMessage, CountsCodePointsAndNeverSplitsASequence) {
  // 200 two-byte characters: the cut keeps 156 characters, 312 bytes.
  std::string umlauts;
  for (int i = 0; i < 200; ++i) umlauts += "\xC3\xA4";
  msubCleanMessage(umlauts, true);
  EXPECT_EQ(umlauts.size(), 312u);
  EXPECT_EQ(Utf8Length(umlauts), 156u);

  // A four-byte character straddling the limit stays whole or goes whole.
  std::string emoji = std::string(155, 'a') + "\xF0\x9F\x98\x80" + "zz";
  msubCleanMessage(emoji, true);
  EXPECT_EQ(emoji, std::string(155, 'a') + "\xF0\x9F\x98\x80");

  // Invalid bytes count one each and are kept.
  std::string invalid = std::string(150, 'b') + "\xFF\xFE\x80\xC3" + "cccc";
  msubCleanMessage(invalid, true);
  EXPECT_EQ(invalid, std::string(150, 'b') + "\xFF\xFE\x80\xC3" + "cc");
}

TEST(Utf8, CharacterBoundaries) {
  struct Case {
    std::string s;
    size_t bytes;
  } cases[] = {
      {"a", 1},
      {"\xC3\xA4", 2},
      {"\xE2\x82\xAC", 3},
      {"\xF0\x9F\x98\x80", 4},
      {"\xC3", 1},
      {"\xC0\x80", 1},
      {"\xE0\x80\x80", 1},
      {"\xED\xA0\x80", 1},
      {"\xF4\x90\x80\x80", 1},
      {"\xE2\x82", 1},
      {"\x80", 1},
  };
  for (const auto& c : cases) EXPECT_EQ(Utf8CharBytes(c.s), c.bytes) << testing::PrintToString(c.s);
}

}  // namespace
}  // namespace qz
