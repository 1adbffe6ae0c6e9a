// The pager terminal component against the terminal simulator over a real
// pseudo-terminal: what the terminal records, and what the component raises
// when the line, the modem or the terminal fails.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/file.h>

#include <fcntl.h>

#include <optional>
#include <sstream>

#include "automation/run_time_error.h"
#include "gateways/terminal/tap_limits.h"
#include "gateways/terminal/terminal_pager.h"
#include "support/flooding_peer.h"
#include "support/temp_folder.h"
#include "tap_sim_process.h"

namespace qz::testing {
namespace {

using ::testing::AllOf;
using ::testing::Eq;
using ::testing::HasSubstr;
using namespace std::chrono_literals;

// The words of `text`, separated by blanks.
std::vector<Variant> Words(const std::string& text) {
  std::vector<Variant> words;
  std::istringstream in(text);
  for (std::string word; in >> word;) words.emplace_back(word);
  return words;
}

class TerminalPagerTest : public ::testing::Test {
 protected:
  // A fresh simulator, and settings aimed at its line with `extra` keys.
  void Start(const std::string& script, const std::string& extra = "") {
    sim_.reset();
    sim_ = std::make_unique<TapSimulator>(folder_.path(), script);
    Write(extra);
  }
  void Write(const std::string& extra, const std::string& port = "") {
    folder_.Write("QzNotes.ini", "[Pager Terminal]\nSettings=2400,E,7,1\nComPort=" +
                                     (port.empty() ? sim_->link().string() : port) + "\n" + extra);
  }

  // SendPage's answer, or the description of the error it raised.
  std::string Send(std::vector<Variant> ids, const std::string& text = "x", int16_t timeout = 10) {
    TerminalPager pager(folder_.path());
    pager.SetProperty("PagerID", Variant::Array(std::move(ids)));
    pager.SetProperty("Message", Variant(text));
    pager.SetProperty("Timeout", Variant(timeout));
    try {
      return "sent " + pager.CallMethod("SendPage", {}).Text();
    } catch (const RunTimeError& e) {
      failure_kind_ = pager.LastFailureKind();
      EXPECT_EQ(e.number(), tap::kErrTerminal) << e.description();
      EXPECT_EQ(e.source(), "QzTerminal.cPager");
      return e.description();
    }
  }

