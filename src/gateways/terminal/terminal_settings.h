// The "Pager Terminal" settings of QzNotes.ini as the pager terminal
// component uses them: parsed and checked at every SendPage, so a bad value
// fails the page with a description naming the key. Stateless; any thread.
#pragma once

#include <string>
#include <string_view>

namespace qz::tap {

enum class Parity { kNone, kEven, kOdd };

struct LineSettings {
  unsigned baud = 9600;
  Parity parity = Parity::kNone;
  unsigned data_bits = 8;
  unsigned stop_bits = 1;
};

enum class HandShaking { kNone = 0, kXonXoff = 1, kRtsCts = 2, kBoth = 3 };

struct TerminalSettings {
  std::string number;  // dial string for ATDT; empty: a direct line
  LineSettings line;
  std::string device;  // absolute path of the serial device
  HandShaking hand_shaking = HandShaking::kNone;
  bool echo = false;
  std::string get_nbr;  // both prompts set: the prompt dialogue instead of TAP
  std::string get_note;
  std::string password = "000000";

  bool prompt_dialogue() const { return !get_nbr.empty(); }
};

// Each raises a RunTimeError (kErrTerminal) whose description names the key
// and the value refused.
LineSettings ParseLineSettings(std::string_view value);  // "9600,N,8,1"
std::string ParseComPort(std::string_view value);        // "1" or "/dev/ttyUSB0"
HandShaking ParseHandShaking(std::string_view value);    // "0" to "3", empty 0
bool ParseEcho(std::string_view value);                  // "1", "0" or empty
std::string ParseNumber(std::string_view value);         // what ATDT dials
std::string ParsePassword(std::string_view value);       // empty: 000000

// All keys from the "Pager Terminal" section of QzNotes.ini in `folder`,
// read afresh. Raises when the file is missing or any value is refused.
TerminalSettings ReadTerminalSettings(std::string_view folder);

}  // namespace qz::tap
