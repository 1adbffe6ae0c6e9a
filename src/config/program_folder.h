// Finds the program folder, where the settings files and the log live: the
// folder the command line named, else the one named by the environment variable
// QZNOTES_FOLDER (for tests and demos), else the running executable's own.
// Stateless; reads the environment, so call it at start-up.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qz {

inline constexpr std::string_view kFolderEnvironmentVariable = "QZNOTES_FOLDER";

// The folder holding the running executable (/proc/self/exe).
std::string ExecutableFolder();

// The program folder as an absolute path, chosen as described above.
std::string ProgramFolder(std::optional<std::string_view> option);

}  // namespace qz
