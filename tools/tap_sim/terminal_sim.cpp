#include "terminal_sim.h"

#include <utility>

#include "gateways/terminal/tap_frame.h"

namespace qz::tapsim {

using namespace qz::tap;

TerminalSim::TerminalSim(SimScript script, PageSink accepted, CallSink calls)
    : script_(std::move(script)), accepted_(std::move(accepted)), calls_(std::move(calls)) {
  state_ = script_.modem ? State::kCommand : State::kWake;
}

void TerminalSim::Say(std::string_view text) {
  if (!script_.silent) out_.append(text);
}

bool TerminalSim::Gone() const { return script_.silent_after && pages_ >= *script_.silent_after; }

void TerminalSim::Feed(std::string_view bytes) {
  if (Gone()) return;
  if (script_.echo) out_.append(bytes);
  if (script_.garbage) {
    for (size_t i = 0; i < bytes.size(); ++i) out_.append("#%&*");
    return;
  }
  for (char c : bytes)
    if (!Gone()) Byte(c);
}

void TerminalSim::OnCall(bool on) {
  if (std::exchange(on_call_, on) != on && calls_) calls_(on);
}

void TerminalSim::EndCall(bool hang_up) {
  OnCall(false);
  line_.clear();
  transaction_.clear();
  if (script_.modem) {
    if (hang_up) Say("\r\nNO CARRIER\r\n");
    state_ = State::kCommand;
  } else {
    state_ = State::kWake;
  }
}

void TerminalSim::Byte(char c) {
  // Online, "+++" takes a modem back to command mode.
  if (script_.modem && state_ != State::kCommand) {
    plus_ = c == '+' ? plus_ + 1 : 0;
    if (plus_ == 3) {
      plus_ = 0;
      state_ = State::kCommand;
      line_.clear();
      Say("\r\nOK\r\n");
      return;
    }
  }
  switch (state_) {
    case State::kCommand:
      eot_cr_ = false;
      if (command_echo_ && !script_.modem_silent) Say(std::string_view(&c, 1));
      if (c == '\r') {
        CommandLine(line_);
        line_.clear();
      } else if (c != '\n') {
        line_ += c;
      }
      return;
    case State::kWake:
      if (std::exchange(eot_cr_, false) && c == '\r') return;  // the CR after EOT
      if (c == '\r') {
        OnCall(true);  // a direct line's call is its first CR; a modem's began at CONNECT
        if (!script_.get_nbr.empty()) {
          Say(script_.get_nbr);
          state_ = State::kPromptId;
        } else {
          Say("ID=");
          state_ = State::kLogOn;
        }
      }
      return;
    case State::kLogOn:
      if (c == '\r') {
        // A bare CR is a caller still waking us (or a new call after one
        // that broke off): ask again.
        if (line_.empty())
          Say("ID=");
        else
          LogOnLine(line_);
        line_.clear();
      } else {
        line_ += c;
      }
      return;
    case State::kBlocks:
      if (line_.empty() && c == kEot) {
        Say("\r");
        Say(std::string{kEsc, kEot, kCr});
        EndCall(true);  // with a modem, the carrier goes as the terminal hangs up
        eot_cr_ = true;
        return;
      }
      if (line_.empty() && c == kCr) {  // a new call after one that broke off
        Say("ID=");
        state_ = State::kLogOn;
        return;
      }
      if (line_.empty() && c != kStx) return;  // noise between blocks
      line_ += c;
      // STX, data, end character, three checksum characters, CR.
      if (c == kCr && line_.size() >= 6) {
        const char end = line_[line_.size() - 5];
        if (end == kEtx || end == kEtb || end == kUs) {
          std::string block = std::move(line_);
          line_.clear();
          Block(block);
        }
      }
      return;
    case State::kPromptId:
      if (c == '\r') {
        prompt_id_ = line_;
        line_.clear();
        Say("\r\n" + script_.get_note);
        state_ = State::kPromptText;
      } else if (c != '\n') {
        line_ += c;
      }
      return;
    case State::kPromptText:
      if (c == '\r') {
        std::string text = std::move(line_);
        line_.clear();
        if (PageTaken(prompt_id_, text)) {
          Say("\r\n" + script_.get_nbr);
          state_ = State::kPromptId;
        }
      } else if (c != '\n') {
        line_ += c;
      }
      return;
  }
}

void TerminalSim::CommandLine(const std::string& line) {
  if (script_.modem_silent) return;
  std::string upper;
  for (char c : line) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  // Like a modem, look for "AT" and let whatever came before it go.
  const size_t at = upper.find("AT");
  if (at == std::string::npos) return;
  upper.erase(0, at);
  if (upper.find("E0") != std::string::npos) command_echo_ = false;
  if (upper.find("E1") != std::string::npos) command_echo_ = true;
  if (upper == "ATZ") command_echo_ = true;
  if (upper.starts_with("ATH")) OnCall(false);
  const size_t dial = upper.find('D');
  if (dial != std::string::npos) {
    const std::string& result =
        dials_++ < script_.dial_first_count ? script_.dial_first_result : script_.dial_result;
    if (result.empty()) return;
    Say("\r\n" + result + "\r\n");
    if (result.starts_with("CONNECT")) {
      state_ = State::kWake;
      OnCall(true);
    }
    return;
  }
  Say("\r\nOK\r\n");
}

void TerminalSim::LogOnLine(const std::string& line) {
  if (line.size() < 4 || line[0] != kEsc || line.compare(1, 3, "PG1") != 0) {
    Say("ID=");  // not a log-on: ask again
    return;
  }
  if (line.substr(4) != script_.password) {
    Say("\rInvalid password\r");
    Say(std::string{kEsc, kEot, kCr});
    EndCall(true);
    return;
  }
  Say("110 1.8\r");
  Say(std::string{kAck, kCr});
  Say(std::string{kEsc, '[', 'p', kCr});
  state_ = State::kBlocks;
}

void TerminalSim::Block(const std::string& block) {
  const std::string_view body = std::string_view(block).substr(0, block.size() - 4);
  const bool sum_ok = Checksum(body) == std::string_view(block).substr(block.size() - 4, 3);
  const bool nak = script_.nak_always || (script_.check_sums && !sum_ok) ||
                   (script_.nak_first && last_naked_ != block);
  if (nak) {
    if (script_.nak_first) last_naked_ = block;
    Say(sum_ok ? "\r" : "\rChecksum error\r");
    Say(std::string{kNak, kCr});
    return;
  }
  last_naked_.clear();
  transaction_.append(body.substr(1, body.size() - 2));
  if (body.back() != kEtx) {
    Say(std::string{kCr, kAck, kCr});
    return;
  }
  Transaction();
}

void TerminalSim::Transaction() {
  std::string data;
  data.swap(transaction_);
  const size_t cut = data.find(kCr);
  const std::string id = UnescapeField(data.substr(0, cut));
  std::string text = cut == std::string::npos ? "" : data.substr(cut + 1);
  if (!text.empty() && text.back() == kCr) text.pop_back();
  text = UnescapeField(text);
  if (auto refused = script_.refuse.find(id); refused != script_.refuse.end()) {
    Say(refused->second.empty() ? "\r" : "\r" + refused->second + "\r");
    Say(std::string{kRs, kCr});
    return;
  }
  if (PageTaken(id, text)) Say(std::string{kCr, kAck, kCr});
}

bool TerminalSim::PageTaken(const std::string& id, const std::string& text) {
  if (script_.disconnect_after && pages_ >= *script_.disconnect_after) {
    if (!script_.modem) Say(std::string{kCr, kEsc, kEot, kCr});
    EndCall(true);
    return false;
  }
  ++pages_;
  accepted_(id, text);
  return true;
}

}  // namespace qz::tapsim
