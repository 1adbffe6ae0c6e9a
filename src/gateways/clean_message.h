// Turns a message text into one line before any channel sends it: trims
// spaces, line breaks and NUL become blanks, backslashes slashes, and paged
// texts are cut to 156 characters. Characters are Unicode code points; an
// invalid UTF-8 byte counts as one character and is kept. Never fails.
#pragma once

#include <cstddef>
#include <string>

namespace qz {

inline constexpr size_t kPagedTextLimit = 156;

void msubCleanMessage(std::string& text, bool limit);

}  // namespace qz
