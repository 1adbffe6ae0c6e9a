// The pager terminal component against the terminal simulator over a real
// pseudo-terminal: what the terminal records, and what the component raises
// when the line, the modem or the terminal fails.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/file.h>

#include <fcntl.h>

#include <sstream>

#include "automation/run_time_error.h"
#include "gateways/terminal/tap_limits.h"
#include "gateways/terminal/terminal_pager.h"
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

// The words of `ids`, separated by blanks.
std::vector<Variant> Ids(const std::string& ids) {
  std::vector<Variant> words;
  std::istringstream in(ids);
  for (std::string word; in >> word;) words.emplace_back(word);
  return words;
}

// One call of text "x" per case on a fresh simulator: the answer (or what
// was raised) and the identifiers the terminal accepted.
TEST_F(TerminalPagerTest, Dialogues) {
  using ::testing::AllOf;
  using ::testing::Eq;
  const auto number = [](const char* n) { return With(&Settings::number, n); };
  const auto modem = [](const char* result, const char* says) {
    return AllOf(HasSubstr(std::string("modem: ") + says + "; not accepted: 1, 2"),
                 HasSubstr(result));  // the terminal's last words
  };
  const auto hung_up =
      AllOf(::testing::AnyOf(HasSubstr("the terminal hung up during the pages (ESC EOT)"),
                             HasSubstr("the line dropped during the pages (NO CARRIER)")),
            HasSubstr("not accepted: 1002, 1003"));
  Settings prompts = With(&Settings::get_nbr, "Pager ID?");
  prompts.get_note = "Message?";
  const struct Case {
    const char* script;
    Settings settings;
    const char* ids;
    ::testing::Matcher<std::string> says;
    const char* accepted;
    bool again = false;  // the line takes a second call (the modem dials again)
  } cases[] = {
      {"", Settings(), "1001 1002 1003", Eq("sent 3"), "1001 1002 1003", true},
      {"modem\n", number("555-1234"), "77 78", Eq("sent 2"), "77 78", true},
      {"modem\ndial-result BUSY\n", number("5551234"), "1 2",
       modem("BUSY", "the line to 5551234 is busy (BUSY)"), ""},
      {"modem\ndial-result NO CARRIER\n", number("5551234"), "1 2",
       modem("NO CARRIER", "no carrier from 5551234 (NO CARRIER)"), ""},
      {"modem\ndial-result NO DIALTONE\n", number("5551234"), "1 2",
       modem("NO DIALTONE", "no dial tone; is the telephone line plugged in? (NO DIALTONE)"), ""},
      {"modem\ndial-result NO ANSWER\n", number("5551234"), "1 2",
       modem("NO ANSWER", "5551234 does not answer (NO ANSWER)"), ""},
      {"modem\ndial-result ERROR\n", number("5551234"), "1 2",
       modem("ERROR", "the modem refused to dial 5551234 (ERROR)"), ""},
      {"password 4711\n", Settings(), "1001",  // the default password 000000
       AllOf(HasSubstr("refused the log-on; is the Password right?"),
             HasSubstr("not accepted: 1001; the terminal's last words: \"Invalid password\"")),
       ""},
      {"password 4711\n", With(&Settings::password, "4711"), "1001", Eq("sent 1"), "1001"},
      {"nak-first\n", Settings(), "1 2", Eq("sent 2"), "1 2"},
      {"nak-always\n", Settings(), "1 2",
       HasSubstr("the terminal accepted 0 of 2 pages; not accepted: 1 (NAK after 3 "
                 "retransmissions), 2 (NAK after 3"),
       ""},
      {"refuse 1002 Invalid pager ID\n", Settings(), "1001 1002 1003",
       HasSubstr("the terminal accepted 2 of 3 pages; not accepted: 1002 (Invalid pager ID)"),
       "1001 1003"},
      {"disconnect-after 1\n", Settings(), "1001 1002 1003", hung_up, "1001"},
      {"modem\ndisconnect-after 1\n", number("12"), "1001 1002 1003", hung_up, "1001"},
      {"modem\nmodem-silent\n", number("12"), "1",
       HasSubstr("modem: no answer to ATZ within 5 s; not accepted: 1"), ""},
      {"modem\ngarbage\n", number("12"), "1",
       HasSubstr("modem: no answer to ATZ within 5 s; not accepted: 1"), ""},
      {"echo\n", With(&Settings::echo, "1"), "5 6", Eq("sent 2"), "5 6"},
      {"get-nbr Pager ID?\nget-note Message?\n", prompts, "301 302", Eq("sent 2"), "301 302"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    sim_.reset();
    StartSim(c.script);
    WriteSettings(c.settings);
    EXPECT_THAT(Send(Ids(c.ids), "x"), c.says);
    if (c.again) {
      EXPECT_EQ(Send({"9"}, "x"), "sent 1");
    }
    Pages accepted;
    for (const Variant& id : Ids(c.accepted)) accepted.emplace_back(id.Text(), "x");
    if (c.again) accepted.emplace_back("9", "x");
    EXPECT_EQ(sim_->Pages(), accepted);
  }
}

TEST_F(TerminalPagerTest, SilenceEndsWithinItsLimit) {
  StartSim("silent-after 1\n");
  WriteSettings({});
  EXPECT_THAT(Send({"1", "2", "3"}, "x", 2),
              HasSubstr("the terminal did not answer a page within 2 s; not accepted: 2, 3"));
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
      {"0", "ComPort=\"0\" is not a port number from 1 to 64"},  // the rest: unit tests
  };
  for (const Case& c : cases) {
    WriteSettings(With(&Settings::com_port, c.port));
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
      // The key rules themselves are unit tests; these show the component raises them.
      {With(&Settings::number, "555;1234"), "Number=\"555;1234\" may hold only digits"},
      {With(&Settings::get_nbr, "ID?"), "GetNbr=\"ID?\" is set without its partner"},
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
