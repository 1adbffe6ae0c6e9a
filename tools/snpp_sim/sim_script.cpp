#include "snpp_sim/sim_script.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <sstream>
#include <stdexcept>

namespace qz::snppsim {
namespace {

std::string Upper(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return out;
}

std::string_view Trim(std::string_view s) {
  size_t b = s.find_first_not_of(" \t\r");
  if (b == std::string_view::npos) return {};
  return s.substr(b, s.find_last_not_of(" \t\r") + 1 - b);
}

// Splits off the first word of `rest`.
std::string_view Word(std::string_view& rest) {
  rest = Trim(rest);
  size_t end = rest.find_first_of(" \t");
  std::string_view word = rest.substr(0, end);
  rest = end == std::string_view::npos ? std::string_view{} : Trim(rest.substr(end));
  return word;
}

long long Number(std::string_view text, int line) {
  long long value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value < 0)
    throw std::runtime_error("script: '" + std::string(text) + "' is no number (section line " +
                             std::to_string(line) + ")");
  return value;
}

ReplyRule& Rule(Behaviour& b, std::string_view command) {
  std::string key = Upper(command);
  auto it = b.replies.find(key);
  if (it == b.replies.end()) it = b.replies.emplace(key, b.RuleFor(key)).first;
  return it->second;
}

void Apply(Behaviour& b, std::string_view text, int first_line) {
  std::istringstream lines{std::string(text)};
  std::string raw;
  for (int n = first_line; std::getline(lines, raw); ++n) {
    std::string_view rest = Trim(raw);
    if (rest.empty() || rest[0] == '#') continue;
    const std::string directive = Upper(Word(rest));
    auto bad = [&] { return std::runtime_error("script: cannot read '" + raw + "'"); };
    if (directive == "GREETING") {
      if (rest.empty()) throw bad();
      if (Upper(rest) == "NONE")
        b.greeting.reset();
      else
        b.greeting = Unescape(rest);
    } else if (directive == "GREETING-DELAY") {
      b.greeting_delay_ms = static_cast<int>(Number(rest, n));
    } else if (directive == "FLOOD") {
      b.flood_bytes = Number(rest, n);
    } else if (directive == "CLOSE-AFTER") {
      b.close_after_pages = static_cast<int>(Number(rest, n));
    } else if (directive == "REPLY") {
      std::string_view command = Word(rest);
      if (command.empty() || rest.empty()) throw bad();
      ReplyRule& r = Rule(b, command);
      if (Upper(rest) == "NONE")
        r.text.reset();
      else
        r.text = Unescape(rest);
    } else if (directive == "DELAY" || directive == "SPLIT") {
      std::string_view command = Word(rest);
      if (command.empty()) throw bad();
      int ms = static_cast<int>(Number(rest, n));
      (directive == "DELAY" ? Rule(b, command).delay_ms : Rule(b, command).split_ms) = ms;
    } else if (directive == "RESET" || directive == "CLOSE-ON") {
      std::string_view command = Word(rest);
      if (command.empty() || !rest.empty()) throw bad();
      (directive == "RESET" ? Rule(b, command).reset : Rule(b, command).close) = true;
    } else {
      throw bad();
    }
  }
}

}  // namespace

ReplyRule Behaviour::RuleFor(const std::string& command) const {
  auto it = replies.find(command);
  if (it != replies.end()) return it->second;
  ReplyRule rule;
  if (command == "PAGE") {
    rule.text = "250 Pager ID Accepted";
  } else if (command == "MESSAGE" || command == "MESS") {
    rule.text = "250 Message OK";
  } else if (command == "SEND") {
    rule.text = "250 Message Sent OK";
  } else if (command == "QUIT") {
    rule.text = "221 OK, Goodbye";
  } else {
    auto other = replies.find("*");
    if (other != replies.end()) return other->second;
    rule.text = "500 Command Not Implemented";
  }
  return rule;
}

Script Script::Parse(std::string_view text) {
  Script script;
  std::istringstream lines{std::string(text)};
  std::string raw;
  int section = 0;
  int n = 0;
  while (std::getline(lines, raw)) {
    ++n;
    std::string_view line = Trim(raw);
    if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
      std::string_view name = Trim(line.substr(1, line.size() - 2));
      section = name == "*" ? 0 : static_cast<int>(Number(name, n));
      if (section == 0 && name != "*")
        throw std::runtime_error("script line " + std::to_string(n) + ": connections count from 1");
      script.sections_[section];
      continue;
    }
    script.sections_[section] += raw + "\n";
  }
  // Read every section once now, so a bad script fails at start.
  for (const auto& [number, body] : script.sections_) {
    Behaviour b;
    Apply(b, body, 1);
  }
  return script;
}

Behaviour Script::ForConnection(int number) const {
  Behaviour b;
  if (auto all = sections_.find(0); all != sections_.end()) Apply(b, all->second, 1);
  if (auto own = sections_.find(number); own != sections_.end()) Apply(b, own->second, 1);
  return b;
}

std::string Unescape(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    char c = text[++i];
    switch (c) {
      case 'r':
        out += '\r';
        break;
      case 'n':
        out += '\n';
        break;
      case 't':
        out += '\t';
        break;
      case '0':
        out += '\0';
        break;
      case 'x':
        if (i + 2 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
          out += static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16));
          i += 2;
        } else {
          out += "\\x";
        }
        break;
      default:
        out += c;
        break;
    }
  }
  return out;
}

std::string Escape(std::string_view bytes) {
  static const char* kHex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    switch (c) {
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\\':
        out += "\\\\";
        break;
      case 0:
        out += "\\0";
        break;
      default:
        if (c < 0x20 || c >= 0x7F) {
          out += "\\x";
          out += kHex[c >> 4];
          out += kHex[c & 0xF];
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out;
}

}  // namespace qz::snppsim
