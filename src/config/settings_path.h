// Paths of the files in the program folder: the folder, one "/" unless it
// already ends in one, and the file name.
#pragma once

#include <string>
#include <string_view>

namespace qz {

std::string SettingsPath(std::string_view folder, std::string_view file);

}  // namespace qz
