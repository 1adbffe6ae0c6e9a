// The pure text rules of the paging gateways: the cleaning every channel
// gives a message, and the SNPP client's: which reply a block holds, the
// timeout texts and deadlines, the status cleaning and the bytes sent.
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "automation/run_time_error.h"
#include "diagnostics/last_error.h"
#include "gateways/clean_message.h"
#include "gateways/snpp/ansi_text.h"
#include "gateways/snpp/snpp_reply.h"
#include "gateways/snpp/snpp_timing.h"
#include "gateways/snpp/strip_buffer.h"

namespace qz {
namespace {

using namespace std::string_literals;

std::string Times(int n, const std::string& s) {
  std::string out;
  while (n-- > 0) out += s;
  return out;
}

TEST(CleanMessage, Rules) {
  const std::string y155(155, 'y'), a155(155, 'a'), b138(138, 'b'), mail = Times(2500, "mmmm");
  // Overlong, surrogate, past U+10FFFF, cut short, stray: every byte one character.
  const std::string emoji = "\xF0\x9F\x98\x80",
                    bad = "\xC0\x80\xE0\x80\x80\xED\xA0\x80\xF4\x90\x80\x80\xE2\x82\xFF\xC3";
  const std::tuple<std::string, bool, std::string, const char*> cases[] = {
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
      {a155 + "\xE2\x82", true, a155 + "\xE2", "nor one cut short at the end"},
      {b138 + bad + "cccc", true, b138 + bad + "cc", "invalid bytes count one each"},
  };
  for (const auto& [in, limit, out, why] : cases) {
    std::string text = in;
    msubCleanMessage(text, limit);
    EXPECT_EQ(text, out) << why;
  }
}

TEST(SnppRules, FirstReplyInListOrderActsAnywhereInTheBlock) {
  const std::pair<std::string, ExactReply> cases[] = {
      {"xx 220 SNPP Gateway Ready yy", ExactReply::kGreeting},
      {"220 snpp gateway ready\r\n", ExactReply::kNone},  // case-sensitive
      {"220 SNPP Gateway  Ready", ExactReply::kNone},     // blanks included
      {"250 Message OK\r\n250 Pager ID Accepted\r\n", ExactReply::kPagerAccepted},
      {"250 Message Sent OK\r\n", ExactReply::kMessageSent},
      {"250 Message Sent OK 220 SNPP Gateway Ready", ExactReply::kGreeting},
      {"\0 250 Message OK"s, ExactReply::kMessageOk},
  };
  for (const auto& [block, reply] : cases) EXPECT_EQ(MatchExactReply(block), reply) << block;
  const std::pair<const char*, std::optional<int>> codes[] = {
      {"421-busy", 421},
      {"25 short", std::nullopt},
      {"2500 too long", std::nullopt},
  };
  for (const auto& [line, code] : codes) EXPECT_EQ(ReplyCode(line), code) << line;
}

TEST(SnppRules, TimeoutTextsAndDeadlines) {
  const std::pair<const char*, const char*> stored[] = {
      {"7", "7"},      {" -2.5 ", " -2.5 "}, {"+3", "+3"},  {".5", ".5"},  {"3.", "3."},
      {"abc", "20"},   {"", "20"},           {"  ", "20"},  {"1e3", "20"}, {"&H10", "20"},
      {"1.2.3", "20"}, {"- 5", "20"},        {"5 s", "20"}, {".", "20"},   {"\t7", "20"},
  };
  for (const auto& [given, kept] : stored) EXPECT_EQ(TimeoutSetting(given), kept) << given;

  EXPECT_EQ(ConnectDeadline(100.4), 105);
  EXPECT_EQ(ConnectDeadline(100.5), 106);  // 105.5 to even
  EXPECT_EQ(ConnectDeadline(101.5), 106);  // 106.5 to even
  const std::tuple<double, const char*, double> cases[] = {
      {100.2, "20", 120},  {100.2, "2.5", 102},  // 2.5 becomes 2
      {100.2, "3.5", 104}, {100.7, "0", 101},    // the clock itself rounded up
      {100.2, "-1", 99},   {100.0, " 7 ", 107},  // already past; blanks allowed
      {100.5, "1", 102},   {0, "32767", 32767},  // 101.5 to even; the largest
  };
  for (const auto& [now, timeout, deadline] : cases)
    EXPECT_EQ(SendPageDeadline(now, timeout), deadline) << timeout;
  for (const auto& [timeout, number] :
       {std::pair{"", kErrTypeMismatch}, {"40000", kErrOverflow}, {"-32769", kErrOverflow}}) {
    try {
      SendPageDeadline(0, timeout);
      ADD_FAILURE() << timeout << " converted";
    } catch (const RunTimeError& e) {
      EXPECT_EQ(e.number(), number) << timeout;
    }
  }
}

TEST(SnppRules, StatusCutAtALaterNulAndTrimmedOfSpacesOnly) {
  gstrLastError = "earlier";
  const std::pair<std::string, std::string> cases[] = {
      {"  250 OK \0 x"s, "250 OK"},   // cut, then trimmed
      {"\0 250 OK "s, "\0 250 OK"s},  // a NUL at position 1 is not cut
      {"x\0"s, "x"},                  // NUL at position 2
      {"  250 Message Sent OK\r\n", "250 Message Sent OK\r\n"},
      {"\t250\t", "\t250\t"},
      {"   ", ""},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(gstrStripBuffer(in), out) << in;
  EXPECT_EQ(gstrLastError, "earlier");  // nothing was reported
}

TEST(SnppRules, OneBytePerCharacterOnTheWireValidUtf8Back) {
  const std::pair<std::string, std::string> sent[] = {
      {"PAGE \"100\"", "PAGE \"100\""},
      {"caf\xC3\xA9", "caf\xE9"},  // Latin-1 as its byte
      {"\xC3\xBF", "\xFF"},        // U+00FF is the last one byte holds
      {"\xE2\x82\xAC 5", "? 5"},   // the euro sign is beyond Latin-1
      {"a\xFF!", "a\xFF!"},        // a stray byte goes as it came
  };
  for (const auto& [text, bytes] : sent) EXPECT_EQ(ToAnsiBytes(text), bytes) << text;
  const std::pair<std::string, std::string> received[] = {
      {"caf\xE9", "caf\xC3\xA9"},                    // a Latin-1 byte
      {"caf\xC3\xA9", "caf\xC3\xA9"},                // valid UTF-8 is kept
      {"\xC3", "\xC3\x83"},                          // a cut sequence
      {"a\0b"s, "a\0b"s},                            // NUL stays for the status cleaning
      {"\xED\xA0\x80", "\xC3\xAD\xC2\xA0\xC2\x80"},  // a surrogate is no UTF-8
  };
  for (const auto& [bytes, text] : received) EXPECT_EQ(FromWireBytes(bytes), text) << bytes;
}

}  // namespace
}  // namespace qz
