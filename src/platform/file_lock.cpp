#include "platform/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>

namespace qz {

std::optional<LockedFile> LockedFile::AcquireAt(int dir, const std::string& name) {
  for (;;) {
    // O_NOFOLLOW also keeps O_CREAT from creating the target of a dangling link.
    UniqueFd fd(::openat(dir, name.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (!fd) return std::nullopt;
    while (::flock(fd.get(), LOCK_EX) != 0) {
      if (errno != EINTR) return std::nullopt;
    }
    struct stat locked {
    }, current{};
    if (::fstat(fd.get(), &locked) != 0) return std::nullopt;
    if (::fstatat(dir, name.c_str(), &current, AT_SYMLINK_NOFOLLOW) != 0) continue;  // removed
    if (locked.st_dev == current.st_dev && locked.st_ino == current.st_ino)
      return LockedFile(std::move(fd), locked);
    // Another writer replaced the file while we waited; lock its successor.
  }
}

}  // namespace qz
