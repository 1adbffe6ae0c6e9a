// Makes caller-supplied text safe to put inside one of the daemon's own log
// lines: no character survives that could end the line, start a new one or
// drive a terminal. Pure functions; safe from any thread.
#pragma once

#include <string>
#include <string_view>

namespace qz {

// `text` with every control character written as an escape: C0 and DEL as
// \xNN, C1 (U+0080..U+009F) and the Unicode line and paragraph separators
// as \uNNNN, a byte that starts no UTF-8 character as \xNN, and the
// backslash itself as \\ so that an escape in the output is never the
// caller's own text. Everything else, printable UTF-8 included, is kept.
std::string EscapeControls(std::string_view text);

}  // namespace qz
