// gstrStripBuffer: cleans a status text received from an SNPP server before
// it is kept: cut at the first NUL (unless the text starts with it) and
// trimmed of spaces only. Stateless; safe from any thread.
#pragma once

#include <string>
#include <string_view>

namespace qz {

std::string gstrStripBuffer(std::string_view text);

}  // namespace qz
