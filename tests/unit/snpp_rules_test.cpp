// The pure rules of the SNPP client and channel: which reply a block holds,
// the timeout texts and deadlines, the status cleaning and the bytes sent.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "automation/run_time_error.h"
#include "diagnostics/last_error.h"
#include "gateways/snpp/ansi_text.h"
#include "gateways/snpp/snpp_reply.h"
#include "gateways/snpp/snpp_timing.h"
#include "gateways/snpp/strip_buffer.h"

namespace qz {
namespace {

using namespace std::string_literals;

TEST(SnppReplyRule, FirstTextInListOrderActsAnywhereInTheBlock) {
  struct Case {
    std::string block;
    ExactReply expected;
    const char* why;
  } cases[] = {
      {"220 SNPP Gateway Ready\r\n", ExactReply::kGreeting, "greeting"},
      {"xx 220 SNPP Gateway Ready yy", ExactReply::kGreeting, "a substring anywhere"},
      {"220 snpp gateway ready\r\n", ExactReply::kNone, "case-sensitive"},
      {"220 SNPP Gateway  Ready", ExactReply::kNone, "exact text, blanks included"},
      {"250 Pager ID Accepted\r\n250 Message OK\r\n", ExactReply::kPagerAccepted,
       "two replies: the earlier in the list acts"},
      {"250 Message OK\r\n250 Pager ID Accepted\r\n", ExactReply::kPagerAccepted,
       "list order, not position in the block"},
      {"250 Message Sent OK\r\n", ExactReply::kMessageSent, "not mistaken for 250 Message OK"},
      {"250 Message Sent OK 220 SNPP Gateway Ready", ExactReply::kGreeting,
       "the greeting comes first"},
      {"250 Message Sent Successfully\r\n", ExactReply::kNone, "RFC wording is not the fixed text"},
      {"250 Pager ID Acc", ExactReply::kNone, "half a reply"},
      {"", ExactReply::kNone, "empty block"},
      {"\0 250 Message OK"s, ExactReply::kMessageOk, "a NUL before the text"},
  };
  for (const auto& c : cases) EXPECT_EQ(MatchExactReply(c.block), c.expected) << c.why;
}

TEST(SnppReplyRule, RfcReplyCodes) {
  struct Case {
    const char* line;
    std::optional<int> code;
  } cases[] = {
      {"250 Message Sent Successfully\r\n", 250},
      {"220 host SNPP server ready", 220},
      {"960 1 2 OK, Message QUEUED", 960},
      {"421-busy", 421},
      {"550\r\n", 550},
      {"25 short", std::nullopt},
      {"2500 too long", std::nullopt},
      {"abc", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(ReplyCode(c.line), c.code) << c.line;
}

TEST(SnppTimeout, OnlyPlainNumbersAreKept) {
  struct Case {
    const char* given;
    const char* stored;
  } cases[] = {
      {"7", "7"},     {" -2.5 ", " -2.5 "}, {"+3", "+3"},  {".5", ".5"},  {"3.", "3."},
      {"0", "0"},     {"abc", "20"},        {"", "20"},    {"  ", "20"},  {"1e3", "20"},
      {"&H10", "20"}, {"1.2.3", "20"},      {"- 5", "20"}, {"5 s", "20"}, {".", "20"},
      {"+", "20"},    {"\t7", "20"},
  };
  for (const auto& c : cases) EXPECT_EQ(TimeoutSetting(c.given), c.stored) << '"' << c.given << '"';
}

TEST(SnppTimeout, DeadlinesRoundToWholeSecondsTiesToEven) {
  EXPECT_EQ(ConnectDeadline(100.4), 105);
  EXPECT_EQ(ConnectDeadline(100.6), 106);
  EXPECT_EQ(ConnectDeadline(100.5), 106);  // 105.5 to even
  EXPECT_EQ(ConnectDeadline(101.5), 106);  // 106.5 to even
  struct Case {
    double now;
    const char* timeout;
    double deadline;
  } cases[] = {
      {100.2, "20", 120},  {100.2, "2.5", 102},  // 2.5 becomes 2
      {100.2, "3.5", 104}, {100.7, "0", 101},    // the clock itself rounded up
      {100.2, "0", 100},   {100.2, "-1", 99},    // already past
      {100.0, " 7 ", 107}, {100.5, "1", 102},    // 101.5 to even
  };
  for (const auto& c : cases)
    EXPECT_EQ(SendPageDeadline(c.now, c.timeout), c.deadline) << c.timeout;
}

TEST(SnppTimeout, TextsThatDoNotConvertRaise) {
  struct Case {
    const char* timeout;
    int32_t number;
  } cases[] = {{"", kErrTypeMismatch},
               {"abc", kErrTypeMismatch},
               {"40000", kErrOverflow},
               {"-32769", kErrOverflow}};
  for (const auto& c : cases) {
    try {
      SendPageDeadline(0, c.timeout);
      ADD_FAILURE() << c.timeout << " converted";
    } catch (const RunTimeError& e) {
      EXPECT_EQ(e.number(), c.number) << c.timeout;
    }
  }
  EXPECT_EQ(SendPageDeadline(0, "32767"), 32767);
}

TEST(StripBuffer, CutsAtALaterNulAndTrimsSpacesOnly) {
  gstrLastError = "earlier";
  struct Case {
    std::string in, out;
    const char* why;
  } cases[] = {
      {"250 OK\0junk"s, "250 OK", "cut before the NUL"},
      {"  250 OK \0 x"s, "250 OK", "cut, then trimmed"},
      {"\0 250 OK "s, "\0 250 OK"s, "a NUL at position 1 is not cut"},
      {"x\0"s, "x", "NUL at position 2"},
      {"  250 Message Sent OK\r\n", "250 Message Sent OK\r\n", "CR LF stay"},
      {"\t250\t", "\t250\t", "tabs stay"},
      {"   ", "", "only blanks"},
      {"", "", "empty"},
  };
  for (const auto& c : cases) EXPECT_EQ(gstrStripBuffer(c.in), c.out) << c.why;
  EXPECT_EQ(gstrLastError, "earlier");  // nothing was reported
}

TEST(SnppWireText, OneBytePerCharacter) {
  struct Case {
    std::string text, bytes;
    const char* why;
  } cases[] = {
      {"PAGE \"100\"", "PAGE \"100\"", "ASCII as it is"},
      {"caf\xC3\xA9", "caf\xE9", "Latin-1 as its byte"},
      {"\xC3\xBF", "\xFF", "U+00FF is the last one byte holds"},
      {"\xE2\x82\xAC 5", "? 5", "the euro sign is beyond Latin-1"},
      {"\xF0\x9F\x98\x80", "?", "one character, one question mark"},
      {"a\xFF"
       "b",
       "a\xFF"
       "b",
       "a stray byte goes as it came"},
  };
  for (const auto& c : cases) EXPECT_EQ(ToAnsiBytes(c.text), c.bytes) << c.why;
}

TEST(SnppWireText, ReceivedBytesBecomeValidUtf8) {
  struct Case {
    std::string bytes, text;
    const char* why;
  } cases[] = {
      {"250 OK\r\n", "250 OK\r\n", "ASCII"},
      {"caf\xE9", "caf\xC3\xA9", "a Latin-1 byte"},
      {"caf\xC3\xA9", "caf\xC3\xA9", "valid UTF-8 is kept"},
      {"\xC3", "\xC3\x83", "a cut sequence"},
      {"a\0b"s, "a\0b"s, "NUL stays for the status cleaning"},
      {"\xED\xA0\x80", "\xC3\xAD\xC2\xA0\xC2\x80", "a surrogate is no UTF-8"},
  };
  for (const auto& c : cases) EXPECT_EQ(FromWireBytes(c.bytes), c.text) << c.why;
}

}  // namespace
}  // namespace qz
