#include "gateways/terminal/hayes_modem.h"

#include <array>

#include "automation/run_time_error.h"
#include "gateways/terminal/tap_limits.h"

namespace qz::tap {
namespace {

constexpr std::array<std::string_view, 7> kResults = {
    "OK", "CONNECT", "NO CARRIER", "BUSY", "NO DIALTONE", "NO ANSWER", "ERROR"};

[[noreturn]] void FailDial(const std::string& why) {
  throw RunTimeError(kErrTerminal, "modem: " + why, "QzTerminal.cPager");
}

// The end of the first complete line that starts with a result code.
size_t ResultLineEnd(std::string_view got) {
  size_t start = 0;
  for (size_t end; (end = got.find_first_of("\r\n", start)) != std::string_view::npos;
       start = end + 1) {
    std::string_view line = got.substr(start, end - start);
    for (std::string_view r : kResults)
      if (line.starts_with(r)) return end + 1;
  }
  return std::string_view::npos;
}

// The result code line at the end of `before`.
std::string LastLine(std::string_view before) {
  while (!before.empty() && (before.back() == '\r' || before.back() == '\n'))
    before.remove_suffix(1);
  const size_t cut = before.find_last_of("\r\n");
  return std::string(cut == std::string_view::npos ? before : before.substr(cut + 1));
}

}  // namespace

std::string DialFailureText(std::string_view result, std::string_view number) {
  const std::string n(number);
  if (result.starts_with("BUSY")) return "the line to " + n + " is busy (BUSY)";
  if (result.starts_with("NO DIALTONE"))
    return "no dial tone; is the telephone line plugged in? (NO DIALTONE)";
  if (result.starts_with("NO ANSWER")) return n + " does not answer (NO ANSWER)";
  if (result.starts_with("NO CARRIER")) return "no carrier from " + n + " (NO CARRIER)";
  if (result.starts_with("ERROR")) return "the modem refused to dial " + n + " (ERROR)";
  return "unexpected answer to dialling " + n + ": " + std::string(result);
}

std::string HayesModem::Command(std::string_view command, std::chrono::seconds limit) {
  const auto deadline = Clock::now() + limit;
  link_.Send("AT" + std::string(command) + "\r", deadline);
  TerminalLink::Match m = link_.WaitFor(ResultLineEnd, deadline);
  if (!m.found)
    FailDial("no answer to AT" + std::string(command) + " within " + std::to_string(limit.count()) +
             " s");
  return LastLine(m.before);
}

void HayesModem::Dial(std::string_view number) {
  link_.line().Flush();
  using std::chrono::duration_cast;
  using std::chrono::seconds;
  const auto command_limit = duration_cast<seconds>(kModemCommandLimit);
  std::string r = Command("Z", command_limit);
  if (r != "OK") FailDial("reset (ATZ) answered " + r);
  r = Command("E0V1Q0", command_limit);
  if (r != "OK") FailDial("set-up (ATE0V1Q0) answered " + r);
  r = Command("DT" + std::string(number), duration_cast<seconds>(kDialLimit));
  if (!r.starts_with("CONNECT")) FailDial(DialFailureText(r, number));
  online_ = true;
}

void HayesModem::HangUp() noexcept {
  try {
    if (online_) {
      // The guard silence around "+++" is what makes the modem listen again.
      link_.Drain(std::chrono::duration_cast<std::chrono::milliseconds>(kEscapeGuard));
      link_.Send("+++", Clock::now() + kModemCommandLimit);
      link_.Drain(std::chrono::duration_cast<std::chrono::milliseconds>(kEscapeGuard));
      online_ = false;
    }
    link_.Send("ATH0\r", Clock::now() + kModemCommandLimit);
    link_.WaitFor(ResultLineEnd, Clock::now() + kModemCommandLimit);
  } catch (...) {
    // The DTR drop below hangs up a modem that ignored the escape.
  }
  try {
    link_.line().PulseDtr();
  } catch (...) {
    // The last resort failed too: the line is closed next, and HUPCL drops DTR.
  }
}

}  // namespace qz::tap
