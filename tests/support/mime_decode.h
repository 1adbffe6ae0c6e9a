// Decoders for what the mail composer encodes, so tests can compare mails
// as a reader would see them. Pure functions.
#pragma once

#include <cstdint>
#include <regex>
#include <string>
#include <string_view>

namespace qz::testing {

inline std::string Base64Decode(std::string_view text) {
  static const std::string kDigits =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  uint32_t bits = 0;
  int count = 0;
  for (char c : text) {
    const size_t v = kDigits.find(c);
    if (v == std::string::npos) continue;
    bits = (bits << 6) | static_cast<uint32_t>(v);
    if ((count += 6) >= 8) out += static_cast<char>((bits >> (count -= 8)) & 0xFF);
  }
  return out;
}

// An unfolded header value with its UTF-8 encoded words decoded; blanks
// between two encoded words only separate them and are dropped (RFC 2047).
inline std::string DecodedHeader(const std::string& value) {
  static const std::regex kWord(R"(=\?UTF-8\?B\?([A-Za-z0-9+/=]*)\?=)");
  std::string out;
  size_t last = 0;
  for (std::sregex_iterator it(value.begin(), value.end(), kWord), end; it != end; ++it) {
    const std::string gap = value.substr(last, it->position() - last);
    const bool between_words = last > 0 && gap.find_first_not_of(" \t") == std::string::npos;
    if (!between_words) out += gap;
    out += Base64Decode((*it)[1].str());
    last = it->position() + it->length();
  }
  return out + value.substr(last);
}

inline std::string QpDecode(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '=') {
      out += text[i];
    } else if (text.compare(i + 1, 2, "\r\n") == 0) {
      i += 2;
    } else {
      out += static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16));
      i += 2;
    }
  }
  return out;
}

// The value of header `name` in a raw mail (first occurrence, unfolded).
inline std::string MailHeader(const std::string& mail, std::string_view name) {
  std::string head = "\r\n" + mail.substr(0, mail.find("\r\n\r\n"));
  const std::string key = "\r\n" + std::string(name) + ":";
  size_t at = head.find(key);
  if (at == std::string::npos) return {};
  std::string value;
  for (size_t i = at + key.size(); i < head.size(); ++i) {
    if (head.compare(i, 2, "\r\n") == 0) {
      if (i + 2 < head.size() && (head[i + 2] == ' ' || head[i + 2] == '\t')) {
        ++i;
        continue;
      }
      break;
    }
    value += head[i];
  }
  value.erase(0, value.find_first_not_of(' '));
  return value;
}

}  // namespace qz::testing
