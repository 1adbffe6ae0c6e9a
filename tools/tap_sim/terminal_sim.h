// The simulated modem and paging terminal: fed the bytes that arrive on the
// line, it answers as its script says and reports every page it accepts.
// Knows nothing of the line itself, so it runs the same over a
// pseudo-terminal or in a test. Used from one thread.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "sim_script.h"

namespace qz::tapsim {

class TerminalSim {
 public:
  // `accepted` is told each page the terminal took: identifier and text.
  using PageSink = std::function<void(const std::string& id, const std::string& text)>;
  // `calls`, when set, is told each call's beginning (true) and end (false):
  // from CONNECT, or the first CR of a direct line, until either side hangs up.
  using CallSink = std::function<void(bool begun)>;
  TerminalSim(SimScript script, PageSink accepted, CallSink calls = nullptr);

  // Takes bytes from the line; answers are appended to what Output() holds.
  void Feed(std::string_view bytes);
  // What the terminal has to say and has not yet sent; the caller takes it.
  std::string& Output() { return out_; }

  int pages() const { return pages_; }

 private:
  enum class State { kCommand, kWake, kLogOn, kBlocks, kPromptId, kPromptText };

  void Byte(char c);
  void CommandLine(const std::string& line);
  void LogOnLine(const std::string& line);
  void Block(const std::string& block);
  void Transaction();
  // False when the terminal hangs up instead of taking the page.
  bool PageTaken(const std::string& id, const std::string& text);
  bool Gone() const;  // silent for good after its pages
  void EndCall(bool hang_up);
  void OnCall(bool on);  // tells calls_ of a change
  void Say(std::string_view text);

  SimScript script_;
  PageSink accepted_;
  CallSink calls_;
  State state_;
  std::string out_;
  std::string line_;         // the command, log-on or block being received
  std::string transaction_;  // data of the blocks of one transaction so far
  std::string last_naked_;   // the block NAKed on its first sending
  std::string prompt_id_;
  bool command_echo_ = true;
  bool on_call_ = false;
  bool eot_cr_ = false;  // the CR that follows a log-off's EOT is not a new call
  int plus_ = 0;         // "+" in a row while on line
  int pages_ = 0;
  int dials_ = 0;
};

}  // namespace qz::tapsim
