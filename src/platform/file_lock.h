// An exclusive lock that serialises the writers of one file, across threads
// and processes. It is never taken on the file itself, which other users may
// be able to open and hold locked: it is a lock file beside it, created
// owner-only, so only the writer's own user can hold it. The holder removes
// the lock file when it lets go; a waiter that then wins the removed file
// locks its successor. Every wait has a deadline. Safe from any thread and
// any process: flock locks each open separately.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "platform/status.h"
#include "platform/unique_fd.h"

namespace qz {

// How long a writer waits for another writer of the same file by default.
inline constexpr std::chrono::milliseconds kLockWait{3000};

// ".<name>.lock", the lock file of `name`.
std::string LockFileName(std::string_view name);
// True for a name of that form: no settings write may target one.
bool IsLockFileName(std::string_view name);

class FileLock {
 public:
  // Locks `name` in the directory `dir` (which must outlive the lock),
  // sleeping between tries until `wait` has passed. nullopt, with `status`
  // saying why, when another writer held it past the deadline or the lock
  // file can't be made. A lock file that is no private file of this user is
  // removed and made afresh.
  static std::optional<FileLock> Acquire(int dir, std::string_view name,
                                         std::chrono::milliseconds wait, Status& status);
  FileLock(FileLock&&) = default;
  FileLock& operator=(FileLock&&) = delete;
  ~FileLock();

 private:
  FileLock(int dir, std::string name, UniqueFd fd)
      : dir_(dir), name_(std::move(name)), fd_(std::move(fd)) {}

  int dir_;
  std::string name_;  // the lock file's
  UniqueFd fd_;       // closing it releases the lock
};

}  // namespace qz
