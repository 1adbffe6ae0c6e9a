#include "platform/folder_entry.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <deque>
#include <memory>
#include <vector>

#include "platform/holders.h"

namespace qz {
namespace {

constexpr int kMaxLinks = 40;  // as the kernel's own limit

std::deque<std::string> Components(std::string_view text) {
  std::deque<std::string> parts;
  while (!text.empty()) {
    const size_t slash = std::min(text.find('/'), text.size());
    std::string_view part = text.substr(0, slash);
    if (!part.empty() && part != ".") parts.emplace_back(part);
    text.remove_prefix(std::min(slash + 1, text.size()));
  }
  return parts;
}

UniqueFd OpenDirectoryAt(int dir, const char* name) {
  return UniqueFd(::openat(dir, name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

std::optional<std::string> ReadLinkAt(int dir, const std::string& name) {
  std::string target(PATH_MAX, '\0');
  const ssize_t length = ::readlinkat(dir, name.c_str(), target.data(), target.size());
  if (length < 0 || static_cast<size_t>(length) >= target.size()) return std::nullopt;
  target.resize(static_cast<size_t>(length));
  return target;
}

std::optional<std::string> RealPath(const std::string& folder) {
  MallocCharPtr real(::realpath(folder.c_str(), nullptr));
  if (!real) return std::nullopt;
  return std::string(real.get());
}

}  // namespace

std::optional<FolderEntry> ResolveInFolder(const std::string& folder, std::string_view relative) {
  if (relative.starts_with('/')) return std::nullopt;
  std::optional<std::string> real_folder = RealPath(folder);
  UniqueFd root(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!real_folder || !root) return std::nullopt;

  // The directories walked so far: ".." in a link's target steps back one,
  // never past the folder itself.
  std::vector<UniqueFd> walked;
  walked.push_back(UniqueFd(::fcntl(root.get(), F_DUPFD_CLOEXEC, 0)));
  if (!walked.back()) return std::nullopt;
  std::deque<std::string> pending = Components(relative);
  int links = 0;
  while (!pending.empty()) {
    const std::string part = std::move(pending.front());
    pending.pop_front();
    if (part == "..") {
      if (walked.size() == 1) return std::nullopt;
      walked.pop_back();
      continue;
    }
    const int dir = walked.back().get();
    struct stat st {};
    if (::fstatat(dir, part.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno == ENOENT && pending.empty()) return FolderEntry{std::move(walked.back()), part};
      return std::nullopt;
    }
    if (S_ISLNK(st.st_mode)) {
      if (++links > kMaxLinks) return std::nullopt;
      std::optional<std::string> target = ReadLinkAt(dir, part);
      if (!target || target->empty()) return std::nullopt;
      std::string_view rest(*target);
      if (rest.starts_with('/')) {
        // Absolute targets count only under the folder's real path.
        if (!rest.starts_with(*real_folder + "/") && rest != *real_folder) return std::nullopt;
        rest.remove_prefix(real_folder->size());
        walked.resize(1);
      }
      std::deque<std::string> spliced = Components(rest);
      pending.insert(pending.begin(), spliced.begin(), spliced.end());
      continue;
    }
    if (pending.empty()) return FolderEntry{std::move(walked.back()), part};
    if (!S_ISDIR(st.st_mode)) return std::nullopt;
    UniqueFd next = OpenDirectoryAt(dir, part.c_str());
    if (!next) return std::nullopt;  // replaced by a link or removed meanwhile
    walked.push_back(std::move(next));
  }
  return FolderEntry{std::move(walked.back()), ""};
}

std::optional<struct stat> EntryStatus(const FolderEntry& entry) {
  struct stat st {};
  const char* name = entry.name.empty() ? "" : entry.name.c_str();
  const int flags = entry.name.empty() ? AT_EMPTY_PATH : AT_SYMLINK_NOFOLLOW;
  if (::fstatat(entry.dir.get(), name, &st, flags) != 0) return std::nullopt;
  return st;
}

}  // namespace qz
