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

// The description of the error `parse` raises; empty when it raises none.
template <class F>
std::string Refusal(F parse) {
  try {
    parse();
  } catch (const RunTimeError& e) {
    EXPECT_EQ(e.number(), kErrTerminal);
    return e.description();
  }
  return {};
}

TEST(TerminalSettings, LineSettingsAccepted) {
  struct Case {
    const char* value;
    unsigned baud;
    Parity parity;
    unsigned data, stop;
  } cases[] = {
      {"9600,N,8,1", 9600, Parity::kNone, 8, 1},
      {"1200,e,7,1", 1200, Parity::kEven, 7, 1},
      {"2400,O,7,2", 2400, Parity::kOdd, 7, 2},
      {" 300 , n , 8 , 2 ", 300, Parity::kNone, 8, 2},
      {"115200,E,8,1", 115200, Parity::kEven, 8, 1},
  };
  for (const Case& c : cases) {
    const LineSettings line = ParseLineSettings(c.value);
    EXPECT_EQ(line.baud, c.baud) << c.value;
    EXPECT_EQ(line.parity, c.parity) << c.value;
    EXPECT_EQ(line.data_bits, c.data) << c.value;
    EXPECT_EQ(line.stop_bits, c.stop) << c.value;
  }
}

TEST(TerminalSettings, LineSettingsRefused) {
  struct Case {
    const char* value;
    const char* says;
  } cases[] = {
      {"", "is not speed,parity,data,stop"},
      {"9600", "is not speed,parity,data,stop"},
      {"9600,N,8", "is not speed,parity,data,stop"},
      {"9600,N,8,1,1", "is not speed,parity,data,stop"},
      {"abc,N,8,1", "has a speed that is not one of"},
      {"9601,N,8,1", "has a speed that is not one of"},
      {",N,8,1", "has a speed"},
      {"-9600,N,8,1", "has a speed"},
      {"115200,X,9,3", "has a parity that is not N, E or O"},
      {"9600,NN,8,1", "has a parity"},
      {"9600,,8,1", "has a parity"},
      {"9600,N,9,1", "has data bits that are not 5 to 8"},
      {"9600,N,6,1", "has fewer than 7 data bits"},
      {"9600,N,8,3", "has stop bits that are not 1 or 2"},
      {"9600,N,8,1.5", "has stop bits"},
  };
  for (const Case& c : cases) {
    const std::string said = Refusal([&] { ParseLineSettings(c.value); });
    EXPECT_THAT(said, HasSubstr("Settings=\"" + std::string(c.value) + "\" " + c.says)) << c.value;
  }
}

TEST(TerminalSettings, ComPortNumbersAndPaths) {
  EXPECT_EQ(ParseComPort("1"), "/dev/ttyS0");
  EXPECT_EQ(ParseComPort(" 4 "), "/dev/ttyS3");
  EXPECT_EQ(ParseComPort("64"), "/dev/ttyS63");
  EXPECT_EQ(ParseComPort("/dev/ttyUSB0"), "/dev/ttyUSB0");
  EXPECT_EQ(ParseComPort(" /dev/serial/by-id/x "), "/dev/serial/by-id/x");
  for (const char* bad : {"", "  ", "0", "65", "-1", "COM1", "ttyS0", "./tty", "1x"})
    EXPECT_THAT(Refusal([&] { ParseComPort(bad); }),
                HasSubstr("ComPort=\"" + std::string(bad) + "\""))
        << bad;
  EXPECT_THAT(Refusal([] { ParseComPort(""); }), HasSubstr("\"\" is empty"));
  EXPECT_THAT(Refusal([] { ParseComPort("0"); }), HasSubstr("is not a port number from 1 to 64"));
  EXPECT_THAT(Refusal([] { ParseComPort("ttyS0"); }),
              HasSubstr("is neither a port number nor an absolute device path"));
}

