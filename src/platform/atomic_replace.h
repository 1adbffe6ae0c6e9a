// Replaces a file's contents so that every reader sees either the old or the
// new contents, never a part: the new text goes to a temporary file beside
// the target, is flushed to disk, and is renamed over the target.
// Stateless; callers serialise writers of one file (see LockedFile).
#pragma once

#include <sys/stat.h>

#include <string>
#include <string_view>

namespace qz {

// Gives the new file the permissions (and, where allowed, the owner) in
// `like`. False when any step fails; the target is then untouched and no
// temporary file is left behind.
bool ReplaceFileContents(const std::string& path, std::string_view text, const struct stat& like);

// Removes temporary files that writers of `path` killed mid-write left
// behind. Only while holding the file's lock, which every writer holds from
// before it creates its temporary file until after the rename.
void RemoveStaleTemporaries(const std::string& path);

}  // namespace qz
