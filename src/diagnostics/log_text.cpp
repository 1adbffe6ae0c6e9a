#include "diagnostics/log_text.h"

#include <cstdio>

#include "platform/utf8.h"

namespace qz {
namespace {

void AppendEscape(std::string& out, const char* format, unsigned value) {
  char buffer[8];
  std::snprintf(buffer, sizeof buffer, format, value);
  out += buffer;
}

// The code point of a well-formed 2- or 3-byte sequence (the only lengths
// that hold the characters escaped below).
unsigned CodePoint(std::string_view sequence) {
  auto byte = [&](size_t i) { return static_cast<unsigned char>(sequence[i]); };
  if (sequence.size() == 2) return (byte(0) & 0x1Fu) << 6 | (byte(1) & 0x3Fu);
  return (byte(0) & 0x0Fu) << 12 | (byte(1) & 0x3Fu) << 6 | (byte(2) & 0x3Fu);
}

bool IsEscapedCodePoint(unsigned code) {
  return (code >= 0x80 && code <= 0x9F) || code == 0x2028 || code == 0x2029;
}

}  // namespace

std::string EscapeControls(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  while (!text.empty()) {
    const size_t length = Utf8CharBytes(text);
    const std::string_view one = text.substr(0, length);
    const auto first = static_cast<unsigned char>(one[0]);
    if (first == '\\') {
      out += "\\\\";
    } else if (length == 1 && (first < 0x20 || first >= 0x7F)) {
      // C0, DEL, and bytes of broken sequences: a terminal in 8-bit mode
      // reads a lone 0x9B as CSI.
      AppendEscape(out, "\\x%02x", first);
    } else if ((length == 2 || length == 3) && IsEscapedCodePoint(CodePoint(one))) {
      AppendEscape(out, "\\u%04x", CodePoint(one));
    } else {
      out += one;
    }
    text.remove_prefix(length);
  }
  return out;
}

}  // namespace qz
