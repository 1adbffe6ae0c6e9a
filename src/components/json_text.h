// JSON string literals for the HTTP callback body. The result is always
// valid JSON in UTF-8, whatever bytes it is given. Pure function; safe from
// any thread.
#pragma once

#include <string>
#include <string_view>

namespace qz {

// `text` in double quotes: '"' and '\' escaped, control characters as \n,
// \r, \t, \b, \f or \u00XX, and each byte that is not part of a valid UTF-8
// sequence as \ufffd.
std::string JsonString(std::string_view text);

}  // namespace qz
