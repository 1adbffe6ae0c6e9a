// Replaces a file's contents so that every reader sees either the old or the
// new contents, never a part: the new text goes to a temporary file beside
// the target, is flushed to disk, and is renamed over the target. Both the
// temporary and the rename are relative to one open directory, so the file
// replaced is the one in that directory whatever happens to paths meanwhile.
// Stateless; callers serialise writers of one file (see FileLock).
#pragma once

#include <sys/stat.h>

#include <string>
#include <string_view>

#include "platform/status.h"

namespace qz {

// Replaces `name` in the directory `dir`, giving the new file the
// permissions (and, where allowed, the owner) in `like`. When any step
// fails it says which; the target is then untouched and no temporary file is
// left behind.
Status ReplaceFileContentsAt(int dir, const std::string& name, std::string_view text,
                             const struct stat& like);

// Removes temporary files that writers of `name` killed mid-write left
// behind. Only while holding the file's lock, which every writer holds from
// before it creates its temporary file until after the rename.
void RemoveStaleTemporariesAt(int dir, const std::string& name);

// True for a name of the form the temporaries take (".<file>.XXXXXX"), which
// the writers create and remove themselves.
bool IsTemporaryName(std::string_view name);

}  // namespace qz
