// Finds one value in the text of a profile-format file without building a
// document, which keeps a read to one pass over the file.
// Pure function; safe from any thread.
#pragma once

#include <optional>
#include <string_view>

namespace qz::ini {

// The value of `key` in `section`, unquoted; nullopt when either is missing.
// When a section or a key appears more than once, the first one counts and
// later ones are ignored, as the editor does.
std::optional<std::string_view> FindValue(std::string_view text, std::string_view section,
                                          std::string_view key);

}  // namespace qz::ini
