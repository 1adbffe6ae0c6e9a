#include "platform/atomic_replace.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <memory>
#include <utility>

#include "platform/file_io.h"
#include "platform/holders.h"
#include "platform/unique_fd.h"

namespace qz {
namespace {

constexpr size_t kRandomChars = 6;
constexpr std::string_view kRandomAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

// Hidden and beside the target, so the rename stays on one file system.
std::string TemporaryPrefix(const std::string& name) { return "." + name + "."; }

// Removes the temporary file unless it was renamed into place.
class TemporaryFile {
 public:
  TemporaryFile(int dir, const std::string& target) : dir_(dir) {
    for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
      name_ = TemporaryPrefix(target);
      for (size_t i = 0; i < kRandomChars; ++i)
        name_ += kRandomAlphabet[::arc4random_uniform(kRandomAlphabet.size())];
      fd_ =
          ::openat(dir_, name_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
      if (fd_ < 0 && errno != EEXIST) break;
    }
    if (fd_ < 0) name_.clear();
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile() {
    Close();
    if (!name_.empty()) ::unlinkat(dir_, name_.c_str(), 0);
  }

  bool ok() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  // A close can report a write error that the writes themselves did not.
  bool Close() { return fd_ < 0 || ::close(std::exchange(fd_, -1)) == 0; }
  bool RenameTo(const std::string& target) {
    if (::renameat(dir_, name_.c_str(), dir_, target.c_str()) != 0) return false;
    name_.clear();
    return true;
  }

 private:
  int dir_;
  std::string name_;
  int fd_ = -1;
};

// `dir` may be an O_PATH descriptor, which can't be flushed or listed.
UniqueFd ReadableDirectory(int dir) {
  return UniqueFd(::openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

}  // namespace

Status ReplaceFileContentsAt(int dir, const std::string& name, std::string_view text,
                             const struct stat& like) {
  auto failed = [&](std::string_view what) {
    const int error = errno;
    return Status::IoError(name + ": " + std::string(what) + ": " + std::strerror(error));
  };
  TemporaryFile temp(dir, name);
  if (!temp.ok()) return failed("cannot create a temporary file beside it");
  if (::fchmod(temp.fd(), like.st_mode & 07777) != 0) return failed("cannot set its mode");
  // Keeping another owner needs privileges; without them the file passes to
  // the writer with the same permissions, which is what an editor does too.
  (void)::fchown(temp.fd(), like.st_uid, like.st_gid);
  if (!WriteAll(temp.fd(), text) || ::fsync(temp.fd()) != 0 || !temp.Close())
    return failed("cannot write");
  if (!temp.RenameTo(name)) return failed("cannot rename the new file into place");
  // The rename is in place either way; a failed directory flush only weakens
  // durability across a power loss, so it does not fail the write.
  if (UniqueFd flush = ReadableDirectory(dir)) (void)::fsync(flush.get());
  return {};
}

void RemoveStaleTemporariesAt(int dir, const std::string& name) {
  UniqueFd listing = ReadableDirectory(dir);
  if (!listing) return;
  DirPtr entries(::fdopendir(listing.get()));
  if (!entries) return;
  (void)listing.Release();  // the DIR owns it now
  const std::string prefix = TemporaryPrefix(name);
  while (const dirent* entry = ::readdir(entries.get())) {
    const std::string_view found = entry->d_name;
    struct stat st {};
    if (found.size() == prefix.size() + kRandomChars && found.starts_with(prefix) &&
        ::fstatat(dir, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
      ::unlinkat(dir, entry->d_name, 0);
  }
}

bool IsTemporaryName(std::string_view name) {
  return name.size() >= 1 + 1 + 1 + kRandomChars && name.front() == '.' &&
         name[name.size() - kRandomChars - 1] == '.';
}

}  // namespace qz
