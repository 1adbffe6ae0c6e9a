// The "Pager Terminal" settings as the pager terminal component reads them:
// every value shape accepted or refused with a description naming the key.
#include "gateways/terminal/terminal_settings.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "automation/run_time_error.h"
#include "gateways/terminal/tap_limits.h"
#include "support/temp_folder.h"

namespace qz::tap {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

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

TEST(TerminalSettings, EachKeyAcceptsOrRefuses) {
  const struct {
    const char *key, *value;
    const char* result;  // refusals: how the description starts
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
      {"Password", "caf\xc3\xa9", "refused: may hold only printable ASCII characters"},
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
  folder.Write("QzNotes.ini",
               "[Pager Terminal]\nSettings=9600,N,8,1\nComPort=/dev/x\nPassword=a\n");
  EXPECT_EQ(read(), "|9600|/dev/x|0||tap|a");
}

}  // namespace
}  // namespace qz::tap
