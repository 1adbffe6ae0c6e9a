#include "platform/ini_syntax.h"

#include <glib.h>

#include <algorithm>
#include <memory>

#include "platform/holders.h"
#include "platform/trim.h"

namespace qz::ini {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsAscii(std::string_view s) {
  return std::all_of(s.begin(), s.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool AsciiEqual(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return AsciiLower(x) == AsciiLower(y);
         });
}

CharPtr CaseFold(std::string_view s) {
  return CharPtr(g_utf8_casefold(s.data(), static_cast<gssize>(s.size())));
}

bool HasLineBreakOrNul(std::string_view s) {
  return s.find_first_of(std::string_view("\r\n\0", 3)) != s.npos;
}

}  // namespace

LineSpan NextLine(std::string_view& rest) {
  size_t lf = rest.find('\n');
  LineSpan line;
  if (lf == rest.npos) {
    line.text = rest;
    rest = {};
    return line;
  }
  bool crlf = lf > 0 && rest[lf - 1] == '\r';
  line.text = rest.substr(0, crlf ? lf - 1 : lf);
  line.eol = rest.substr(line.text.size(), crlf ? 2 : 1);
  rest.remove_prefix(lf + 1);
  return line;
}

ParsedLine ParseLine(std::string_view line) {
  ParsedLine parsed;
  std::string_view body = TrimBlanks(line);
  if (body.empty() || body.front() == ';' || body.front() == '#') return parsed;
  if (body.front() == '[') {
    size_t close = body.find(']');
    if (close == body.npos) return parsed;  // malformed header: kept, never matched
    parsed.kind = LineKind::kSection;
    parsed.name = TrimBlanks(body.substr(1, close - 1));
    return parsed;
  }
  size_t eq = line.find('=');
  if (eq == line.npos) return parsed;
  parsed.kind = LineKind::kEntry;
  parsed.name = TrimBlanks(line.substr(0, eq));
  size_t start = eq + 1;
  while (start < line.size() && IsBlank(line[start])) ++start;
  parsed.value_offset = start;
  parsed.raw_value = TrimBlanks(line.substr(start));
  return parsed;
}

std::string_view Unquote(std::string_view raw) {
  if (raw.size() >= 2 && raw.front() == '"' && raw.back() == '"')
    return raw.substr(1, raw.size() - 2);
  return raw;
}

std::string Quote(std::string_view value) {
  bool needs_quotes =
      !value.empty() && (IsBlank(value.front()) || IsBlank(value.back()) ||
                         (value.size() >= 2 && value.front() == '"' && value.back() == '"'));
  if (!needs_quotes) return std::string(value);
  std::string quoted;
  quoted.reserve(value.size() + 2);
  quoted.append(1, '"').append(value).append(1, '"');
  return quoted;
}

bool FoldedCaseEqual(std::string_view a, std::string_view b) {
  if (IsAscii(a) && IsAscii(b)) return AsciiEqual(a, b);
  // An empty view may have no data at all, which GLib must never be handed.
  if (a.empty() || b.empty()) return a.empty() && b.empty();
  // Case folding is defined only for valid UTF-8; other bytes compare as they are.
  if (!g_utf8_validate(a.data(), static_cast<gssize>(a.size()), nullptr) ||
      !g_utf8_validate(b.data(), static_cast<gssize>(b.size()), nullptr))
    return AsciiEqual(a, b);
  CharPtr fa = CaseFold(a), fb = CaseFold(b);
  return std::string_view(fa.get()) == std::string_view(fb.get());
}

bool IsStorableSection(std::string_view section) {
  return !HasLineBreakOrNul(section) && section.find(']') == section.npos;
}

bool IsStorableKey(std::string_view key) {
  std::string_view name = TrimBlanks(key);
  // A key that begins like a comment or a section header would read back as one.
  return !name.empty() && !HasLineBreakOrNul(name) && name.find('=') == name.npos &&
         name.front() != ';' && name.front() != '#' && name.front() != '[';
}

bool IsStorableValue(std::string_view value) { return !HasLineBreakOrNul(value); }

}  // namespace qz::ini
