// What a test (or a person) tells the terminal simulator to do: how its
// modem answers, which pages it refuses, when it falls silent or hangs up,
// and how fast its line is. Read once at start-up; a plain value.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "platform/status.h"

namespace qz::tapsim {

struct SimScript {
  bool modem = false;                        // answer Hayes commands before TAP
  std::string dial_result = "CONNECT 2400";  // empty: no answer to ATDT
  int dial_first_count = 0;                  // the first dials answered with ...
  std::string dial_first_result;             // ... this instead (empty: none)
  bool modem_silent = false;                 // no answer to any AT command
  std::string password = "000000";
  bool nak_first = false;  // NAK the first sending of every block
  bool nak_always = false;
  bool check_sums = true;                     // NAK a block whose checksum is wrong
  std::map<std::string, std::string> refuse;  // identifier -> text sent with RS
  std::optional<int> disconnect_after;        // hang up after this many pages
  std::optional<int> silent_after;            // stop answering after this many pages
  bool silent = false;                        // never say anything
  bool garbage = false;                       // answer everything with noise
  bool echo = false;                          // send back every byte received
  unsigned baud = 0;                          // 0: as fast as the pseudo-terminal goes
  std::string get_nbr, get_note;              // set: the prompt dialogue
};

// Parses the script text: one directive a line, "#" starts a comment.
// On a line it does not understand, answers nullopt and `status` says which.
std::optional<SimScript> ParseScript(std::string_view text, Status& status);

// The directives, for --help.
extern const char* const kScriptHelp;

}  // namespace qz::tapsim
