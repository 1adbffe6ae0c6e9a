// The daemon's own log: one line per accepted request, dispatch outcome and
// error, on stderr (the journal under systemd). Safe from any thread: each
// line is one write, and control characters in it are escaped (log_text.h).
#pragma once

#include <string_view>

namespace qz {

void ServerLog(std::string_view line);

}  // namespace qz
