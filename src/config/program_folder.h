// Finds the program folder, where the settings files and the log live: the
// folder named by "--folder DIR", else by the environment variable
// QZNOTES_FOLDER (for tests and demos), else the running executable's own.
// Stateless; reads the environment, so call it at start-up.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace qz {

inline constexpr std::string_view kFolderEnvironmentVariable = "QZNOTES_FOLDER";

// The DIR of "--folder DIR" or "--folder=DIR" in `args` (without the program
// name); the last one given wins. Throws std::invalid_argument when
// "--folder" has no value.
std::optional<std::string> FolderOption(std::span<const std::string_view> args);

// The folder holding the running executable (/proc/self/exe).
std::string ExecutableFolder();

// The program folder as an absolute path, chosen as described above.
std::string ProgramFolder(std::span<const std::string_view> args);

}  // namespace qz
