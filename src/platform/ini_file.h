// Reads and writes one profile-format settings file.
// Every call goes to the file; nothing is cached. Safe from any thread and
// any process: a write takes an exclusive lock on the file for its whole
// read-modify-write and replaces the file atomically, so readers and other
// writers see the old or the new file, never a torn or half-merged one.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/folder_entry.h"

namespace qz {

class IniFile {
 public:
  // A file by path; a path that is a symbolic link is edited where it points.
  explicit IniFile(std::string path) : path_(std::move(path)) {}
  // A file resolved in a folder (folder_entry.h): read and written exactly
  // there, relative to the entry's directory and never through a link. The
  // entry must outlive the IniFile.
  explicit IniFile(const FolderEntry& entry) : entry_(&entry) {}

  // The value, unquoted and whole; nullopt when the file, the section or the
  // key is missing or the file can't be read.
  std::optional<std::string> Read(std::string_view section, std::string_view key) const;

  // Stores the value, replacing the key's value or adding the key and its
  // section; a missing file is created. False, with nothing written, for a
  // name or value that could not be read back unchanged (see IsStorable*),
  // a read-only file, a path that is no regular file, or any failed I/O.
  bool Write(std::string_view section, std::string_view key, std::string_view value) const;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
  const FolderEntry* entry_ = nullptr;
};

}  // namespace qz
