// How SNPP text crosses the wire: our UTF-8 strings go out one byte per
// character (Latin-1; characters beyond it as "?"), and received bytes come
// back as valid UTF-8 (a byte that starts no valid sequence is read as its
// Latin-1 character). Pure functions; safe from any thread.
#pragma once

#include <string>
#include <string_view>

namespace qz {

// One byte per character: code points up to U+00FF as that byte, any other
// as "?", and a byte that is no valid UTF-8 as itself.
std::string ToAnsiBytes(std::string_view text);

// Received bytes as text that is always valid UTF-8; NUL bytes stay.
std::string FromWireBytes(std::string_view bytes);

}  // namespace qz
