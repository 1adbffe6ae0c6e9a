// Appends entries to the log file. Each entry is one write(2) on a
// descriptor opened with O_APPEND, so entries from several threads or
// processes never interleave within an entry. An entry that would take the
// file past its size bound first moves it aside (QzNotesLog.log.1, .2, …,
// the oldest dropped), so the log stays bounded and no entry is ever cut.
// Writers agree on the size under the writers' own lock (file_lock.h), never
// one on the log, which its readers may hold. New log files are 0640.
// Safe from any thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/file_lock.h"

namespace qz {

inline constexpr std::string_view kLogFileName = "QzNotesLog.log";

// Local date and time as the log writes it: "YYYY-MM-DD HH:MM:SS".
std::string LogTimestamp(std::time_t when);

struct LogBound {
  uint64_t max_bytes = 10 * 1024 * 1024;  // a file holding entries is never grown past this
  int kept_files = 5;                     // QzNotesLog.log.1 … .5; 0 keeps none
  // Past this wait for another writer the entry goes in without the size check.
  std::chrono::milliseconds lock_wait = kLockWait;
};

// What became of an entry.
struct LogWrite {
  bool written = false;  // the whole entry is in the file
  std::string trouble;   // empty when all went as usual; else what went wrong
};

// Writes "<timestamp> <text>\r\n" at the end of `file`, creating it when
// missing, rotating first as `bound` says. Not written when the file could
// not be opened or written whole; written late, unrotated, when the lock was
// not granted in time.
LogWrite AppendLogEntry(const std::filesystem::path& file, std::string_view text,
                        const LogBound& bound = {});

}  // namespace qz
