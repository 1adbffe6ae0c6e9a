#include "gateways/terminal/terminal_link.h"

#include <algorithm>

#include "automation/run_time_error.h"
#include "gateways/terminal/tap_limits.h"

namespace qz::tap {

void TerminalLink::Send(std::string_view bytes, Clock::time_point deadline) {
  line_.Write(bytes, deadline);
  if (echo_) pending_echo_.append(bytes);
}

bool TerminalLink::ReadMore(Clock::time_point deadline) {
  std::string fresh;
  if (!line_.Read(fresh, deadline)) return false;
  // The echo comes back first and in order; what differs from it is the
  // terminal speaking, and the echo expected is dropped from then on.
  size_t same = 0;
  while (same < fresh.size() && same < pending_echo_.size() && fresh[same] == pending_echo_[same])
    ++same;
  if (same < fresh.size() && same < pending_echo_.size())
    pending_echo_.clear();
  else
    pending_echo_.erase(0, same);
  buffer_.append(fresh, same);
  return true;
}

TerminalLink::Match TerminalLink::WaitFor(const std::function<size_t(std::string_view)>& find,
                                          Clock::time_point deadline) {
  for (;;) {
    // The clock is read before the search, so what came in time is still
    // searched once the deadline is past; nothing more is read then, however
    // fast the line keeps talking.
    const bool late = Clock::now() >= deadline;
    const size_t end = find(buffer_);
    if (end != std::string_view::npos) {
      Match m{true, buffer_.substr(0, end)};
      Heard(m.before);
      buffer_.erase(0, end);
      return m;
    }
    if (buffer_.size() > kMaxUnansweredChars) {
      Heard(buffer_);
      buffer_.clear();
      throw RunTimeError(kErrTerminal,
                         "serial line " + line_.device() + ": more than " +
                             std::to_string(kMaxUnansweredChars) +
                             " characters came without the answer awaited",
                         "QzTerminal.cPager");
    }
    if (late || !ReadMore(deadline)) {
      Heard(buffer_);  // what it said before going quiet counts too
      return {};
    }
  }
}

bool TerminalLink::WaitForText(std::string_view text, Clock::time_point deadline) {
  return WaitFor(
             [text](std::string_view got) {
               const size_t at = got.find(text);
               return at == std::string_view::npos ? at : at + text.size();
             },
             deadline)
      .found;
}

void TerminalLink::Drain(std::chrono::milliseconds quiet, std::chrono::milliseconds limit) {
  const auto give_up = Clock::now() + limit;
  while (ReadMore(std::min(Clock::now() + quiet, give_up)) && Clock::now() < give_up) {
    if (buffer_.size() > kMaxUnansweredChars) {
      Heard(buffer_);
      buffer_.clear();
    }
  }
  Heard(buffer_);
  buffer_.clear();
}

std::string TerminalLink::Printable(std::string_view raw) {
  std::string out;
  for (char c : raw) {
    const bool printable = c >= ' ' && c <= '~';
    if (printable && c != ' ') {
      out += c;
    } else if (!out.empty() && out.back() != ' ') {
      out += ' ';
    }
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

void TerminalLink::Heard(std::string_view consumed) {
  std::string words = Printable(consumed);
  if (words.empty()) return;
  last_words_ = std::move(words);
  if (last_words_.size() > kLastWordsChars)
    last_words_.erase(0, last_words_.size() - kLastWordsChars);
}

std::string TerminalLink::LastWords() const { return last_words_; }

}  // namespace qz::tap
