#include "diagnostics/log_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace qz {

std::string LogTimestamp(std::time_t when) {
  std::tm local{};
  localtime_r(&when, &local);
  char buf[32];
  size_t n = std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &local);
  return std::string(buf, n);
}

bool AppendLogEntry(const std::filesystem::path& file, std::string_view text) {
  std::string entry = LogTimestamp(std::time(nullptr));
  entry.reserve(entry.size() + text.size() + 3);
  entry.append(" ").append(text).append("\r\n");

  int fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  ssize_t written;
  do {
    written = ::write(fd, entry.data(), entry.size());
  } while (written < 0 && errno == EINTR);
  bool whole = written == static_cast<ssize_t>(entry.size());
  return (::close(fd) == 0) && whole;
}

}  // namespace qz
