// Keeps settings files inside the program folder, so neither a settings
// value nor a link planted in the folder can direct a write anywhere else,
// nor at a file the server writes itself. The file is resolved once into an
// open directory and a name (platform/folder_entry.h), and the write goes
// through that same entry, so nothing can be swapped in between check and
// write. Stateless; looks at the file system at the time of the call.
#pragma once

#include <optional>
#include <string_view>

#include "platform/folder_entry.h"

namespace qz {

// The settings file `relative` in `folder`, or nullopt when `relative` is
// absolute, has a ".." component, holds a NUL, leads out of the folder
// through a symbolic link, or names a file the server writes itself: the
// log file (also through a link or another hard link to it) or a writer's
// temporary file. An empty `relative` names the folder itself, which no
// settings write accepts.
std::optional<FolderEntry> ConfinedSettingsFile(std::string_view folder, std::string_view relative);

// True when the entry is a regular file (the settings operations' existence
// test for a confined file).
bool ConfinedFileExists(const FolderEntry& entry);

}  // namespace qz
