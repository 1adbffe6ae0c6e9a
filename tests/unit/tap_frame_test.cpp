// TAP framing: checksums worked out by hand, escaping, and the cutting of a
// transaction into blocks.
#include "gateways/terminal/tap_frame.h"

#include <gtest/gtest.h>

namespace qz::tap {
namespace {

TEST(TapChecksum, WorkedOutByHand) {
  struct Case {
    std::string block;
    const char* sum;
    const char* why;
  } cases[] = {
      // 2 + '1'+'2'+'3' (150) + 13 + 'A'+'B'+'C' (198) + 13 + 3 = 379 = 0x17B
      {"\x02"
       "123\rABC\r\x03",
       "17;", "a page of two short fields"},
      {"\x02\x03", "005", "nothing between STX and ETX: 2 + 3"},
      // 2 + 'A' (65) + 3 = 70 = 0x046
      {"\x02"
       "A\x03",
       "046", "one character"},
      // The eighth bit does not count: 0xC1 adds 0x41 like 'A'.
      {"\x02\xc1\x03", "046", "only seven bits are summed"},
      // 2 + 33 * 127 (4191) + 3 = 4196 = 0x1064: the thirteenth bit is dropped
      {"\x02" + std::string(33, '\x7f') + "\x03", "064", "only twelve bits are kept"},
      // 2 + '1' (49) + 13 + 'x' (120) + 13 + 23 = 220 = 0x0DC
      {"\x02"
       "1\rx\r\x17",
       "0=<", "a block continued with ETB"},
  };
  for (const Case& c : cases) EXPECT_EQ(Checksum(c.block), c.sum) << c.why;
}

TEST(TapEscape, ControlCharactersAndNonAscii) {
  struct Case {
    std::string text;
    std::string sent;
  } cases[] = {
      {"plain text 123", "plain text 123"},
      {"a\rb", "a\x1aMb"},  // CR as SUB 'M'
      {"\x1b\x02\x03\x04",
       "\x1a[\x1a"
       "B\x1a"
       "C\x1a"
       "D"},                            // ESC STX ETX EOT
      {std::string(1, '\0'), "\x1a@"},  // NUL is a control character too
      {"\x1f", "\x1a_"},
      {"caf\xc3\xa9", "caf?"},    // one character, one '?'
      {"\xe2\x82\xac 5", "? 5"},  // three bytes, one character
      {"\xff\x7f", "??"},         // a stray byte and DEL
  };
  for (const Case& c : cases) {
    EXPECT_EQ(EscapeField(c.text), c.sent);
    const bool ascii = c.text.find_first_of("\x7f\x80\xc3\xe2\xff") == std::string::npos;
    if (ascii) {
      EXPECT_EQ(UnescapeField(EscapeField(c.text)), c.text);
    }
  }
}

// Every block well formed; the data of all blocks joined is the fields.
std::string JoinedData(const std::vector<std::string>& blocks) {
  std::string data;
  for (size_t i = 0; i < blocks.size(); ++i) {
    const std::string& b = blocks[i];
    EXPECT_EQ(b.front(), kStx);
    EXPECT_EQ(b.back(), kCr);
    const std::string body = b.substr(0, b.size() - 4);
    EXPECT_EQ(Checksum(body), b.substr(b.size() - 4, 3)) << "block " << i;
    EXPECT_EQ(body.back() == kEtx, i + 1 == blocks.size()) << "only the last block ends in ETX";
    data += body.substr(1, body.size() - 2);
  }
  return data;
}

TEST(TapBlocks, OneShortPageIsOneBlock) {
  EXPECT_EQ(TransactionBlocks("123", "ABC"), std::vector<std::string>{"\x02"
                                                                      "123\rABC\r\x03"
                                                                      "17;\r"});
}

TEST(TapBlocks, TwoHundredFiftyCharactersFitOneBlock) {
  // "1234" CR + 244 characters + CR = 250
  const auto blocks = TransactionBlocks("1234", std::string(244, 'x'));
  ASSERT_EQ(blocks.size(), 1u);
  EXPECT_EQ(blocks[0].size(), 1 + 250 + 1 + 3 + 1u);
}

TEST(TapBlocks, LongerTextContinuesInTheNextBlock) {
  const std::string text(500, 'y');
  const auto blocks = TransactionBlocks("1234", text);
  ASSERT_EQ(blocks.size(), 3u);
  // The text field is cut inside: the blocks before the last end in US.
  EXPECT_EQ(blocks[0][251], kUs);
  EXPECT_EQ(blocks[1][251], kUs);
  EXPECT_EQ(JoinedData(blocks), "1234\r" + text + "\r");
}

TEST(TapBlocks, BlockEndingBetweenFieldsEndsInEtb) {
  // The identifier field with its CR fills the block exactly.
  const std::string id(249, '7');
  const auto blocks = TransactionBlocks(id, "short");
  ASSERT_EQ(blocks.size(), 2u);
  EXPECT_EQ(blocks[0][251], kEtb);
  EXPECT_EQ(blocks[1],
            "\x02"
            "short\r\x03" +
                Checksum("\x02"
                         "short\r\x03") +
                "\r");
  EXPECT_EQ(JoinedData(blocks), id + "\rshort\r");
}

TEST(TapBlocks, EscapePairsAreNeverCut) {
  // Small blocks make every boundary fall somewhere interesting.
  const std::string text = "a\rb\rc\r\x1b\x1b\x1bz";
  for (size_t size = 2; size <= 9; ++size) {
    const auto blocks = TransactionBlocks("1", text, size);
    for (const std::string& b : blocks) {
      const std::string data = b.substr(1, b.size() - 6);
      EXPECT_LE(data.size(), size);
      EXPECT_TRUE(data.empty() || data.back() != kSub)
          << "block of " << size << " ends inside an escape";
    }
    EXPECT_EQ(JoinedData(blocks), "1\r" + EscapeField(text) + "\r") << size;
  }
}

}  // namespace
}  // namespace qz::tap
