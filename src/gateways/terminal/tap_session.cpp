#include "gateways/terminal/tap_session.h"

#include "automation/run_time_error.h"
#include "gateways/terminal/tap_frame.h"
#include "gateways/terminal/tap_limits.h"

namespace qz::tap {
namespace {

[[noreturn]] void FailSession(const std::string& why) {
  throw RunTimeError(kErrTerminal, why, "QzTerminal.cPager");
}

enum class Reply { kAck, kNak, kRs, kDisconnect, kGoAhead, kNoCarrier };

// The end of the first reply in `got`, its kind in `reply`. A modem that
// lost the carrier says so in words.
size_t ReplyEnd(std::string_view got, Reply& reply) {
  for (size_t i = 0; i < got.size(); ++i) {
    switch (got[i]) {
      case kAck:
        reply = Reply::kAck;
        return i + 1;
      case kNak:
        reply = Reply::kNak;
        return i + 1;
      case kRs:
        reply = Reply::kRs;
        return i + 1;
      case kEsc:
        if (i + 1 == got.size()) return std::string_view::npos;  // the rest is on its way
        if (got[i + 1] == kEot) {
          reply = Reply::kDisconnect;
          return i + 2;
        }
        if (got[i + 1] == '[') {
          if (i + 2 == got.size()) return std::string_view::npos;
          if (got[i + 2] == 'p') {
            reply = Reply::kGoAhead;
            return i + 3;
          }
        }
        break;
      default:
        if (got.substr(i).starts_with("NO CARRIER")) {
          reply = Reply::kNoCarrier;
          return i + 10;
        }
    }
  }
  return std::string_view::npos;
}

struct Heard {
  bool found = false;
  Reply reply = Reply::kAck;
  std::string text;  // the terminal's words ahead of the reply
};

Heard WaitForReply(TerminalLink& link, Clock::time_point deadline) {
  Heard h;
  TerminalLink::Match m =
      link.WaitFor([&h](std::string_view got) { return ReplyEnd(got, h.reply); }, deadline);
  h.found = m.found;
  h.text = TerminalLink::Printable(m.before);
  return h;
}

std::string Seconds(std::chrono::seconds s) { return std::to_string(s.count()) + " s"; }

template <class Duration>
std::string Seconds(Duration d) {
  return Seconds(std::chrono::duration_cast<std::chrono::seconds>(d));
}

std::string Said(const std::string& text) { return text.empty() ? "" : " (\"" + text + "\")"; }

// The two kinds of reply that end every call at once.
[[noreturn]] void CallEnded(const Heard& h, std::string_view when) {
  if (h.reply == Reply::kNoCarrier)
    FailSession("the line dropped " + std::string(when) + " (NO CARRIER)");
  FailSession("the terminal hung up " + std::string(when) + " (ESC EOT)" + Said(h.text));
}

}  // namespace

void TapSession::LogOn() {
  const auto deadline = Clock::now() + kLogOnLimit;
  // The CR lets the terminal find our speed; it answers "ID=" when it has.
  bool asked = false;
  while (!asked && Clock::now() < deadline) {
    link_.Send(std::string(1, kCr), deadline);
    asked = link_.WaitForText("ID=", std::min(deadline, Clock::now() + kWakeInterval));
  }
  if (!asked)
    FailSession("the terminal did not ask for a log-on (ID=) within " + Seconds(kLogOnLimit));
  for (int attempt = 1;; ++attempt) {
    link_.Send(std::string(1, kEsc) + "PG1" + password_ + kCr, deadline);
    Heard h = WaitForReply(link_, deadline);
    if (!h.found)
      FailSession("the terminal did not answer the log-on within " + Seconds(kLogOnLimit));
    if (h.reply == Reply::kAck) break;
    if (h.reply == Reply::kDisconnect)
      FailSession("the terminal refused the log-on; is the Password right?" + Said(h.text));
    if (h.reply == Reply::kNoCarrier) CallEnded(h, "during the log-on");
    if (attempt == kMaxLogOnAttempts)
      FailSession("the terminal refused the log-on " + std::to_string(attempt) + " times" +
                  Said(h.text));
  }
  for (;;) {
    Heard h = WaitForReply(link_, deadline);
    if (!h.found)
      FailSession("the terminal gave no go-ahead (ESC [p) within " + Seconds(kLogOnLimit));
    if (h.reply == Reply::kGoAhead) return;
    if (h.reply == Reply::kDisconnect || h.reply == Reply::kNoCarrier)
      CallEnded(h, "after the log-on");
  }
}

PageAnswer TapSession::Page(std::string_view identifier, std::string_view text) {
  for (const std::string& block : TransactionBlocks(identifier, text)) {
    for (int sent = 0;; ++sent) {
      const auto deadline = Clock::now() + page_timeout_;
      link_.Send(block, deadline);
      Heard h = WaitForReply(link_, deadline);
      if (!h.found)
        FailSession("the terminal did not answer a page within " + Seconds(page_timeout_));
      if (h.reply == Reply::kAck) break;
      if (h.reply == Reply::kRs) return {false, h.text.empty() ? "refused (RS)" : h.text, true};
      if (h.reply == Reply::kDisconnect || h.reply == Reply::kNoCarrier)
        CallEnded(h, "during the pages");
      if (sent == kMaxRetransmits)
        return {false,
                "NAK after " + std::to_string(kMaxRetransmits) + " retransmissions" + Said(h.text)};
      // NAK (or a stray go-ahead): send the block again
    }
  }
  return {true, {}};
}

void TapSession::LogOff() noexcept {
  try {
    const auto deadline = Clock::now() + kLogOffLimit;
    link_.Send(std::string(1, kEot) + kCr, deadline);
    for (;;) {
      Heard h = WaitForReply(link_, deadline);
      if (!h.found || h.reply == Reply::kDisconnect || h.reply == Reply::kNoCarrier) return;
    }
  } catch (...) {
    // The pages are in; a log-off the line no longer carries changes nothing.
  }
}

namespace {

// A field of the prompt dialogue: one line, 7-bit.
std::string PromptField(std::string_view text) {
  std::string out = EscapeField(text);
  std::string plain;
  for (size_t i = 0; i < out.size(); ++i) {
    if (out[i] == kSub) {
      plain += ' ';
      ++i;
    } else {
      plain += out[i];
    }
  }
  return plain;
}

}  // namespace

void PromptSession::LogOn() {
  const auto deadline = Clock::now() + kLogOnLimit;
  bool asked = false;
  while (!asked && Clock::now() < deadline) {
    link_.Send(std::string(1, kCr), deadline);
    asked = link_.WaitForText(get_nbr_, std::min(deadline, Clock::now() + kWakeInterval));
  }
  if (!asked)
    FailSession("the terminal did not ask \"" + get_nbr_ + "\" within " + Seconds(kLogOnLimit));
}

PageAnswer PromptSession::Page(std::string_view identifier, std::string_view text) {
  // The terminal has just asked for the identifier.
  auto deadline = Clock::now() + page_timeout_;
  link_.Send(PromptField(identifier) + kCr, deadline);
  if (!link_.WaitForText(get_note_, deadline))
    FailSession("the terminal did not ask \"" + get_note_ + "\" within " + Seconds(page_timeout_));
  deadline = Clock::now() + page_timeout_;
  link_.Send(PromptField(text) + kCr, deadline);
  // Asking for the next identifier is how it says the page is taken.
  if (!link_.WaitForText(get_nbr_, deadline))
    FailSession("the terminal did not ask \"" + get_nbr_ + "\" again within " +
                Seconds(page_timeout_));
  return {true, {}};
}

}  // namespace qz::tap
