#include "diagnostics/log_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <system_error>

#include "platform/status.h"
#include "platform/unique_fd.h"

namespace qz {

std::string LogTimestamp(std::time_t when) {
  std::tm local{};
  localtime_r(&when, &local);
  char buf[32];
  size_t n = std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &local);
  return std::string(buf, n);
}

namespace {

// Moves `file` to `file`.1 and each older one a place further, the last
// dropped. The caller holds the writers' lock, so one writer rotates.
void Rotate(const std::filesystem::path& file, int kept_files) {
  std::error_code ignored;
  auto numbered = [&](int n) {
    return std::filesystem::path(file.string() + "." + std::to_string(n));
  };
  if (kept_files <= 0) {
    std::filesystem::remove(file, ignored);
    return;
  }
  std::filesystem::remove(numbered(kept_files), ignored);
  for (int n = kept_files - 1; n >= 1; --n)
    std::filesystem::rename(numbered(n), numbered(n + 1), ignored);
  std::filesystem::rename(file, numbered(1), ignored);
}

LogWrite Dropped(const std::filesystem::path& file, std::string_view what, int error) {
  return {false, file.filename().string() + ": entry dropped: " + std::string(what) + ": " +
                     std::strerror(error)};
}

}  // namespace

LogWrite AppendLogEntry(const std::filesystem::path& file, std::string_view text,
                        const LogBound& bound) {
  std::string entry = LogTimestamp(std::time(nullptr));
  entry.reserve(entry.size() + text.size() + 3);
  entry.append(" ").append(text).append("\r\n");

  const std::filesystem::path parent = file.has_parent_path() ? file.parent_path() : ".";
  UniqueFd dir(::open(parent.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!dir) return Dropped(file, "cannot open its folder", errno);
  // Check and write under the lock, so writers of several processes agree
  // on when the file is full; the one that finds it full moves it aside.
  Status locking;
  std::optional<FileLock> lock =
      FileLock::Acquire(dir.get(), file.filename().string(), bound.lock_wait, locking);
  struct stat st {};
  if (lock && ::stat(file.c_str(), &st) == 0 && st.st_size > 0 &&
      static_cast<uint64_t>(st.st_size) + entry.size() > bound.max_bytes)
    Rotate(file, bound.kept_files);

  UniqueFd fd(::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0640));
  if (!fd) return Dropped(file, "cannot open", errno);
  // A log an earlier version left open to everyone names every user's
  // failures: others lose their bits, as a settings rewrite does.
  struct stat opened {};
  if (::fstat(fd.get(), &opened) == 0 && opened.st_uid == ::geteuid() && (opened.st_mode & 007))
    (void)::fchmod(fd.get(), opened.st_mode & 07770);
  ssize_t written;
  do {
    written = ::write(fd.get(), entry.data(), entry.size());
  } while (written < 0 && errno == EINTR);
  if (written != static_cast<ssize_t>(entry.size()))
    return Dropped(file, "cannot write", written < 0 ? errno : ENOSPC);
  if (::close(fd.Release()) != 0) return Dropped(file, "cannot write", errno);
  // A writer stuck holding the lock costs the size check, not the entry.
  if (!lock) return {true, locking.message() + "; entry written without the size check"};
  return {true, {}};
}

}  // namespace qz
