#include "diagnostics/logged_text.h"

#include <glib.h>

#include <cstdlib>

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

std::string LoggedText::Saved() const { return std::to_string(size_) + ":" + kept_; }

LoggedText LoggedText::FromSaved(std::string_view saved) {
  LoggedText text;
  const size_t colon = saved.find(':');
  if (colon == std::string_view::npos) return text;  // nothing remembered
  text.size_ = std::strtoull(std::string(saved.substr(0, colon)).c_str(), nullptr, 10);
  text.kept_ = saved.substr(colon + 1);
  return text;
}

std::string LoggedText::Digest(std::string_view text) {
  CharPtr hex(g_compute_checksum_for_data(
      G_CHECKSUM_SHA256, reinterpret_cast<const guchar*>(text.data()), text.size()));
  return hex.get();
}

}  // namespace qz
