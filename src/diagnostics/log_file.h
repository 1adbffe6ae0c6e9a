// Appends entries to the log file. Each entry is one write(2) on a
// descriptor opened with O_APPEND, so entries from several threads or
// processes never interleave within an entry. Safe from any thread.
#pragma once

#include <ctime>
#include <filesystem>
#include <string>
#include <string_view>

namespace qz {

inline constexpr std::string_view kLogFileName = "QzNotesLog.log";

// Local date and time as the log writes it: "YYYY-MM-DD HH:MM:SS".
std::string LogTimestamp(std::time_t when);

// Writes "<timestamp> <text>\r\n" at the end of `file`, creating it when
// missing. False when the file could not be opened or written whole.
bool AppendLogEntry(const std::filesystem::path& file, std::string_view text);

}  // namespace qz
