#include "components/json_text.h"

#include <glib.h>

#include <cstdio>
#include <utility>

namespace qz {
namespace {

constexpr std::pair<char, std::string_view> kShortEscapes[] = {
    {'"', "\\\""}, {'\\', "\\\\"}, {'\n', "\\n"}, {'\r', "\\r"},
    {'\t', "\\t"}, {'\b', "\\b"},  {'\f', "\\f"},
};

void AppendEscaped(std::string& out, char c) {
  for (const auto& [plain, escaped] : kShortEscapes) {
    if (c == plain) {
      out += escaped;
      return;
    }
  }
  if (static_cast<unsigned char>(c) < 0x20) {
    char code[7];
    std::snprintf(code, sizeof code, "\\u%04x", static_cast<unsigned>(c));
    out += code;
  } else {
    out += c;
  }
}

}  // namespace

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  out.reserve(text.size() + 2);
  while (!text.empty()) {
    const char* valid_end = nullptr;
    g_utf8_validate(text.data(), static_cast<gssize>(text.size()), &valid_end);
    const size_t valid = static_cast<size_t>(valid_end - text.data());
    for (char c : text.substr(0, valid)) AppendEscaped(out, c);
    if (valid == text.size()) break;
    // GLib stops at a NUL byte as at a bad one; only the latter is replaced.
    out += text[valid] == '\0' ? "\\u0000" : "\\ufffd";
    text.remove_prefix(valid + 1);
  }
  out += '"';
  return out;
}

}  // namespace qz
