// The Hayes command dialogue with the modem in front of the paging terminal:
// reset, echo off, dial and wait for CONNECT; hang up by escape and ATH and
// by dropping DTR. Result codes other than CONNECT become run-time errors
// with a clear description. Owned by one thread for one SendPage.
#pragma once

#include <string>
#include <string_view>

#include "gateways/terminal/terminal_link.h"

namespace qz::tap {

// The description of a modem result code that ends a dial attempt.
std::string DialFailureText(std::string_view result, std::string_view number);

class HayesModem {
 public:
  explicit HayesModem(TerminalLink& link) : link_(link) {}

  // Resets the modem and dials `number`; returns when it is connected.
  // Raises (kErrTerminal) on a failure result, an error or silence.
  void Dial(std::string_view number);
  // Best effort: back to command mode, ATH, DTR dropped. Never raises.
  void HangUp() noexcept;

 private:
  // Sends "AT<command>" and answers the first result code line.
  std::string Command(std::string_view command, std::chrono::seconds limit);

  TerminalLink& link_;
  bool online_ = false;  // connected: "+++" is needed to reach the modem again
};

}  // namespace qz::tap
