// The daemon's own log: accepted requests, what each channel of a dispatch
// run did, outcomes, settings writes and errors. On stderr each line starts
// with its time (UTC, milliseconds); when stderr is the journal (started by
// systemd) lines go through sd-journal with structured QZ_* fields instead.
// Safe from any thread: each line is one write, and control characters in
// it are escaped (log_text.h).
#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace qz {

// Journal fields of a line; empty ones are left out.
struct LogFields {
  std::string_view test_id;  // QZ_TEST_ID
  std::string_view object;   // QZ_OBJECT, "cNotify/3"
  std::string_view gateway;  // QZ_GATEWAY, the channel or paging gateway
  std::string_view outcome;  // QZ_OUTCOME, the run's outcome or a step's result
};

void ServerLog(std::string_view line);
void ServerLog(std::string_view line, const LogFields& fields);

// Whether `fd` is the stream systemd names in JOURNAL_STREAM ("DEV:INODE").
bool IsJournalStream(const char* journal_stream, int fd);
// "2026-12-07T02:49:26.123Z".
std::string LogTimestamp(std::chrono::system_clock::time_point when);

}  // namespace qz
