// What `qznotes settings set` tells the user before writing: keys and values
// the server never reads (an unknown section or key, a gateway Index no
// paging gateway has, a number that is none, a value past the 99 characters read
// back), and the sections whose reads show whether their file is there.
// Derived from the server's own settings groups. Pure functions; safe from
// any thread.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qz::client {

// One warning per problem, in the order of the section and the assignments;
// empty when the server reads everything as written.
std::vector<std::string> SettingsWarnings(std::string_view section,
                                          std::span<const std::string> assignments);

// For a known section other than Default: the request of
// gvarGetPagerSettingsEx that reads it back and the file its "path" names in
// the sample settings.
struct SectionFile {
  short request;
  std::string_view file;
};
std::optional<SectionFile> FileOfSection(std::string_view section);

// The pager terminal reads its section from QzNotes.ini, where the server
// writes only the short group (gblnSetSettings); the Ex write would go to the
// file of the section's "path", which no channel reads.
bool IsPagerTerminalSection(std::string_view section);
// The place of `key` in the short group, or nullopt for a key not in it.
std::optional<size_t> ShortTerminalKey(std::string_view key);
// "Number, Settings, ComPort and HandShaking".
std::string ShortTerminalKeyNames();

}  // namespace qz::client
