#include "platform/utf8.h"

#include <glib.h>

#include "platform/holders.h"

namespace qz {
namespace {
bool Continuation(unsigned char c) { return (c & 0xC0) == 0x80; }
}  // namespace

size_t Utf8CharBytes(std::string_view s) {
  if (s.empty()) return 0;
  auto b = static_cast<unsigned char>(s[0]);
  size_t need;
  unsigned char lo = 0x80, hi = 0xBF;  // bounds of the second byte
  if (b < 0x80) return 1;
  if (b >= 0xC2 && b <= 0xDF)
    need = 2;
  else if (b >= 0xE0 && b <= 0xEF) {
    need = 3;
    if (b == 0xE0) lo = 0xA0;  // no overlong forms
    if (b == 0xED) hi = 0x9F;  // no surrogates
  } else if (b >= 0xF0 && b <= 0xF4) {
    need = 4;
    if (b == 0xF0) lo = 0x90;
    if (b == 0xF4) hi = 0x8F;
  } else {
    return 1;
  }
  if (s.size() < need) return 1;
  auto second = static_cast<unsigned char>(s[1]);
  if (second < lo || second > hi) return 1;
  for (size_t i = 2; i < need; ++i)
    if (!Continuation(static_cast<unsigned char>(s[i]))) return 1;
  return need;
}

size_t Utf8PrefixBytes(std::string_view s, size_t chars) {
  size_t bytes = 0;
  while (chars > 0 && bytes < s.size()) {
    bytes += Utf8CharBytes(s.substr(bytes));
    --chars;
  }
  return bytes;
}

size_t Utf8Length(std::string_view s) {
  size_t count = 0;
  for (size_t i = 0; i < s.size(); i += Utf8CharBytes(s.substr(i))) ++count;
  return count;
}

std::string ValidUtf8(std::string_view text) {
  if (g_utf8_validate_len(text.data(), text.size(), nullptr)) return std::string(text);
  CharPtr valid(g_utf8_make_valid(text.data(), static_cast<gssize>(text.size())));
  return valid.get();
}

}  // namespace qz
