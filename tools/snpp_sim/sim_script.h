// The script of qznotes-snpp-sim: how each connection behaves. A script is
// a text file of sections "[*]" (every connection) and "[N]" (connection N,
// counted from 1, over what "[*]" says), each with one directive a line.
// Parsed once at start; read-only afterwards, so safe from any thread.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace qz::snppsim {

// How one command is answered.
struct ReplyRule {
  std::optional<std::string> text;  // the reply without its CR LF; nullopt: no reply
  int delay_ms = 0;                 // before the reply
  int split_ms = -1;                // >= 0: send in two segments this far apart
  bool reset = false;               // reset the connection instead of replying
  bool close = false;               // close the connection instead of replying
};

struct Behaviour {
  std::optional<std::string> greeting = "220 SNPP Gateway Ready";
  int greeting_delay_ms = 0;
  long long flood_bytes = 0;                 // sent after the greeting, without a line end
  int close_after_pages = 0;                 // > 0: close after the reply to the Nth SEND
  bool refuse = false;                       // reset at once: a gateway that is down
  std::map<std::string, ReplyRule> replies;  // by command word in capitals; "*" for others

  // The rule for a command word (PAGE, MESSAGE, MESS, SEND, QUIT or any other).
  ReplyRule RuleFor(const std::string& command) const;
};

class Script {
 public:
  // Throws std::runtime_error naming the line for a directive it can't read.
  static Script Parse(std::string_view text);
  Behaviour ForConnection(int number) const;

 private:
  std::map<int, std::string> sections_;  // 0 for "[*]"
};

// Reads the escapes of a script text: \r \n \t \\ \0 and \xHH.
std::string Unescape(std::string_view text);
// Makes received bytes printable on one line: the same escapes, reversed.
std::string Escape(std::string_view bytes);

}  // namespace qz::snppsim
