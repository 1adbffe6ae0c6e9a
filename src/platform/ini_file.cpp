#include "platform/ini_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>

#include "platform/atomic_replace.h"
#include "platform/file_io.h"
#include "platform/file_lock.h"
#include "platform/holders.h"
#include "platform/ini_document.h"
#include "platform/ini_lookup.h"
#include "platform/ini_syntax.h"

namespace qz {
namespace {

// A settings file that is a symbolic link is edited where it points, so the
// link survives the rename.
std::string WriteTarget(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
  MallocCharPtr real(::realpath(path.c_str(), nullptr));
  return real ? std::string(real.get()) : path;
}

// The directory and name a path's writes go to. A path ending in "/" (or
// naming "." or "..") has no file name and gets none, so the write fails.
std::optional<FolderEntry> EntryOfPath(const std::string& path) {
  const std::filesystem::path target(WriteTarget(path));
  const std::string name = target.filename().string();
  if (name.empty() || name == "." || name == "..") return std::nullopt;
  const std::string dir = target.parent_path().empty() ? "." : target.parent_path().string();
  UniqueFd fd(::open(dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!fd) return std::nullopt;
  return FolderEntry{std::move(fd), name};
}

// The file's own write permission counts even for root, as a read-only
// attribute does on other platforms.
bool IsWritable(const FolderEntry& entry, const struct stat& st) {
  return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0 &&
         ::faccessat(entry.dir.get(), entry.name.c_str(), W_OK, AT_SYMLINK_NOFOLLOW) == 0;
}

Status Refused(const FolderEntry& entry, std::string_view why) {
  return Status::InvalidArgument(entry.name + ": " + std::string(why));
}

Status WriteEntry(const FolderEntry& entry, std::string_view section, std::string_view key,
                  std::string_view value, std::chrono::milliseconds lock_wait) {
  if (entry.name.empty()) return Status::InvalidArgument("a folder is no settings file");
  Status status;
  std::optional<FileLock> lock = FileLock::Acquire(entry.dir.get(), entry.name, lock_wait, status);
  if (!lock) return status;
  struct stat st {};
  std::string text;
  UniqueFd fd(::openat(entry.dir.get(), entry.name.c_str(),
                       O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (fd) {
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
      return Refused(entry, "not a regular file");
    if (!IsWritable(entry, st)) return Refused(entry, "the file is read-only");
    std::optional<std::string> read = ReadAll(fd.get());
    if (!read) return Status::IoError(entry.name + ": cannot be read");
    text = std::move(*read);
  } else if (errno == ENOENT) {
    st.st_mode = S_IFREG | 0640;
    st.st_uid = ::geteuid();
    st.st_gid = ::getegid();
  } else {
    return Status::IoError(entry.name + ": cannot be opened: " + std::strerror(errno));
  }
  st.st_mode &= ~S_IRWXO;  // settings may hold a gateway's password
  RemoveStaleTemporariesAt(entry.dir.get(), entry.name);
  ini::IniDocument document(text);
  document.Set(section, key, value);
  return ReplaceFileContentsAt(entry.dir.get(), entry.name, document.Text(), st);
}

std::optional<std::string> ReadEntry(const FolderEntry& entry) {
  if (entry.name.empty()) return std::nullopt;
  UniqueFd fd(::openat(entry.dir.get(), entry.name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd) return std::nullopt;
  return ReadAll(fd.get());
}

}  // namespace

std::optional<std::string> IniFile::Read(std::string_view section, std::string_view key) const {
  std::optional<std::string> text = entry_ ? ReadEntry(*entry_) : ReadFileText(path_.c_str());
  if (!text) return std::nullopt;
  std::optional<std::string_view> value = ini::FindValue(*text, section, key);
  if (!value) return std::nullopt;
  return std::string(*value);
}

Status IniFile::Write(std::string_view section, std::string_view key,
                      std::string_view value) const {
  if (!ini::IsStorableSection(section) || !ini::IsStorableKey(key) || !ini::IsStorableValue(value))
    return Status::InvalidArgument("a name or value the file cannot hold");
  if (entry_) return WriteEntry(*entry_, section, key, value, lock_wait_);
  std::optional<FolderEntry> entry = EntryOfPath(path_);
  if (!entry) return Status::NotFound(path_ + ": no file can be written there");
  return WriteEntry(*entry, section, key, value, lock_wait_);
}

}  // namespace qz
