// Trimming, written once: the runtime's Trim takes spaces only; settings and
// protocol text is trimmed of blanks (spaces and tabs). Both answer a view
// into their argument. Pure; safe from any thread.
#pragma once

#include <string_view>

namespace qz {

inline std::string_view TrimAny(std::string_view s, std::string_view what) {
  const size_t first = s.find_first_not_of(what);
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(what) - first + 1);
}
inline std::string_view TrimSpaces(std::string_view s) { return TrimAny(s, " "); }
inline std::string_view TrimBlanks(std::string_view s) { return TrimAny(s, " \t"); }

}  // namespace qz
