// The pager terminal component against the terminal simulator over a real
// pseudo-terminal: what the terminal records, and what the component raises
// when the line, the modem or the terminal fails.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/file.h>

#include <fcntl.h>

#include "automation/run_time_error.h"
#include "components/tap_limits.h"
#include "components/terminal_pager.h"
#include "support/temp_folder.h"
#include "tap_sim_process.h"

namespace qz::testing {
namespace {

using ::testing::HasSubstr;
using Pages = std::vector<std::pair<std::string, std::string>>;

struct Settings {
  std::string number;
  std::string line = "2400,E,7,1";
  std::string com_port;  // empty: the simulator's link
  std::string echo = "0";
  std::string get_nbr, get_note;
  std::string password;
};

Settings With(std::string Settings::*field, std::string value) {
  Settings s;
  s.*field = std::move(value);
  return s;
}

class TerminalPagerTest : public ::testing::Test {
 protected:
  void StartSim(const std::string& script) {
    sim_ = std::make_unique<TapSimulator>(folder_.path(), script);
  }

  void WriteSettings(const Settings& s) {
    const std::string port = s.com_port.empty() && sim_ ? sim_->link().string() : s.com_port;
    folder_.Write("QzNotes.ini", "[Pager Terminal]\nNumber=" + s.number + "\nSettings=" + s.line +
                                     "\nComPort=" + port + "\nHandShaking=0\nEcho=" + s.echo +
                                     "\nGetNbr=" + s.get_nbr + "\nGetNote=" + s.get_note +
                                     "\nPassword=" + s.password + "\n");
  }

  // SendPage's answer, or the description of the error it raised.
  std::string Send(std::vector<Variant> ids, const std::string& text, int16_t timeout = 10) {
    TerminalPager pager(folder_.path());
    pager.SetProperty("PagerID", Variant::Array(std::move(ids)));
    pager.SetProperty("Message", Variant(text));
    pager.SetProperty("Timeout", Variant(timeout));
    try {
      return "sent " + pager.CallMethod("SendPage", {}).Text();
    } catch (const RunTimeError& e) {
      EXPECT_EQ(e.number(), tap::kErrTerminal) << e.description();
      EXPECT_EQ(e.source(), "QzTerminal.cPager");
      return e.description();
    }
  }

