// Writes text as a double-quoted JSON string literal. The human output quotes
// strings inside arrays the same way, so blanks and line breaks stay visible.
// Pure function; safe from any thread.
#pragma once

#include <string>
#include <string_view>

namespace qz::client {

// Appends `text` quoted, escaping '"', '\\' and every control character.
void AppendQuoted(std::string& out, std::string_view text);

std::string Quoted(std::string_view text);

}  // namespace qz::client
