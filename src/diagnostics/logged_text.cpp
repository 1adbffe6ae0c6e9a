#include "diagnostics/logged_text.h"

#include <glib.h>

#include "platform/holders.h"

namespace qz {

bool LoggedText::Equals(std::string_view text) const {
  if (text.size() != size_) return false;
  return text.size() <= kKeptWhole ? text == kept_ : Digest(text) == kept_;
}

void LoggedText::Remember(std::string_view text) {
  size_ = text.size();
  kept_ = text.size() <= kKeptWhole ? std::string(text) : Digest(text);
}

std::string LoggedText::Digest(std::string_view text) {
  CharPtr hex(g_compute_checksum_for_data(
      G_CHECKSUM_SHA256, reinterpret_cast<const guchar*>(text.data()), text.size()));
  return hex.get();
}

}  // namespace qz
