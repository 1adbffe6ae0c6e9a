// Caller text inside a log line: whatever comes in, nothing that ends the
// line or drives a terminal comes out.
#include <cstdint>
#include <string>

#include "diagnostics/log_text.h"
#include "platform/utf8.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string out =
      qz::EscapeControls(std::string_view(reinterpret_cast<const char*>(data), size));
  for (unsigned char c : out)
    if (c < 0x20 || c == 0x7f) __builtin_trap();
  if (qz::ValidUtf8(out) != out) __builtin_trap();
  // C1 controls and the Unicode line and paragraph separators end lines too.
  for (std::string_view line_end : {"\xC2\x85", "\xE2\x80\xA8", "\xE2\x80\xA9"})
    if (out.find(line_end) != std::string::npos) __builtin_trap();
  return 0;
}
