// Appends entries to the log file. Each entry is one write(2) on a
// descriptor opened with O_APPEND, so entries from several threads or
// processes never interleave within an entry. An entry that would take the
// file past its size bound first moves it aside (QzNotesLog.log.1, .2, …,
// the oldest dropped), so the log stays bounded and no entry is ever cut.
// Safe from any thread.
#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <string>
#include <string_view>

namespace qz {

inline constexpr std::string_view kLogFileName = "QzNotesLog.log";

// Local date and time as the log writes it: "YYYY-MM-DD HH:MM:SS".
std::string LogTimestamp(std::time_t when);

struct LogBound {
  uint64_t max_bytes = 10 * 1024 * 1024;  // a file holding entries is never grown past this
  int kept_files = 5;                     // QzNotesLog.log.1 … .5; 0 keeps none
};

// Writes "<timestamp> <text>\r\n" at the end of `file`, creating it when
// missing, rotating first as `bound` says. False when the file could not be
// opened or written whole.
bool AppendLogEntry(const std::filesystem::path& file, std::string_view text,
                    const LogBound& bound = {});

}  // namespace qz
