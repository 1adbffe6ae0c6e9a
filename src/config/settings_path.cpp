#include "config/settings_path.h"

#include <sys/stat.h>

namespace qz {

std::string SettingsPath(std::string_view folder, std::string_view file) {
  std::string path(folder);
  if (path.empty() || path.back() != '/') path += '/';
  path.append(file);
  return path;
}

bool SettingsFileExists(std::string_view path) {
  struct stat st {};
  return ::stat(std::string(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace qz
