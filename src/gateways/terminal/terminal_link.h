// What the component says to the terminal and hears back over one serial
// line: discards the line's echo when the settings say it echoes, keeps what
// has arrived but is not yet consumed, and remembers the terminal's free text
// for error descriptions. Owned by one thread for one SendPage.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "gateways/terminal/serial_line.h"

namespace qz::tap {

class TerminalLink {
 public:
  TerminalLink(SerialLine& line, bool echo) : line_(line), echo_(echo) {}

  void Send(std::string_view bytes, Clock::time_point deadline);

  // Waits until `find` reports a position in what has arrived (npos: not
  // yet), then consumes up to that position and returns the consumed text.
  // `found` is false when the deadline passed first, even while the line
  // keeps talking. Raises (kErrTerminal) when more than kMaxUnansweredChars
  // arrive without the match.
  struct Match {
    bool found = false;
    std::string before;  // what arrived ahead of the match end
  };
  Match WaitFor(const std::function<size_t(std::string_view)>& find, Clock::time_point deadline);
  // Waits for `text` to arrive; consumes through it.
  bool WaitForText(std::string_view text, Clock::time_point deadline);

  // Lets whatever arrives go by until the line has been quiet for `quiet`
  // (a modem's leftovers, the guard time around "+++"), at most `limit`.
  void Drain(std::chrono::milliseconds quiet,
             std::chrono::milliseconds limit = std::chrono::seconds(5));

  // Printable text the terminal sent lately, blanks collapsed: what it said
  // last, for an error description. Empty when it said nothing.
  std::string LastWords() const;
  // Printable text of `raw`, control characters as blanks, trimmed.
  static std::string Printable(std::string_view raw);

  SerialLine& line() { return line_; }

 private:
  bool ReadMore(Clock::time_point deadline);
  void Heard(std::string_view consumed);

  SerialLine& line_;
  bool echo_;
  std::string pending_echo_;
  std::string buffer_;
  std::string last_words_;
};

}  // namespace qz::tap