TEST(TerminalSettings, SmallKeys) {
  EXPECT_EQ(ParseHandShaking(""), HandShaking::kNone);
  EXPECT_EQ(ParseHandShaking("1"), HandShaking::kXonXoff);
  EXPECT_EQ(ParseHandShaking("2"), HandShaking::kRtsCts);
  EXPECT_EQ(ParseHandShaking(" 3"), HandShaking::kBoth);
  for (const char* bad : {"4", "-1", "x", "1.0"})
    EXPECT_THAT(Refusal([&] { ParseHandShaking(bad); }), HasSubstr("HandShaking")) << bad;

  EXPECT_FALSE(ParseEcho(""));
  EXPECT_FALSE(ParseEcho("0"));
  EXPECT_TRUE(ParseEcho("1"));
  for (const char* bad : {"2", "yes", "-1"})
    EXPECT_THAT(Refusal([&] { ParseEcho(bad); }), HasSubstr("Echo")) << bad;

  EXPECT_EQ(ParsePassword(""), "000000");
  EXPECT_EQ(ParsePassword(" 4711 "), "4711");
  for (const char* bad : {"a b", "pass\x1bword", "12345678901234567", "caf\xc3\xa9"})
    EXPECT_THAT(Refusal([&] { ParsePassword(bad); }), HasSubstr("Password")) << bad;
  EXPECT_THAT(Refusal([] { ParsePassword("a b"); }),
              HasSubstr("Password=\"a b\" may hold only printable ASCII"));
}

TEST(TerminalSettings, NumberIsWhatTheModemDials) {
  EXPECT_EQ(ParseNumber(""), "");
  EXPECT_EQ(ParseNumber("555-1234"), "5551234");
  EXPECT_EQ(ParseNumber("9,(01) 555.1234"), "9,015551234");
  EXPECT_EQ(ParseNumber("*67#123"), "*67#123");
  // Letters and ";" would be modem commands of their own.
  for (const char* bad : {"555;1234", "555-CALL", "ATH", "12\r", "-()"})
    EXPECT_THAT(Refusal([&] { ParseNumber(bad); }), HasSubstr("Number=")) << bad;
  EXPECT_THAT(Refusal([] { ParseNumber("CALL-ME"); }),
              HasSubstr("Number=\"CALL-ME\" may hold only digits"));
}

TEST(TerminalSettings, ReadFromTheProgramFolder) {
  qz::testing::TempFolder folder;
  EXPECT_THAT(Refusal([&] { ReadTerminalSettings(folder.path()); }),
              HasSubstr("QzNotes.ini is missing"));

  folder.Write("QzNotes.ini",
               "[pager terminal]\nnumber=555 1234\nSettings=1200,e,7,1\nComPort=2\nHandShaking=2\n"
               "Echo=1\nGetNbr=ID?\nGetNote=Msg?\n");
  const TerminalSettings s = ReadTerminalSettings(folder.path());
  EXPECT_EQ(s.number, "5551234");
  EXPECT_EQ(s.line.baud, 1200u);
  EXPECT_EQ(s.device, "/dev/ttyS1");
  EXPECT_EQ(s.hand_shaking, HandShaking::kRtsCts);
  EXPECT_TRUE(s.echo);
  EXPECT_TRUE(s.prompt_dialogue());
  EXPECT_EQ(s.password, "000000");

  // Read afresh: a change is seen at once.
  folder.Write("QzNotes.ini",
               "[Pager Terminal]\nSettings=9600,N,8,1\nComPort=/dev/x\nGetNote=Msg?\n");
  EXPECT_THAT(Refusal([&] { ReadTerminalSettings(folder.path()); }),
              HasSubstr("GetNote=\"Msg?\" is set without its partner"));
  folder.Write("QzNotes.ini",
               "[Pager Terminal]\nSettings=9600,N,8,1\nComPort=/dev/x\nPassword=abc\n");
  EXPECT_EQ(ReadTerminalSettings(folder.path()).password, "abc");
  EXPECT_FALSE(ReadTerminalSettings(folder.path()).prompt_dialogue());
}

}  // namespace
}  // namespace qz::tap
