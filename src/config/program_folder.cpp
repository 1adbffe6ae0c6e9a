#include "config/program_folder.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace qz {
namespace {
constexpr std::string_view kOption = "--folder";
}  // namespace

std::optional<std::string> FolderOption(std::span<const std::string_view> args) {
  std::optional<std::string> folder;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string_view arg = args[i];
    std::string_view value;
    if (arg == kOption) {
      if (i + 1 == args.size()) throw std::invalid_argument("--folder needs a folder");
      value = args[++i];
    } else if (arg.starts_with(kOption) && arg.size() > kOption.size() &&
               arg[kOption.size()] == '=') {
      value = arg.substr(kOption.size() + 1);
    } else {
      continue;
    }
    if (value.empty()) throw std::invalid_argument("--folder needs a folder");
    folder = std::string(value);
  }
  return folder;
}

std::string ExecutableFolder() {
  std::error_code error;
  std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) throw std::filesystem::filesystem_error("cannot find the executable", error);
  return exe.parent_path().string();
}

std::string ProgramFolder(std::span<const std::string_view> args) {
  std::optional<std::string> folder = FolderOption(args);
  if (!folder) {
    const char* env = std::getenv(std::string(kFolderEnvironmentVariable).c_str());
    if (env != nullptr && *env != '\0') folder = env;
  }
  if (!folder) return ExecutableFolder();
  // Absolute, so a later change of the working directory can't move it.
  return std::filesystem::absolute(*folder).string();
}

}  // namespace qz
