// Trimming, written once: the runtime's Trim takes spaces only; settings and
// protocol text is trimmed of blanks (spaces and tabs). All answer views
// into their argument. Pure; safe from any thread.
#pragma once

#include <algorithm>
#include <string_view>
#include <vector>

namespace qz {

inline std::string_view TrimAny(std::string_view s, std::string_view what) {
  const size_t first = s.find_first_not_of(what);
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(what) - first + 1);
}
inline std::string_view TrimSpaces(std::string_view s) { return TrimAny(s, " "); }
inline std::string_view TrimBlanks(std::string_view s) { return TrimAny(s, " \t"); }

// The entries of a list an administrator writes in a setting, separated by
// commas and/or blanks ("a, b c").
inline std::vector<std::string_view> ListEntries(std::string_view list) {
  constexpr std::string_view kSeparators = ", \t";
  std::vector<std::string_view> entries;
  size_t pos = 0;
  while ((pos = list.find_first_not_of(kSeparators, pos)) != std::string_view::npos) {
    const size_t end = std::min(list.find_first_of(kSeparators, pos), list.size());
    entries.push_back(list.substr(pos, end - pos));
    pos = end;
  }
  return entries;
}

}  // namespace qz
