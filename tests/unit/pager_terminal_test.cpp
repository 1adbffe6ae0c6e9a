// The pager terminal without a line: TAP framing (checksums worked out by
// hand, escaping, blocks), the "Pager Terminal" settings as the component
// reads them (every value shape accepted or refused with a description
// naming the key), and the channel against a recording component (which
// pages it hands over and how it fails; its 16-bit counters are the SMS
// channel's, tested there); and a line whose terminal hangs up.
#include "gateways/terminal/pager_terminal.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "automation/run_time_error.h"
#include "diagnostics/last_error.h"
#include "fakes.h"
#include "gateways/terminal/serial_line.h"
#include "gateways/terminal/tap_frame.h"
#include "gateways/terminal/tap_limits.h"
#include "gateways/terminal/terminal_settings.h"
#include "support/temp_folder.h"

namespace qz::tap {
namespace {

using qz::testing::List;
using ::testing::HasSubstr;
using ::testing::StartsWith;

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
    if (sent.find('?') == std::string::npos) {
      EXPECT_EQ(UnescapeField(sent), text);
    }
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

// What the parser of `key` makes of `value`, as text, or "refused: " and
// what the description says after naming the key and the value.
std::string Parsed(const std::string& key, std::string_view value) {
  try {
    if (key == "Settings") {
      const LineSettings l = ParseLineSettings(value);
      return std::to_string(l.baud) + " " + "NEO"[static_cast<int>(l.parity)] + " " +
             std::to_string(l.data_bits) + " " + std::to_string(l.stop_bits);
    }
    if (key == "ComPort") return ParseComPort(value);
    if (key == "HandShaking") return std::to_string(static_cast<int>(ParseHandShaking(value)));
    if (key == "Echo") return ParseEcho(value) ? "1" : "0";
    if (key == "Number") return ParseNumber(value);
    return ParsePassword(value);
  } catch (const RunTimeError& e) {
    EXPECT_EQ(e.number(), kErrTerminal);
    const std::string named = "Pager Terminal setting " + key + "=\"" + std::string(value) + "\" ";
    EXPECT_THAT(e.description(), StartsWith(named));
    return "refused: " + e.description().substr(std::min(named.size(), e.description().size()));
  }
}

// A hung-up line polls readable and reads nothing for ever: a read must say
// so at once, not wait out its deadline (a broken read returns false late).
TEST(SerialLine, AReadAfterTheTerminalHungUpRaises) {
  UniqueFd terminal(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
  ASSERT_TRUE(terminal && ::grantpt(terminal.get()) == 0 && ::unlockpt(terminal.get()) == 0);
  SerialLine line = SerialLine::Open(::ptsname(terminal.get()), LineSettings{}, HandShaking::kNone,
                                     Clock::now() + std::chrono::seconds(5));
  ASSERT_EQ(::write(terminal.get(), "OK", 2), 2);
  std::string heard;
  ASSERT_TRUE(line.Read(heard, Clock::now() + std::chrono::seconds(60)));
  terminal.Reset();
  EXPECT_THROW(line.Read(heard, Clock::now() + std::chrono::seconds(90)), RunTimeError);
}

TEST(TerminalSettings, EachKeyAcceptsOrRefuses) {
  const struct {
    const char *key, *value, *result;  // refusals: how the description starts
  } cases[] = {
      {"Settings", "1200,e,7,1", "1200 E 7 1"},
      {"Settings", "2400,O,7,2", "2400 O 7 2"},
      {"Settings", " 115200 , n , 8 , 2 ", "115200 N 8 2"},
      {"Settings", "", "refused: is not speed,parity,data,stop (e.g. 9600,N,8,1)"},
      {"Settings", "9601,N,8,1", "refused: has a speed that is not one of 300 to 460800 bit/s"},
      {"Settings", "115200,X,9,3", "refused: has a parity that is not N, E or O"},
      {"Settings", "9600,N,9,1", "refused: has data bits that are not 5 to 8"},
      {"Settings", "9600,N,6,1", "refused: has fewer than 7 data bits, too few for text"},
      {"Settings", "9600,N,8,1.5", "refused: has stop bits that are not 1 or 2"},
      {"ComPort", " 1 ", "/dev/ttyS0"},
      {"ComPort", "64", "/dev/ttyS63"},
      {"ComPort", " /dev/serial/by-id/x ", "/dev/serial/by-id/x"},
      {"ComPort", "", "refused: is empty; give a port number or a device path"},
      {"ComPort", "0", "refused: is not a port number from 1 to 64"},
      {"ComPort", "65", "refused: is not a port number from 1 to 64"},
      {"ComPort", "COM1", "refused: is neither a port number nor an absolute device path"},
      {"HandShaking", "", "0"},
      {"HandShaking", " 3", "3"},
      {"HandShaking", "4", "refused: is not 0 (none), 1 (XON/XOFF), 2 (RTS/CTS) or 3 (both)"},
      {"Echo", "", "0"},
      {"Echo", "1", "1"},
      {"Echo", "2", "refused: is not 0 or 1"},
      {"Number", "", ""},
      {"Number", "*67#9,(01) 555.1234", "*67#9,015551234"},
      // Letters and ";" would be modem commands of their own.
      {"Number", "555;1234", "refused: may hold only digits, * # , and the separators"},
      {"Number", "-()", "refused: holds no digit"},
      {"Password", "", "000000"},
      {"Password", " 4711 ", "4711"},
      {"Password", "a b", "refused: may hold only printable ASCII characters"},
      {"Password", "12345678901234567", "refused: is longer than 16 characters"},
  };
  for (const auto& c : cases) {
    const std::string got = Parsed(c.key, c.value);
    if (std::string_view(c.result).starts_with("refused: "))
      EXPECT_THAT(got, StartsWith(c.result)) << c.key << c.value;
    else
      EXPECT_EQ(got, c.result) << c.key << c.value;
  }
}

TEST(TerminalSettings, ReadAfreshFromTheProgramFolder) {
  qz::testing::TempFolder folder;
  const auto read = [&]() -> std::string {
    try {
      const TerminalSettings s = ReadTerminalSettings(folder.path());
      return s.number + "|" + std::to_string(s.line.baud) + "|" + s.device + "|" +
             std::to_string(int(s.hand_shaking)) + "|" + (s.echo ? "echo" : "") + "|" +
             (s.prompt_dialogue() ? "prompts" : "tap") + "|" + s.password;
    } catch (const RunTimeError& e) {
      return e.description();
    }
  };
  EXPECT_THAT(read(), HasSubstr("QzNotes.ini is missing"));
  folder.Write("QzNotes.ini",
               "[pager terminal]\nnumber=555 1234\nSettings=1200,e,7,1\nComPort=2\nHandShaking=2\n"
               "Echo=1\nGetNbr=ID?\nGetNote=Msg?\n");
  EXPECT_EQ(read(), "5551234|1200|/dev/ttyS1|2|echo|prompts|000000");
  folder.Write("QzNotes.ini", "[Pager Terminal]\nSettings=9600,N,8,1\nComPort=/dev/x\nGetNote=M\n");
  EXPECT_THAT(read(), HasSubstr("GetNote=\"M\" is set without its partner"));
}

// Each component the channel makes (one lives at a time) adds one page to
// `pages`: its identifiers, its message and whether it was sent, as
// "id,id|message|sent", pages joined by "; ". SendPage fails when
// `fail_with` is set.
class PagerTerminalTest : public ::testing::Test {
 protected:
  struct FakePager : DispatchObject {
    explicit FakePager(PagerTerminalTest& t) : t(t) { t.pages += t.pages.empty() ? "" : "; "; }
    void SetProperty(std::string_view name, const Variant& v) override {
      if (name == "PagerID")
        for (const Variant& id : v.Items()) t.pages += (id.IsNull() ? "Null" : id.Text()) + ",";
      if (name == "Message") t.pages += "|" + v.Text();
      if (name == "Timeout") {
        EXPECT_EQ(v, Variant(int16_t{60}));
      }
    }
    Variant CallMethod(std::string_view name, std::span<Variant>) override {
      if (!t.fail_with.empty()) throw RunTimeError(1001, t.fail_with, "QzTerminal.cPager");
      t.pages += "|" + std::string(name);
      return Variant::Boolean(false);  // a "failed" answer the channel does not examine
    }
    PagerTerminalTest& t;
  };

  PagerTerminalTest() {
    components.Register(kPagerTerminalProgId,
                        [this](std::string_view) { return std::make_shared<FakePager>(*this); });
  }
  ComponentRegistry components;
  std::string pages, fail_with;
};

TEST_F(PagerTerminalTest, EachMessageGoesWithAllItsIdentifiersToOneComponent) {
  std::string long_text(200, 'p'), cleaned(156, 'p');
  long_text[10] = '\n';
  cleaned[10] = ' ';
  const Variant two = List({"a", "b"});
  const struct {
    Variant notes, lists;
    std::string last_error, pages;  // last_error empty: the group succeeds
  } cases[] = {
      // Empty entries are skipped, the rest trimmed; the text is cleaned and cut.
      {List({long_text, "second"}),
       List({List({Variant(), "  123 ", Variant(), "456"}), List({"789"})}), "",
       "123,456,|" + cleaned + "|SendPage; 789,|second|SendPage"},
      // Messages without identifiers are skipped; the empty text and Null are kept.
      {List({"a", "b", "c", "d"}),
       List({List({Variant(), Variant()}), Variant(), "not a list", List({"", Variant::Null()})}),
       "", ",Null,|d|SendPage"},
      // An identifier that is no text fails the group; the loop's other
      // failures are the shared ones, tested with the SMS channel.
      {List({"a"}), List({List({List({})})}), "Type mismatch.\r\n", ""},
  };
  for (const auto& c : cases) {
    pages.clear();
    gstrLastError = "left over from the mail channel";
    EXPECT_EQ(mblnPaging(components, c.notes, c.lists), c.last_error.empty()) << c.pages;
    EXPECT_EQ(gstrLastError, c.last_error);
    EXPECT_EQ(pages, c.pages);
  }
  fail_with = "modem busy";  // the second message is not tried
  pages.clear();
  EXPECT_FALSE(mblnPaging(components, two, List({List({"1"}), List({"2"})})));
  EXPECT_EQ(gstrLastError, "modem busy.\r\n");
  EXPECT_EQ(pages, "1,|a");
}

}  // namespace
}  // namespace qz::tap
