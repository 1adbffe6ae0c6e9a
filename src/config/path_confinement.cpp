#include "config/path_confinement.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "automation/names.h"
#include "diagnostics/log_file.h"
#include "platform/atomic_replace.h"
#include "platform/file_lock.h"

namespace qz {
namespace {

namespace fs = std::filesystem;

bool HasParentComponent(const fs::path& path) {
  return std::any_of(path.begin(), path.end(), [](const fs::path& part) { return part == ".."; });
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The log is refused by name (it may not exist yet) and by identity (a hard
// link to it under another name); temporaries and lock files by their form,
// wherever.
bool IsServerFile(const std::string& folder, const FolderEntry& entry) {
  if (IsTemporaryName(entry.name) || IsLockFileName(entry.name)) return true;
  struct stat dir {
  }, root{}, log{};
  const bool in_root = ::fstat(entry.dir.get(), &dir) == 0 && ::stat(folder.c_str(), &root) == 0 &&
                       SameFile(dir, root);
  if (in_root && AsciiCaseEqual(entry.name, kLogFileName)) return true;
  std::optional<struct stat> target = EntryStatus(entry);
  const std::string log_path = (fs::path(folder) / kLogFileName).string();
  return target && ::lstat(log_path.c_str(), &log) == 0 && SameFile(*target, log);
}

}  // namespace

std::optional<FolderEntry> ConfinedSettingsFile(std::string_view folder,
                                                std::string_view relative) {
  if (relative.find('\0') != relative.npos || folder.find('\0') != folder.npos) return std::nullopt;
  const fs::path rel(relative);
  if (rel.is_absolute() || HasParentComponent(rel)) return std::nullopt;
  const std::string root(folder);
  std::optional<FolderEntry> entry = ResolveInFolder(root, relative);
  if (!entry || IsServerFile(root, *entry)) return std::nullopt;
  return entry;
}

bool ConfinedFileExists(const FolderEntry& entry) {
  if (entry.name.empty()) return false;
  std::optional<struct stat> st = EntryStatus(entry);
  return st && S_ISREG(st->st_mode);
}

}  // namespace qz
