#include "config/program_folder.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace qz {
std::string ExecutableFolder() {
  std::error_code error;
  std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) throw std::filesystem::filesystem_error("cannot find the executable", error);
  return exe.parent_path().string();
}

std::string ProgramFolder(std::optional<std::string_view> option) {
  std::optional<std::string> folder(option);
  if (!folder) {
    const char* env = std::getenv(std::string(kFolderEnvironmentVariable).c_str());
    if (env != nullptr && *env != '\0') folder = env;
  }
  if (!folder) return ExecutableFolder();
  // Absolute, so a later change of the working directory can't move it.
  return std::filesystem::absolute(*folder).string();
}

}  // namespace qz
