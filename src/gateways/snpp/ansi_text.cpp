#include "gateways/snpp/ansi_text.h"

#include "platform/utf8.h"

namespace qz {
namespace {

uint32_t AnsiCodePoint(std::string_view seq) {
  auto byte = [&](size_t i) { return static_cast<unsigned char>(seq[i]); };
  switch (seq.size()) {
    case 1:
      return byte(0);
    case 2:
      return (byte(0) & 0x1Fu) << 6 | (byte(1) & 0x3Fu);
    case 3:
      return (byte(0) & 0x0Fu) << 12 | (byte(1) & 0x3Fu) << 6 | (byte(2) & 0x3Fu);
    default:
      return (byte(0) & 0x07u) << 18 | (byte(1) & 0x3Fu) << 12 | (byte(2) & 0x3Fu) << 6 |
             (byte(3) & 0x3Fu);
  }
}

void AppendLatin1(std::string& out, unsigned char byte) {
  if (byte < 0x80) {
    out += static_cast<char>(byte);
  } else {
    out += static_cast<char>(0xC0 | (byte >> 6));
    out += static_cast<char>(0x80 | (byte & 0x3F));
  }
}

}  // namespace

std::string ToAnsiBytes(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  while (!text.empty()) {
    size_t n = Utf8CharBytes(text);
    std::string_view seq = text.substr(0, n);
    text.remove_prefix(n);
    if (n == 1) {
      out += seq[0];  // ASCII, or a stray byte sent as it came
      continue;
    }
    uint32_t cp = AnsiCodePoint(seq);
    out += cp <= 0xFF ? static_cast<char>(cp) : '?';
  }
  return out;
}

std::string FromWireBytes(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  while (!bytes.empty()) {
    size_t n = Utf8CharBytes(bytes);
    if (n == 1) {
      AppendLatin1(out, static_cast<unsigned char>(bytes[0]));
    } else {
      out.append(bytes.substr(0, n));
    }
    bytes.remove_prefix(n);
  }
  return out;
}

}  // namespace qz
