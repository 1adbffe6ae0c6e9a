// Paths of the files in the program folder: the folder, one "/" unless it
// already ends in one, and the file name; and the existence test the
// settings operations make before they touch a file. Stateless.
#pragma once

#include <string>
#include <string_view>

namespace qz {

std::string SettingsPath(std::string_view folder, std::string_view file);

// True when `path` names a regular file (a link to one counts).
bool SettingsFileExists(std::string_view path);

}  // namespace qz
