// Reads and writes one profile-format settings file.
// Every call goes to the file; nothing is cached. Safe from any thread and
// any process: a write holds the writers' lock of the file (file_lock.h)
// for its whole read-modify-write and replaces the file atomically, so
// readers and other writers see the old or the new file, never a torn or
// half-merged one. A rewritten file keeps its mode less any bits for other
// users, since settings may hold a gateway's password; a new one is 0640.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "platform/file_lock.h"
#include "platform/folder_entry.h"
#include "platform/status.h"

namespace qz {

class IniFile {
 public:
  // A file by path; a path that is a symbolic link is edited where it points.
  // `lock_wait` bounds a write's wait for another writer of the file.
  explicit IniFile(std::string path, std::chrono::milliseconds lock_wait = kLockWait)
      : path_(std::move(path)), lock_wait_(lock_wait) {}
  // A file resolved in a folder (folder_entry.h): read and written exactly
  // there, relative to the entry's directory and never through a link. The
  // entry must outlive the IniFile.
  explicit IniFile(const FolderEntry& entry, std::chrono::milliseconds lock_wait = kLockWait)
      : entry_(&entry), lock_wait_(lock_wait) {}

  // The value, unquoted and whole; nullopt when the file, the section or the
  // key is missing or the file can't be read.
  std::optional<std::string> Read(std::string_view section, std::string_view key) const;

  // Stores the value, replacing the key's value or adding the key and its
  // section; a missing file is created. Nothing is written, and the status
  // says why, for a name or value that could not be read back unchanged (see
  // IsStorable*), a read-only file, a path that is no regular file, another
  // writer holding the lock past `lock_wait`, or any failed I/O.
  Status Write(std::string_view section, std::string_view key, std::string_view value) const;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
  const FolderEntry* entry_ = nullptr;
  std::chrono::milliseconds lock_wait_;
};

}  // namespace qz
