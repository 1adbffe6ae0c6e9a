#include "sim_script.h"

#include <charconv>
#include <sstream>

namespace qz::tapsim {

const char* const kScriptHelp =
    "Script directives (one a line, # starts a comment):\n"
    "  modem                   act as a Hayes modem first (default: a direct line)\n"
    "  dial-result TEXT        answer ATDT with TEXT: CONNECT 2400 (default), BUSY,\n"
    "                          NO CARRIER, NO DIALTONE, NO ANSWER, ERROR; 'silent': none\n"
    "  dial-first N TEXT       answer the first N dials with TEXT (as dial-result\n"
    "                          takes it), later ones as dial-result says: a line\n"
    "                          busy for a while, then answering\n"
    "  modem-silent            answer no AT command at all\n"
    "  password TEXT           the log-on password expected (default 000000)\n"
    "  nak-first               answer the first sending of every block with NAK\n"
    "  nak-always              answer every block with NAK\n"
    "  no-checksum-check       accept blocks whatever their checksum\n"
    "  refuse ID [TEXT]        answer the page for ID with TEXT and RS\n"
    "  disconnect-after N      hang up (ESC EOT; NO CARRIER with a modem) after N pages\n"
    "  silent-after N          stop answering after N pages\n"
    "  silent                  never answer anything\n"
    "  garbage                 answer everything with noise\n"
    "  echo                    send back every byte received\n"
    "  baud N                  pass characters at N bit/s (10 bits a character)\n"
    "  get-nbr TEXT            prompt dialogue: ask TEXT for the identifier ...\n"
    "  get-note TEXT           ... and TEXT for the message (set both)\n";

namespace {

bool ToInt(std::string_view text, int& out) {
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc() && end == text.data() + text.size() && out >= 0;
}

std::string_view Trim(std::string_view s) {
  const size_t a = s.find_first_not_of(" \t\r");
  if (a == std::string_view::npos) return {};
  return s.substr(a, s.find_last_not_of(" \t\r") - a + 1);
}

}  // namespace

std::optional<SimScript> ParseScript(std::string_view text, Status& status) {
  SimScript s;
  std::istringstream in{std::string(text)};
  int number = 0;
  for (std::string raw; std::getline(in, raw);) {
    std::string_view line = Trim(std::string_view(raw).substr(0, raw.find('#')));
    if (line.empty()) continue;
    const size_t blank = line.find_first_of(" \t");
    const std::string_view word = line.substr(0, blank);
    const std::string_view arg =
        blank == std::string_view::npos ? std::string_view() : Trim(line.substr(blank));
    bool ok = true;
    if (word == "modem")
      s.modem = true;
    else if (word == "dial-result")
      s.dial_result = arg == "silent" ? "" : std::string(arg);
    else if (word == "dial-first") {
      const size_t cut = arg.find_first_of(" \t");
      ok = cut != std::string_view::npos && ToInt(arg.substr(0, cut), number);
      const std::string_view result = ok ? Trim(arg.substr(cut)) : std::string_view();
      s.dial_first_count = number;
      s.dial_first_result = result == "silent" ? "" : std::string(result);
    } else if (word == "modem-silent")
      s.modem_silent = true;
    else if (word == "password")
      s.password = arg;
    else if (word == "nak-first")
      s.nak_first = true;
    else if (word == "nak-always")
      s.nak_always = true;
    else if (word == "no-checksum-check")
      s.check_sums = false;
    else if (word == "refuse" && !arg.empty()) {
      const size_t cut = arg.find_first_of(" \t");
      s.refuse[std::string(arg.substr(0, cut))] =
          cut == std::string_view::npos ? "" : std::string(Trim(arg.substr(cut)));
    } else if (word == "disconnect-after" && (ok = ToInt(arg, number)))
      s.disconnect_after = number;
    else if (word == "silent-after" && (ok = ToInt(arg, number)))
      s.silent_after = number;
    else if (word == "silent")
      s.silent = true;
    else if (word == "garbage")
      s.garbage = true;
    else if (word == "echo")
      s.echo = true;
    else if (word == "baud" && (ok = ToInt(arg, number)))
      s.baud = static_cast<unsigned>(number);
    else if (word == "get-nbr" && !arg.empty())
      s.get_nbr = arg;
    else if (word == "get-note" && !arg.empty())
      s.get_note = arg;
    else
      ok = false;
    if (!ok) {
      status = Status::InvalidArgument("cannot understand script line: " + std::string(line));
      return std::nullopt;
    }
  }
  if (s.get_nbr.empty() != s.get_note.empty()) {
    status = Status::InvalidArgument("get-nbr and get-note go together");
    return std::nullopt;
  }
  return s;
}

}  // namespace qz::tapsim
