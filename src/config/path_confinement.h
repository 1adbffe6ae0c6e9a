// Keeps file names taken from settings values inside the program folder, so
// a settings file can't direct a write anywhere else on the system.
// Stateless; looks at the file system at the time of the call.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qz {

// The path of `relative` in `folder` by the settings path rule, or nullopt
// when `relative` is absolute, has a ".." component, holds a NUL, or leads
// out of the folder through a symbolic link. An empty `relative` names the
// folder itself (no settings file can be written there).
std::optional<std::string> ConfinedSettingsPath(std::string_view folder, std::string_view relative);

}  // namespace qz
