#include "config/settings_path.h"

namespace qz {

std::string SettingsPath(std::string_view folder, std::string_view file) {
  std::string path(folder);
  if (path.empty() || path.back() != '/') path += '/';
  path.append(file);
  return path;
}

}  // namespace qz