  TempFolder folder_;
  std::unique_ptr<TapSimulator> sim_;
  std::optional<FailureKind> failure_kind_;  // of the last call that raised
};

// One call per case on a fresh simulator: the answer (or what was raised)
// and the pages the terminal accepted.
TEST_F(TerminalPagerTest, Dialogues) {
  const auto modem = [](const char* says) {
    return HasSubstr(std::string("modem: ") + says + "; not accepted: 1, 2");
  };
  const auto hung_up =
      AllOf(::testing::AnyOf(HasSubstr("the terminal hung up during the pages (ESC EOT)"),
                             HasSubstr("the line dropped during the pages (NO CARRIER)")),
            HasSubstr("not accepted: 1002, 1003"));
  const char *tap = "", *dial = "Number=555-1234\n";
  const std::string text = std::string(300, 'z') + "\r\x02 caf\xc3\xa9",
                    recorded = std::string(300, 'z') + "\\x0D\\x02 caf?";
  const struct Case {
    const char* script;
    const char* settings;  // keys besides the line
    const char* ids;       // separated by blanks
    ::testing::Matcher<std::string> says;
    const char* accepted;  // pages of text "x", as the terminal records them
    bool again = false;    // the line takes a second call (the modem dials again)
    int16_t timeout = 10;
    // Only identifiers the terminal refused make a failure no later call mends.
    FailureKind kind = FailureKind::kTransient;
  } cases[] = {
      {"", tap, "1001 1002 1003", Eq("sent 3"), "1001 x; 1002 x; 1003 x", true},
      {"modem\n", dial, "77 78", Eq("sent 2"), "77 x; 78 x", true},
      {"modem\ndial-result BUSY\n", dial, "1 2", modem("the line to 5551234 is busy (BUSY)"), ""},
      {"modem\ndial-result NO CARRIER\n", dial, "1 2",
       modem("no carrier from 5551234 (NO CARRIER)"), ""},
      {"modem\ndial-result NO ANSWER\n", dial, "1 2", modem("5551234 does not answer (NO ANSWER)"),
       ""},
      {"password 4711\n", "Password=4711\n", "1001", Eq("sent 1"), "1001 x"},
      {"nak-first\n", tap, "1 2", Eq("sent 2"), "1 x; 2 x"},
      {"echo\n", "Echo=1\n", "5 6", Eq("sent 2"), "5 x; 6 x"},
      {"nak-always\n", tap, "1 2",
       HasSubstr("the terminal accepted 0 of 2 pages; not accepted: 1 (NAK after 3 "
                 "retransmissions), 2 (NAK after 3"),
       ""},
      {"refuse 1002 Invalid pager ID\n", tap, "1001 1002 1003",
       HasSubstr("the terminal accepted 2 of 3 pages; not accepted: 1002 (Invalid pager ID)"),
       "1001 x; 1003 x", false, 10, FailureKind::kPermanent},
      {"disconnect-after 1\n", tap, "1001 1002 1003", hung_up, "1001 x"},
      {"modem\ndisconnect-after 1\n", dial, "1001 1002 1003", hung_up, "1001 x"},
      {"modem\nmodem-silent\n", dial, "1",
       HasSubstr("modem: no answer to ATZ within 5 s; not accepted: 1"), ""},
      {"get-nbr Pager ID?\nget-note Message?\n", "GetNbr=Pager ID?\nGetNote=Message?\n", "301 302",
       Eq("sent 2"), "301 x; 302 x"},
      {"silent-after 1\n", tap, "1 2 3",
       HasSubstr("the terminal did not answer a page within 2 s; not accepted: 2, 3"), "1 x", false,
       2},
      {"silent\n", tap, "1",
       Eq("the terminal did not ask for a log-on (ID=) within 30 s; not accepted: 1; the "
          "terminal said nothing"),
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    Start(c.script, c.settings);
    failure_kind_.reset();
    EXPECT_THAT(Send(Words(c.ids), "x", c.timeout), c.says);
    if (failure_kind_) {
      EXPECT_EQ(*failure_kind_, c.kind);
    }
    std::string accepted = c.accepted;
    if (c.again) {
      EXPECT_EQ(Send({"9"}, text), "sent 1");
      accepted += "; 9 " + recorded;  // blocks with escapes, checked by the terminal
    }
    EXPECT_EQ(sim_->Pages(), accepted);
  }
}

// A terminal (or modem) that never stops talking loses the call as soon as
// more has piled up than any answer needs, long before the step's limit.
TEST_F(TerminalPagerTest, FloodingTerminalLosesTheCall) {
  const struct {
    const char* settings;
    std::string answer, pattern;  // after the first thing the component says
  } cases[] = {
      {"", "ID=\x06\x1b[p", "0123456789"},  // logged on, then chatter instead of an answer
      {"Number=1\n", "", "RING\r\n"},       // lines, but never a result code
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pattern);
    FloodingPeer terminal(FloodingPeer::Kind::kPseudoTerminal, {"", c.answer, c.pattern});
    Write(c.settings, terminal.device());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THAT(Send({"1"}, "x", 10),
                AllOf(HasSubstr(": more than 16384 characters came without the answer awaited"),
                      HasSubstr("; not accepted: 1;")));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s) << "it waited out the page limit";
    EXPECT_GT(terminal.flooded(), 0u);
  }
}

TEST_F(TerminalPagerTest, LineMustBeAnUnlockedTerminalDevice) {
  Start("");
  const std::string file = folder_.Write("plain-file", "keep me");
  const std::string missing = folder_.File("no-such-device");
  const std::pair<std::string, std::string> cases[] = {
      {missing, "serial line " + missing + ": cannot be found"},
      {file, "serial line " + file + ": is not a terminal device"},
  };
  for (const auto& [port, says] : cases) {
    Write("", port);
    EXPECT_THAT(Send({"1"}, "x", 1), HasSubstr(says)) << port;
  }
  EXPECT_EQ(folder_.Read("plain-file"), "keep me");

  // Another holder of the line: the call waits its Timeout, then says so.
  Write("");
  const int holder = open(sim_->link().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(flock(holder, LOCK_EX), 0);
  EXPECT_THAT(Send({"1"}, "x", 1),
              HasSubstr("is in use by another caller (locked); not accepted: 1"));
  close(holder);
  EXPECT_EQ(Send({"1"}, "x", 1), "sent 1");
  EXPECT_THAT(Send({Variant::Null(), "", "12 34", std::string("\x1b") + "9", "500"}),
              HasSubstr("the terminal accepted 1 of 5 pages; not accepted: entry 0 (Null), entry 1 "
                        "(empty), \"12 34\" (not printable ASCII), \"9\" (not printable ASCII)"));
  EXPECT_EQ(sim_->Pages(), "1 x; 500 x");
}

}  // namespace
}  // namespace qz::testing
