#include "gateways/mail/mime_text.h"

#include "platform/utf8.h"

namespace qz {
namespace {

constexpr std::string_view kWordStart = "=?UTF-8?B?";
constexpr std::string_view kWordEnd = "?=";
// 45 bytes make 60 base64 characters: with the 12 of the frame, 72 <= 75.
constexpr size_t kWordBytes = 45;
constexpr size_t kQpLine = 76;
constexpr size_t kMaxLine = 998;
constexpr size_t kHeaderLine = 78;
constexpr size_t kFoldableRun = 900;

bool Printable(unsigned char c) { return c == '\t' || (c >= 0x20 && c < 0x7F); }

}  // namespace

std::string Base64(std::string_view bytes) {
  static constexpr char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  for (size_t i = 0; i < bytes.size(); i += 3) {
    const size_t n = std::min<size_t>(3, bytes.size() - i);
    uint32_t v = 0;
    for (size_t k = 0; k < 3; ++k)
      v = (v << 8) | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0);
    for (size_t k = 0; k < 4; ++k) out += k <= n ? kDigits[(v >> (18 - 6 * k)) & 0x3F] : '=';
  }
  return out;
}

std::string EncodedWords(std::string_view utf8) {
  std::string out;
  size_t i = 0;
  do {
    size_t take = 0;
    while (i + take < utf8.size()) {
      const size_t n = Utf8CharBytes(utf8.substr(i + take));
      if (take + n > kWordBytes) break;
      take += n;
    }
    if (!out.empty()) out += ' ';
    out.append(kWordStart).append(Base64(utf8.substr(i, take))).append(kWordEnd);
    i += take;
  } while (i < utf8.size());
  return out;
}

bool PlainHeaderText(std::string_view text) {
  if (text.find("=?") != std::string_view::npos) return false;
  size_t run = 0;  // a run without blanks cannot be folded
  for (unsigned char c : text) {
    if (!Printable(c)) return false;
    run = c == ' ' ? 0 : run + 1;
    if (run > kFoldableRun) return false;
  }
  return true;
}

std::string FoldedHeader(std::string_view name, std::string_view value) {
  std::string out(name);
  out += ": ";
  size_t line = out.size();
  for (size_t i = 0; i < value.size();) {
    size_t next = value.find(' ', i + 1);
    if (next == std::string_view::npos) next = value.size();
    const std::string_view piece = value.substr(i, next - i);
    // Fold only before a blank that carries a word, so no line is all blank.
    if (i > 0 && piece.size() > 1 && line + piece.size() > kHeaderLine) {
      out += "\r\n";
      line = 0;
    }
    out += piece;
    line += piece.size();
    i = next;
  }
  out += "\r\n";
  return out;
}

std::string CrLfLines(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 32);
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
      out += "\r\n";
    } else if (text[i] == '\n') {
      out += "\r\n";
    } else {
      out += text[i];
    }
  }
  return out;
}

bool SevenBitLines(std::string_view crlf_text) {
  size_t line = 0;
  for (size_t i = 0; i < crlf_text.size(); ++i) {
    if (crlf_text.compare(i, 2, "\r\n") == 0) {
      line = 0;
      ++i;
      continue;
    }
    if (!Printable(static_cast<unsigned char>(crlf_text[i])) || ++line > kMaxLine) return false;
    // Blanks at a line end may be stripped in transit.
    const bool line_end = i + 1 == crlf_text.size() || crlf_text.compare(i + 1, 2, "\r\n") == 0;
    if (line_end && (crlf_text[i] == ' ' || crlf_text[i] == '\t')) return false;
  }
  return true;
}

std::string QuotedPrintable(std::string_view crlf_text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(crlf_text.size() * 3 / 2);
  size_t start = 0;
  while (start <= crlf_text.size()) {
    size_t end = crlf_text.find("\r\n", start);
    const bool last = end == std::string_view::npos;
    if (last) end = crlf_text.size();
    const std::string_view line = crlf_text.substr(start, end - start);
    size_t used = 0;
    for (size_t i = 0; i < line.size(); ++i) {
      const auto c = static_cast<unsigned char>(line[i]);
      const bool at_end = i + 1 == line.size();
      // Blanks at a line end would be stripped in transit.
      const bool literal =
          (c >= 33 && c <= 126 && c != '=') || ((c == ' ' || c == '\t') && !at_end);
      const size_t width = literal ? 1 : 3;
      // Keep room for the "=" of a soft break unless this is the line's last.
      if (used + width > (at_end ? kQpLine : kQpLine - 1)) {
        out += "=\r\n";
        used = 0;
      }
      if (literal) {
        out += static_cast<char>(c);
      } else {
        out += '=';
        out += kHex[c >> 4];
        out += kHex[c & 0xF];
      }
      used += width;
    }
    if (last) break;
    out += "\r\n";
    start = end + 2;
  }
  return out;
}

}  // namespace qz
