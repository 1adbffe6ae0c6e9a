#include "gateways/snpp/strip_buffer.h"

#include "diagnostics/error_reporter.h"

namespace qz {

std::string gstrStripBuffer(std::string_view text) {
  try {
    size_t nul = text.find('\0');
    if (nul != std::string_view::npos && nul >= 1) text = text.substr(0, nul);
    size_t begin = text.find_first_not_of(' ');
    if (begin == std::string_view::npos) return {};
    return std::string(text.substr(begin, text.find_last_not_of(' ') + 1 - begin));
  } catch (...) {
    gsubDisplayError("QzNotes", "gstrStripBuffer");
    return {};
  }
}

}  // namespace qz
