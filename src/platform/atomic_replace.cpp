#include "platform/atomic_replace.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <utility>

#include "platform/file_io.h"
#include "platform/unique_fd.h"

namespace qz {
namespace {

// Removes the temporary file unless it was renamed into place.
class TemporaryFile {
 public:
  explicit TemporaryFile(std::string name_template) : name_(std::move(name_template)) {
    fd_ = ::mkostemp(name_.data(), O_CLOEXEC);
    if (fd_ < 0) name_.clear();
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile() {
    Close();
    if (!name_.empty()) ::unlink(name_.c_str());
  }

  bool ok() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  // A close can report a write error that the writes themselves did not.
  bool Close() { return fd_ < 0 || ::close(std::exchange(fd_, -1)) == 0; }
  bool RenameTo(const std::string& path) {
    if (::rename(name_.c_str(), path.c_str()) != 0) return false;
    name_.clear();
    return true;
  }

 private:
  std::string name_;
  int fd_ = -1;
};

struct TargetParts {
  std::string dir;
  std::string temp_prefix;  // the temporary's name without its 6 random characters
};

// Hidden and beside the target, so the rename stays on one file system.
TargetParts PartsOf(const std::string& path) {
  std::filesystem::path target(path);
  std::string dir = target.parent_path().empty() ? "." : target.parent_path().string();
  return {dir, "." + target.filename().string() + "."};
}

constexpr size_t kRandomChars = 6;  // mkostemp's XXXXXX

void SyncDirectory(const std::string& dir) {
  UniqueFd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  // The rename is in place either way; a failed directory flush only weakens
  // durability across a power loss, so it does not fail the write.
  if (fd) (void)::fsync(fd.get());
}

}  // namespace

bool ReplaceFileContents(const std::string& path, std::string_view text, const struct stat& like) {
  const TargetParts parts = PartsOf(path);
  TemporaryFile temp(parts.dir + "/" + parts.temp_prefix + std::string(kRandomChars, 'X'));
  if (!temp.ok()) return false;
  if (::fchmod(temp.fd(), like.st_mode & 07777) != 0) return false;
  // Keeping another owner needs privileges; without them the file passes to
  // the writer with the same permissions, which is what an editor does too.
  (void)::fchown(temp.fd(), like.st_uid, like.st_gid);
  if (!WriteAll(temp.fd(), text) || ::fsync(temp.fd()) != 0 || !temp.Close()) return false;
  if (!temp.RenameTo(path)) return false;
  SyncDirectory(parts.dir);
  return true;
}

void RemoveStaleTemporaries(const std::string& path) {
  const TargetParts parts = PartsOf(path);
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(parts.dir, error)) {
    std::string name = entry.path().filename().string();
    if (name.size() == parts.temp_prefix.size() + kRandomChars &&
        name.starts_with(parts.temp_prefix) && entry.is_regular_file(error))
      std::filesystem::remove(entry.path(), error);
  }
}

}  // namespace qz
