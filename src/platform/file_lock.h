// An exclusive lock on one file, held for a read-modify-write of it.
// Writers replace the file by rename, so the lock is taken on the file that
// is current once the lock is granted: after waiting, the holder checks that
// the name still names the inode it locked and otherwise locks the new one.
// Safe from any thread and any process: flock locks each open separately.
#pragma once

#include <sys/stat.h>

#include <optional>
#include <string>

#include "platform/unique_fd.h"

namespace qz {

class LockedFile {
 public:
  // Opens `name` in the directory `dir` (creating an empty file when it is
  // missing) and waits for the exclusive lock. The name is never followed
  // as a link. nullopt when the file can't be opened, such as a link or a
  // folder.
  static std::optional<LockedFile> AcquireAt(int dir, const std::string& name);

  int fd() const { return fd_.get(); }
  // The locked file's status at the time the lock was granted.
  const struct stat& status() const { return status_; }

 private:
  LockedFile(UniqueFd fd, const struct stat& status) : fd_(std::move(fd)), status_(status) {}

  UniqueFd fd_;  // closing it releases the lock
  struct stat status_;
};

}  // namespace qz
