#include "platform/ini_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <memory>

#include "platform/atomic_replace.h"
#include "platform/file_io.h"
#include "platform/file_lock.h"
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
  std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
  return real ? std::string(real.get()) : path;
}

// The file's own write permission counts even for root, as a read-only
// attribute does on other platforms.
bool IsWritable(const std::string& path, const struct stat& st) {
  return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0 && ::access(path.c_str(), W_OK) == 0;
}

}  // namespace

std::optional<std::string> IniFile::Read(std::string_view section, std::string_view key) const {
  std::optional<std::string> text = ReadFileText(path_.c_str());
  if (!text) return std::nullopt;
  std::optional<std::string_view> value = ini::FindValue(*text, section, key);
  if (!value) return std::nullopt;
  return std::string(*value);
}

bool IniFile::Write(std::string_view section, std::string_view key, std::string_view value) const {
  if (!ini::IsStorableSection(section) || !ini::IsStorableKey(key) || !ini::IsStorableValue(value))
    return false;
  const std::string target = WriteTarget(path_);
  std::optional<LockedFile> locked = LockedFile::Acquire(target);
  if (!locked) return false;
  if (!S_ISREG(locked->status().st_mode) || !IsWritable(target, locked->status())) return false;
  std::optional<std::string> text = ReadAll(locked->fd());
  if (!text) return false;
  RemoveStaleTemporaries(target);
  ini::IniDocument document(*text);
  document.Set(section, key, value);
  return ReplaceFileContents(target, document.Text(), locked->status());
}

}  // namespace qz