  TempFolder folder_;
  std::unique_ptr<TapSimulator> sim_;
};

TEST_F(TerminalPagerTest, DirectLinePagesEveryIdentifierInOneCall) {
  StartSim("");
  WriteSettings({});
  EXPECT_EQ(Send({"1001", "1002", "1003"}, "disk /var is full"), "sent 3");
  EXPECT_EQ(sim_->Pages(), (Pages{{"1001", "disk /var is full"},
                                  {"1002", "disk /var is full"},
                                  {"1003", "disk /var is full"}}));
  // The terminal takes the next call on the same line.
  EXPECT_EQ(Send({"1004"}, "second call"), "sent 1");
  EXPECT_EQ(sim_->Pages().size(), 4u);
}

TEST_F(TerminalPagerTest, ThroughTheModem) {
  StartSim("modem\n");
  WriteSettings(With(&Settings::number, "555-1234"));
  EXPECT_EQ(Send({"77", "78"}, "via modem"), "sent 2");
  EXPECT_EQ(sim_->Pages(), (Pages{{"77", "via modem"}, {"78", "via modem"}}));
  // After the hang-up the modem dials again.
  EXPECT_EQ(Send({"79"}, "again"), "sent 1");
}

TEST_F(TerminalPagerTest, ModemFailuresSayWhatHappened) {
  struct Case {
    const char* result;
    const char* says;
  } cases[] = {
      {"BUSY", "the line to 5551234 is busy (BUSY)"},
      {"NO CARRIER", "no carrier from 5551234 (NO CARRIER)"},
      {"NO DIALTONE", "no dial tone; is the telephone line plugged in? (NO DIALTONE)"},
      {"NO ANSWER", "5551234 does not answer (NO ANSWER)"},
      {"ERROR", "the modem refused to dial 5551234 (ERROR)"},
  };
  for (const Case& c : cases) {
    sim_.reset();
    StartSim(std::string("modem\ndial-result ") + c.result + "\n");
    WriteSettings(With(&Settings::number, "5551234"));
    const std::string said = Send({"1", "2"}, "x");
    EXPECT_THAT(said, HasSubstr(std::string("modem: ") + c.says)) << said;
    EXPECT_THAT(said, HasSubstr("not accepted: 1, 2")) << said;
    EXPECT_THAT(said, HasSubstr(c.result)) << said;  // the terminal's last words
    EXPECT_TRUE(sim_->Pages().empty());
  }
}

TEST_F(TerminalPagerTest, PasswordDecidesTheLogOn) {
  StartSim("password 4711\n");
  WriteSettings({});  // the default password 000000
  const std::string said = Send({"1001"}, "x");
  EXPECT_THAT(said, HasSubstr("refused the log-on; is the Password right?"));
  EXPECT_THAT(said,
              HasSubstr("not accepted: 1001; the terminal's last words: \"Invalid password\""));
  WriteSettings(With(&Settings::password, "4711"));
  EXPECT_EQ(Send({"1001"}, "x"), "sent 1");
  EXPECT_EQ(sim_->Pages(), (Pages{{"1001", "x"}}));
}

TEST_F(TerminalPagerTest, NakOnTheFirstTryIsRetransmittedOnce) {
  StartSim("nak-first\n");
  WriteSettings({});
  EXPECT_EQ(Send({"1", "2"}, "again please"), "sent 2");
  EXPECT_EQ(sim_->Pages(), (Pages{{"1", "again please"}, {"2", "again please"}}));
}

TEST_F(TerminalPagerTest, EndlessNakGivesUpAfterThreeRetransmissions) {
  StartSim("nak-always\n");
  WriteSettings({});
  const std::string said = Send({"1", "2"}, "x");
  EXPECT_THAT(said, HasSubstr("the terminal accepted 0 of 2 pages"));
  EXPECT_THAT(said, HasSubstr("not accepted: 1 (NAK after 3 retransmissions), 2 (NAK after 3"));
}

TEST_F(TerminalPagerTest, RefusedIdentifierIsNamedAndTheOthersGoThrough) {
  StartSim("refuse 1002 Invalid pager ID\n");
  WriteSettings({});
  const std::string said = Send({"1001", "1002", "1003"}, "x");
  EXPECT_THAT(
      said, HasSubstr("the terminal accepted 2 of 3 pages; not accepted: 1002 (Invalid pager ID)"));
  EXPECT_EQ(sim_->Pages(), (Pages{{"1001", "x"}, {"1003", "x"}}));
}

TEST_F(TerminalPagerTest, HangUpMidCallNamesThePagesNotSent) {
  for (const char* script : {"disconnect-after 1\n", "modem\ndisconnect-after 1\n"}) {
    sim_.reset();
    StartSim(script);
    WriteSettings(With(&Settings::number, std::string(script).starts_with("modem") ? "12" : ""));
    const std::string said = Send({"1001", "1002", "1003"}, "x");
    EXPECT_THAT(said, ::testing::AnyOf(HasSubstr("the terminal hung up during the pages (ESC EOT)"),
                                       HasSubstr("the line dropped during the pages (NO CARRIER)")))
        << script;
    EXPECT_THAT(said, HasSubstr("not accepted: 1002, 1003")) << said;
    EXPECT_EQ(sim_->Pages(), (Pages{{"1001", "x"}})) << script;
  }
}

TEST_F(TerminalPagerTest, SilenceEndsWithinItsLimit) {
  StartSim("silent-after 1\n");
  WriteSettings({});
  EXPECT_THAT(Send({"1", "2", "3"}, "x", 2),
              HasSubstr("the terminal did not answer a page within 2 s; not accepted: 2, 3"));
}

TEST_F(TerminalPagerTest, ModemThatSaysNothingOrGarbage) {
  for (const char* script : {"modem\nmodem-silent\n", "modem\ngarbage\n"}) {
    sim_.reset();
    StartSim(script);
    WriteSettings(With(&Settings::number, "12"));
    const std::string said = Send({"1"}, "x");
    EXPECT_THAT(said, HasSubstr("modem: no answer to ATZ within 5 s; not accepted: 1")) << script;
  }
}

TEST_F(TerminalPagerTest, TerminalThatNeverAnswers) {
  StartSim("silent\n");
  WriteSettings({});
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Send({"1"}, "x"),
            "the terminal did not ask for a log-on (ID=) within 30 s; not accepted: 1; the "
            "terminal said nothing");
  EXPECT_LT(std::chrono::steady_clock::now() - start, tap::kLogOnLimit + std::chrono::seconds(20));
}

TEST_F(TerminalPagerTest, EchoingLineIsHeardThrough) {
  StartSim("echo\n");
  WriteSettings(With(&Settings::echo, "1"));
  EXPECT_EQ(Send({"5", "6"}, "echo"), "sent 2");
  EXPECT_EQ(sim_->Pages(), (Pages{{"5", "echo"}, {"6", "echo"}}));
}

TEST_F(TerminalPagerTest, LongTextWithControlCharactersCrossesInBlocks) {
  StartSim("");  // the simulator checks every checksum
  WriteSettings({});
  std::string text = "line one\rline two\x1b\x02\x03 caf\xc3\xa9 ";
  while (text.size() < 400) text += "0123456789";
  EXPECT_EQ(Send({"42"}, text), "sent 1");
  std::string expected = "line one\\x0Dline two\\x1B\\x02\\x03 caf? ";
  while (expected.size() < 400 + 12 - 1) expected += "0123456789";
  ASSERT_EQ(sim_->Pages().size(), 1u);
  EXPECT_EQ(sim_->Pages()[0].second, expected);
}

TEST_F(TerminalPagerTest, PromptDialogue) {
  StartSim("get-nbr Pager ID?\nget-note Message?\n");
  Settings prompts = With(&Settings::get_nbr, "Pager ID?");
  prompts.get_note = "Message?";
  WriteSettings(prompts);
  EXPECT_EQ(Send({"301", "302"}, "prompted"), "sent 2");
  EXPECT_EQ(sim_->Pages(), (Pages{{"301", "prompted"}, {"302", "prompted"}}));
}

TEST_F(TerminalPagerTest, EntriesThatCannotBeSentAreNamed) {
  StartSim("");
  WriteSettings({});
  const std::string said = Send({Variant::Null(), "", "12 34",
                                 "\x1b"
                                 "9",
                                 "500"},
                                "x");
  EXPECT_THAT(
      said,
      HasSubstr(
          "the terminal accepted 1 of 5 pages; not accepted: entry 0 (Null), entry 1 (empty), "
          "\"12 34\" (not printable ASCII), \"9\" (not printable ASCII)"));
  EXPECT_EQ(sim_->Pages(), (Pages{{"500", "x"}}));
}

TEST_F(TerminalPagerTest, ComPortMustBeAnUnlockedTerminalDevice) {
  StartSim("");
  const std::string file = folder_.Write("plain-file", "keep me");
  std::filesystem::create_directory(folder_ / "a-directory");
  struct Case {
    std::string port;
    std::string says;
  } cases[] = {
      {folder_.File("no-such-device"),
       "serial line " + folder_.File("no-such-device") + ": cannot be found"},
      {file, "serial line " + file + ": is not a terminal device"},
      {folder_.File("a-directory"), "is not a terminal device"},
      {"/dev/null", "serial line /dev/null: is not a terminal device"},
      {"", "ComPort=\"\" is empty"},
      {"ttyS0", "ComPort=\"ttyS0\" is neither a port number nor an absolute device path"},
      {"0", "ComPort=\"0\" is not a port number from 1 to 64"},
  };
  for (const Case& c : cases) {
    Settings s;
    s.com_port = c.port.empty() ? " " : c.port;
    WriteSettings(s);
    if (c.port.empty())
      folder_.Write("QzNotes.ini", "[Pager Terminal]\nSettings=9600,N,8,1\nComPort=\n");
    EXPECT_THAT(Send({"1"}, "x", 1), HasSubstr(c.says)) << c.port;
  }
  EXPECT_EQ(folder_.Read("plain-file"), "keep me");

  // Another holder of the line: the call waits its Timeout, then says so.
  WriteSettings({});
  const int holder = open(sim_->link().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(flock(holder, LOCK_EX), 0);
  EXPECT_THAT(Send({"1"}, "x", 1),
              HasSubstr("is in use by another caller (locked); not accepted: 1"));
  close(holder);
  EXPECT_EQ(Send({"1"}, "x", 1), "sent 1");
}

TEST_F(TerminalPagerTest, BadSettingsNameTheKey) {
  StartSim("");
  struct Case {
    Settings s;
    const char* says;
  } cases[] = {
      {With(&Settings::line, "abc,N,8,1"), "Settings=\"abc,N,8,1\" has a speed"},
      {With(&Settings::line, "115200,X,9,3"), "has a parity that is not N, E or O"},
      {With(&Settings::number, "555;1234"), "Number=\"555;1234\" may hold only digits"},
      {With(&Settings::number, "CALL-ME"), "Number=\"CALL-ME\" may hold only digits"},
      {With(&Settings::get_nbr, "ID?"), "GetNbr=\"ID?\" is set without its partner"},
      {With(&Settings::password, "a b"), "Password=\"a b\" may hold only printable ASCII"},
  };
  for (const Case& c : cases) {
    WriteSettings(c.s);
    EXPECT_THAT(Send({"1"}, "x"), HasSubstr(c.says));
  }
  std::filesystem::remove(folder_ / "QzNotes.ini");
  EXPECT_THAT(Send({"1"}, "x"), HasSubstr("QzNotes.ini is missing"));
  EXPECT_TRUE(sim_->Pages().empty());
}

TEST_F(TerminalPagerTest, PropertiesAndResult) {
  TerminalPager pager(folder_.path());
  EXPECT_EQ(pager.GetProperty("timeout"), Variant(tap::kDefaultPageTimeout));
  EXPECT_THROW(pager.SetProperty("Timeout", Variant(int16_t{0})), RunTimeError);
  EXPECT_THROW(pager.SetProperty("PagerID", Variant("1001")), RunTimeError);
  // Nothing to page: nothing is read or opened, and no page is accepted.
  EXPECT_EQ(pager.CallMethod("SendPage", {}), Variant(int32_t{0}));
  EXPECT_THROW(pager.CallMethod("Dial", {}), RunTimeError);
}

}  // namespace
}  // namespace qz::testing
