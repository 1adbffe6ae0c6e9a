#include "server/server_log.h"

#include <sys/stat.h>
#include <sys/uio.h>
#include <systemd/sd-journal.h>
#include <time.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "diagnostics/log_text.h"

namespace qz {
namespace {

bool StderrIsJournal() {
  // Decided once: stderr does not change hands while the daemon runs.
  static const bool journal = IsJournalStream(std::getenv("JOURNAL_STREAM"), STDERR_FILENO);
  return journal;
}

void AddField(std::vector<std::string>& fields, std::string_view name, std::string_view value) {
  if (value.empty()) return;
  fields.push_back(std::string(name) + "=" + EscapeControls(value));
}

bool SendToJournal(std::string_view line, const LogFields& fields) {
  std::vector<std::string> entries;
  AddField(entries, "MESSAGE", line);
  entries.emplace_back("PRIORITY=6");
  entries.emplace_back("SYSLOG_IDENTIFIER=qznotesd");
  AddField(entries, "QZ_TEST_ID", fields.test_id);
  AddField(entries, "QZ_OBJECT", fields.object);
  AddField(entries, "QZ_GATEWAY", fields.gateway);
  AddField(entries, "QZ_OUTCOME", fields.outcome);
  std::vector<iovec> parts;
  parts.reserve(entries.size());
  for (std::string& entry : entries) parts.push_back({entry.data(), entry.size()});
  return sd_journal_sendv(parts.data(), static_cast<int>(parts.size())) >= 0;
}

}  // namespace

bool IsJournalStream(const char* journal_stream, int fd) {
  if (!journal_stream) return false;
  uintmax_t device = 0;
  uintmax_t inode = 0;
  int used = 0;
  if (std::sscanf(journal_stream, "%" SCNuMAX ":%" SCNuMAX "%n", &device, &inode, &used) != 2 ||
      journal_stream[used] != '\0')
    return false;
  struct stat status {};
  if (::fstat(fd, &status) != 0) return false;
  return status.st_dev == device && status.st_ino == inode;
}

std::string LogTimestamp(std::chrono::system_clock::time_point when) {
  using namespace std::chrono;
  const auto since_epoch = when.time_since_epoch();
  const time_t seconds = duration_cast<std::chrono::seconds>(since_epoch).count();
  const auto millis = duration_cast<milliseconds>(since_epoch).count() % 1000;
  struct tm parts {};
  ::gmtime_r(&seconds, &parts);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", parts.tm_year + 1900,
                parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec,
                static_cast<int>(millis < 0 ? millis + 1000 : millis));
  return text;
}

void ServerLog(std::string_view line) { ServerLog(line, LogFields{}); }

void ServerLog(std::string_view line, const LogFields& fields) {
  if (StderrIsJournal() && SendToJournal(line, fields)) return;
  // Lines carry callers' texts (test identifiers, error descriptions); with
  // every control character escaped, no caller can end this line, forge a
  // following one or send sequences to a terminal showing the log.
  std::string text =
      LogTimestamp(std::chrono::system_clock::now()) + " qznotesd: " + EscapeControls(line) + "\n";
  ssize_t ignored = ::write(STDERR_FILENO, text.data(), text.size());
  (void)ignored;
}

}  // namespace qz
