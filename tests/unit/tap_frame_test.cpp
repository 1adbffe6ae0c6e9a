// TAP framing: checksums worked out by hand, escaping, and the cutting of a
// transaction into blocks.
#include "gateways/terminal/tap_frame.h"

#include <gtest/gtest.h>

namespace qz::tap {
namespace {

TEST(TapFrame, ChecksumsWorkedOutByHand) {
  const std::pair<std::string, const char*> cases[] = {
      // 2 + '1'+'2'+'3' (150) + 13 + 'A'+'B'+'C' (198) + 13 + 3 = 379 = 0x17B
      {"\002123\rABC\r\003", "17;"},
      {"\002\003", "005"},
      // Only seven bits are summed: 0xC1 adds 0x41 like 'A'; 2 + 65 + 3 = 0x046
      {"\002\301\003", "046"},
      // 2 + 33 * 127 (4191) + 3 = 4196 = 0x1064: only twelve bits are kept
      {"\002" + std::string(33, '\177') + "\003", "064"},
      // A block continued with ETB: 2 + '1' (49) + 13 + 'x' (120) + 13 + 23 = 220 = 0x0DC
      {"\0021\rx\r\027", "0=<"},
  };
  for (const auto& [block, sum] : cases) EXPECT_EQ(Checksum(block), sum) << block;
}

TEST(TapFrame, ControlCharactersEscapedNonAsciiAsQuestionMarks) {
  const std::pair<std::string, std::string> cases[] = {
      {"plain text 123", "plain text 123"},
      {"a\rb", "a\032Mb"},                           // CR as SUB 'M'
      {"\033\002\003\004", "\032[\032B\032C\032D"},  // ESC STX ETX EOT
      {std::string(1, '\0'), "\032@"},
      {"\037", "\032_"},
      {"caf\303\251", "caf?"},    // one character, one '?'
      {"\342\202\254 5", "? 5"},  // three bytes, one character
      {"\377\177", "??"},         // a stray byte and DEL
  };
  for (const auto& [text, sent] : cases) {
    EXPECT_EQ(EscapeField(text), sent);
    if (sent.find('?') == std::string::npos) EXPECT_EQ(UnescapeField(sent), text);
  }
}

// Every block well formed and no bigger than `size`; the data of all blocks
// joined is the escaped fields; the block ends, in order.
std::string Ends(const std::vector<std::string>& blocks, const std::string& fields, size_t size) {
  std::string data, ends;
  for (const std::string& b : blocks) {
    EXPECT_EQ(b.front(), kStx);
    EXPECT_EQ(b.back(), kCr);
    const std::string body = b.substr(0, b.size() - 4);
    EXPECT_EQ(Checksum(body), b.substr(b.size() - 4, 3));
    EXPECT_LE(body.size() - 2, size);
    EXPECT_NE(body[body.size() - 2], kSub) << "an escape pair is never cut";
    data += body.substr(1, body.size() - 2);
    ends += body.back();
  }
  EXPECT_EQ(data, fields);
  return ends;
}

TEST(TapFrame, TransactionsAreCutIntoBlocks) {
  const std::string etx{kEtx}, us{kUs}, etb{kEtb};
  const struct {
    std::string id, text, ends;
    const char* why;
  } cases[] = {
      {"123", "ABC", etx, "one short page, one block"},
      {"1234", std::string(244, 'x'), etx, "250 characters fill one block"},
      {"1234", std::string(500, 'y'), us + us + etx, "a field cut inside: US"},
      {std::string(249, '7'), "short", etb + etx, "a block ending between fields: ETB"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Ends(TransactionBlocks(c.id, c.text), c.id + "\r" + c.text + "\r", 250), c.ends)
        << c.why;
  // Small blocks make every boundary fall somewhere interesting.
  const std::string text = "a\rb\rc\r\x1b\x1b\x1bz";
  for (size_t size = 2; size <= 9; ++size)
    Ends(TransactionBlocks("1", text, size), "1\r" + EscapeField(text) + "\r", size);
}

}  // namespace
}  // namespace qz::tap
