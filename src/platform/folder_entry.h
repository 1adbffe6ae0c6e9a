// A file named relative to a folder, resolved so that no step of the name
// can lead out of the folder, and held as an open directory plus a final
// name: every later open, lock and rename of the file happens relative to
// that directory, so what was checked is what gets written. Links inside
// the folder are followed hop by hop by this code itself (never by the
// kernel), each hop opened with O_NOFOLLOW relative to the directory held.
// A FolderEntry is owned by one thread at a time.
#pragma once

#include <sys/stat.h>

#include <optional>
#include <string>
#include <string_view>

#include "platform/unique_fd.h"

namespace qz {

struct FolderEntry {
  UniqueFd dir;      // O_PATH descriptor of the directory holding the file
  std::string name;  // one component, never "." or ".."; empty: `dir` itself
};

// Resolves `relative` (no leading "/", no ".." components) beneath `folder`.
// Symbolic links are followed while every hop stays inside the folder (a
// relative target, or an absolute one under the folder's real path); a hop
// outside, a link loop, or a missing or non-directory component before the
// last answers nullopt. The last component may be missing: the entry then
// names a file that does not exist yet.
std::optional<FolderEntry> ResolveInFolder(const std::string& folder, std::string_view relative);

// The status of the entry itself (links are not followed); nullopt when it
// does not exist or can't be examined.
std::optional<struct stat> EntryStatus(const FolderEntry& entry);

}  // namespace qz
