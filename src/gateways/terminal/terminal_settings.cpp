#include "gateways/terminal/terminal_settings.h"

#include <algorithm>
#include <array>
#include <charconv>

#include "automation/run_time_error.h"
#include "config/profile_string.h"
#include "config/settings_groups.h"
#include "config/settings_path.h"
#include "gateways/terminal/tap_limits.h"
#include "platform/trim.h"

namespace qz::tap {
namespace {

constexpr std::string_view kTerminalSection = "Pager Terminal";
constexpr std::string_view kTerminalSource = "QzTerminal.cPager";

[[noreturn]] void RefuseTerminalSetting(std::string_view key, std::string_view value,
                                        std::string_view why) {
  throw RunTimeError(kErrTerminal,
                     "Pager Terminal setting " + std::string(key) + "=\"" + std::string(value) +
                         "\" " + std::string(why),
                     std::string(kTerminalSource));
}

bool ToUnsigned(std::string_view text, unsigned& out) {
  if (text.empty()) return false;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc() && end == text.data() + text.size();
}

constexpr std::array<unsigned, 12> kSpeeds = {300,   600,   1200,  2400,   4800,   9600,
                                              19200, 38400, 57600, 115200, 230400, 460800};

}  // namespace

LineSettings ParseLineSettings(std::string_view value) {
  constexpr std::string_view kKey = "Settings";
  std::array<std::string_view, 4> parts;
  std::string_view rest = value;
  for (size_t i = 0; i < parts.size(); ++i) {
    const size_t comma = rest.find(',');
    if ((comma == std::string_view::npos) != (i == parts.size() - 1))
      RefuseTerminalSetting(kKey, value, "is not speed,parity,data,stop (e.g. 9600,N,8,1)");
    parts[i] = TrimBlanks(rest.substr(0, comma));
    rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
  }
  LineSettings line;
  if (!ToUnsigned(parts[0], line.baud) ||
      std::find(kSpeeds.begin(), kSpeeds.end(), line.baud) == kSpeeds.end())
    RefuseTerminalSetting(kKey, value, "has a speed that is not one of 300 to 460800 bit/s");
  if (parts[1].size() != 1)
    RefuseTerminalSetting(kKey, value, "has a parity that is not N, E or O");
  switch (parts[1][0]) {
    case 'N':
    case 'n':
      line.parity = Parity::kNone;
      break;
    case 'E':
    case 'e':
      line.parity = Parity::kEven;
      break;
    case 'O':
    case 'o':
      line.parity = Parity::kOdd;
      break;
    default:
      RefuseTerminalSetting(kKey, value, "has a parity that is not N, E or O");
  }
  if (!ToUnsigned(parts[2], line.data_bits) || line.data_bits < 5 || line.data_bits > 8)
    RefuseTerminalSetting(kKey, value, "has data bits that are not 5 to 8");
  if (!ToUnsigned(parts[3], line.stop_bits) || line.stop_bits < 1 || line.stop_bits > 2)
    RefuseTerminalSetting(kKey, value, "has stop bits that are not 1 or 2");
  // TAP needs seven bits at least: five or six would mangle every letter.
  if (line.data_bits < 7)
    RefuseTerminalSetting(kKey, value, "has fewer than 7 data bits, too few for text");
  return line;
}

std::string ParseComPort(std::string_view value) {
  constexpr std::string_view kKey = "ComPort";
  const std::string_view port = TrimBlanks(value);
  if (port.empty())
    RefuseTerminalSetting(kKey, value, "is empty; give a port number or a device path");
  unsigned n = 0;
  if (ToUnsigned(port, n)) {
    if (n < 1 || n > 64) RefuseTerminalSetting(kKey, value, "is not a port number from 1 to 64");
    return "/dev/ttyS" + std::to_string(n - 1);  // port 1 is the first serial port
  }
  if (port.front() != '/')
    RefuseTerminalSetting(kKey, value, "is neither a port number nor an absolute device path");
  if (port.find('\0') != std::string_view::npos)
    RefuseTerminalSetting(kKey, value, "holds a NUL character");
  return std::string(port);
}

HandShaking ParseHandShaking(std::string_view value) {
  const std::string_view v = TrimBlanks(value);
  if (v.empty()) return HandShaking::kNone;
  unsigned n = 0;
  if (!ToUnsigned(v, n) || n > 3)
    RefuseTerminalSetting("HandShaking", value,
                          "is not 0 (none), 1 (XON/XOFF), 2 (RTS/CTS) or 3 (both)");
  return static_cast<HandShaking>(n);
}

bool ParseEcho(std::string_view value) {
  const std::string_view v = TrimBlanks(value);
  if (v.empty() || v == "0") return false;
  if (v == "1") return true;
  RefuseTerminalSetting("Echo", value, "is not 0 or 1");
}

std::string ParseNumber(std::string_view value) {
  std::string dial;
  for (char c : TrimBlanks(value)) {
    if ((c >= '0' && c <= '9') || c == '*' || c == '#' || c == ',') {
      dial += c;
    } else if (c != ' ' && c != '-' && c != '(' && c != ')' && c != '.') {
      RefuseTerminalSetting("Number", value,
                            "may hold only digits, * # , and the separators - ( ) . and blank");
    }
  }
  if (dial.empty() && !TrimBlanks(value).empty())
    RefuseTerminalSetting("Number", value, "holds no digit");
  return dial;
}

std::string ParsePassword(std::string_view value) {
  const std::string_view v = TrimBlanks(value);
  if (v.empty()) return "000000";
  for (char c : v)
    if (c <= ' ' || c > '~')
      RefuseTerminalSetting("Password", value, "may hold only printable ASCII characters");
  if (v.size() > 16) RefuseTerminalSetting("Password", value, "is longer than 16 characters");
  return std::string(v);
}

TerminalSettings ReadTerminalSettings(std::string_view folder) {
  const std::string file = SettingsPath(folder, kMainSettingsFile);
  if (!SettingsFileExists(file))
    throw RunTimeError(kErrTerminal, "the settings file " + file + " is missing",
                       std::string(kTerminalSource));
  auto read = [&](std::string_view key) {
    std::string value;
    mblnGetPrivateProfileString(file, kTerminalSection, key, value);
    return value;
  };
  TerminalSettings s;
  s.number = ParseNumber(read("Number"));
  s.line = ParseLineSettings(read("Settings"));
  s.device = ParseComPort(read("ComPort"));
  s.hand_shaking = ParseHandShaking(read("HandShaking"));
  s.echo = ParseEcho(read("Echo"));
  s.get_nbr = read("GetNbr");
  s.get_note = read("GetNote");
  if (s.get_nbr.empty() != s.get_note.empty())
    RefuseTerminalSetting(
        s.get_nbr.empty() ? "GetNote" : "GetNbr", s.get_nbr.empty() ? s.get_note : s.get_nbr,
        "is set without its partner; set both GetNbr and GetNote, or neither for TAP");
  s.password = ParsePassword(read("Password"));
  return s;
}

}  // namespace qz::tap
