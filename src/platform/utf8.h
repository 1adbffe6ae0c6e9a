// Counting in characters over UTF-8 text: a well-formed sequence is one
// character, and so is every byte that does not start one.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qz {

// Length in bytes of the next character at the start of `s` (0 for empty).
size_t Utf8CharBytes(std::string_view s);
// Bytes taken by the first `chars` characters of `s` (all of it if shorter).
size_t Utf8PrefixBytes(std::string_view s, size_t chars);
size_t Utf8Length(std::string_view s);

// The one rule for text that leaves for D-Bus: valid UTF-8 stays as it is;
// anything else (bytes from a network peer, a NUL) becomes U+FFFD, so no
// message can ever fail to serialise.
std::string ValidUtf8(std::string_view text);

}  // namespace qz
