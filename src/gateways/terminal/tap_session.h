// One TAP 1.8 call with the paging terminal, after the line is up: log-on
// with the password, one transaction per page (retransmitted on NAK at most
// three times), log-off. Also the prompt dialogue for terminals that ask
// for the identifier and the text by name. Owned by one thread.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "gateways/terminal/terminal_link.h"

namespace qz::tap {

// How the terminal answered one page.
struct PageAnswer {
  bool accepted = false;
  std::string why;       // when not accepted: what the terminal said or did
  bool refused = false;  // the terminal refused the identifier (RS): no later call will take it
};

// A dialogue with the terminal. Each step raises (kErrTerminal) when the
// call cannot go on: silence past its limit, the terminal hanging up.
class TerminalDialogue {
 public:
  virtual ~TerminalDialogue() = default;
  virtual void LogOn() = 0;
  virtual PageAnswer Page(std::string_view identifier, std::string_view text) = 0;
  // Best effort; never raises.
  virtual void LogOff() noexcept = 0;
};

class TapSession : public TerminalDialogue {
 public:
  TapSession(TerminalLink& link, std::string password, std::chrono::seconds page_timeout)
      : link_(link), password_(std::move(password)), page_timeout_(page_timeout) {}

  void LogOn() override;
  PageAnswer Page(std::string_view identifier, std::string_view text) override;
  void LogOff() noexcept override;

 private:
  TerminalLink& link_;
  std::string password_;
  std::chrono::seconds page_timeout_;
};

class PromptSession : public TerminalDialogue {
 public:
  PromptSession(TerminalLink& link, std::string get_nbr, std::string get_note,
                std::chrono::seconds page_timeout)
      : link_(link),
        get_nbr_(std::move(get_nbr)),
        get_note_(std::move(get_note)),
        page_timeout_(page_timeout) {}

  void LogOn() override;
  PageAnswer Page(std::string_view identifier, std::string_view text) override;
  void LogOff() noexcept override {}

 private:
  TerminalLink& link_;
  std::string get_nbr_, get_note_;
  std::chrono::seconds page_timeout_;
};

}  // namespace qz::tap
