#include "platform/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

namespace qz {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

constexpr std::string_view kLockSuffix = ".lock";
// Back-off between tries: short enough that a waiter follows a writer that
// holds the lock for a millisecond, long enough that waiting costs nothing.
constexpr milliseconds kFirstPause{1}, kLongestPause{32};

// Anyone else who could open it could also hold it.
bool IsPrivate(const struct stat& st) {
  return S_ISREG(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 077) == 0;
}

Status Failed(std::string_view lock, std::string_view what, int error) {
  return Status::IoError(std::string(lock) + ": " + std::string(what) + ": " +
                         std::strerror(error));
}

}  // namespace

std::string LockFileName(std::string_view name) {
  return "." + std::string(name) + std::string(kLockSuffix);
}

bool IsLockFileName(std::string_view name) {
  return name.size() > 1 + kLockSuffix.size() && name.front() == '.' && name.ends_with(kLockSuffix);
}

std::optional<FileLock> FileLock::Acquire(int dir, std::string_view name, milliseconds wait,
                                          Status& status) {
  std::string lock = LockFileName(name);
  const steady_clock::time_point give_up = steady_clock::now() + wait;
  milliseconds pause = kFirstPause;
  bool removed_open_one = false;
  for (;;) {
    // O_NONBLOCK: a FIFO put in its place must not stall the open.
    UniqueFd fd(::openat(dir, lock.c_str(),
                         O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
    if (!fd) {
      status = Failed(lock, "cannot open the lock file", errno);
      return std::nullopt;
    }
    struct stat held {};
    if (::fstat(fd.get(), &held) != 0) {
      status = Failed(lock, "cannot examine the lock file", errno);
      return std::nullopt;
    }
    if (!IsPrivate(held)) {
      // Once: a file system that makes no private files must not loop here.
      if (removed_open_one || ::unlinkat(dir, lock.c_str(), 0) != 0) {
        status = Status::IoError(lock + ": the lock file is open to others");
        return std::nullopt;
      }
      removed_open_one = true;
      continue;
    }
    while (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
      if (errno == EINTR) continue;
      if (errno != EWOULDBLOCK) {
        status = Failed(lock, "cannot lock", errno);
        return std::nullopt;
      }
      const steady_clock::time_point now = steady_clock::now();
      if (now >= give_up) {
        status = Status::IoError(lock + ": another writer held the lock for " +
                                 std::to_string(wait.count()) + " ms");
        return std::nullopt;
      }
      std::this_thread::sleep_for(std::min<steady_clock::duration>(pause, give_up - now));
      pause = std::min(pause * 2, kLongestPause);
    }
    struct stat current {};
    if (::fstatat(dir, lock.c_str(), &current, AT_SYMLINK_NOFOLLOW) == 0 &&
        current.st_dev == held.st_dev && current.st_ino == held.st_ino)
      return FileLock(dir, std::move(lock), std::move(fd));
    // The writer before us removed it as it let go; lock its successor.
  }
}

FileLock::~FileLock() {
  // Removed while still held, so no waiter can take a file that is gone.
  if (fd_) ::unlinkat(dir_, name_.c_str(), 0);
}

}  // namespace qz
