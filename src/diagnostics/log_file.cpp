#include "diagnostics/log_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

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
// dropped. The caller holds the lock on `file`, so one writer rotates.
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

int OpenForAppend(const std::filesystem::path& file) {
  return ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
}

// True when `fd` is still the file at `file` (no other writer moved it).
bool StillThere(int fd, const std::filesystem::path& file) {
  struct stat open_file {
  }, named{};
  return ::fstat(fd, &open_file) == 0 && ::stat(file.c_str(), &named) == 0 &&
         open_file.st_ino == named.st_ino && open_file.st_dev == named.st_dev;
}

}  // namespace

bool AppendLogEntry(const std::filesystem::path& file, std::string_view text,
                    const LogBound& bound) {
  std::string entry = LogTimestamp(std::time(nullptr));
  entry.reserve(entry.size() + text.size() + 3);
  entry.append(" ").append(text).append("\r\n");

  // Check and write under the file's lock, so writers of several processes
  // agree on when it is full; the one that finds it full moves it aside and
  // everybody writes to the new file.
  UniqueFd fd;
  for (int tries = 0; tries < 8; ++tries) {
    fd = UniqueFd(OpenForAppend(file));
    if (!fd) return false;
    if (::flock(fd.get(), LOCK_EX) != 0) break;  // unlockable: write unbounded rather than lose it
    if (!StillThere(fd.get(), file)) continue;   // another writer rotated it meanwhile
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || st.st_size == 0 ||
        static_cast<uint64_t>(st.st_size) + entry.size() <= bound.max_bytes)
      break;
    Rotate(file, bound.kept_files);
  }
  if (!StillThere(fd.get(), file)) fd = UniqueFd(OpenForAppend(file));  // crowded out: write anyway
  if (!fd) return false;
  ssize_t written;
  do {
    written = ::write(fd.get(), entry.data(), entry.size());
  } while (written < 0 && errno == EINTR);
  bool whole = written == static_cast<ssize_t>(entry.size());
  return (::close(fd.Release()) == 0) && whole;  // closing lets go of the lock
}

}  // namespace qz
