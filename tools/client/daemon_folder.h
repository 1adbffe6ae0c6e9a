// Where the daemon the client would talk to keeps its program folder: the
// process that owns the server's name on the chosen bus, read from /proc
// (its --folder, else its QZNOTES_FOLDER, else its executable's folder).
// Main thread only; blocks for the bus at most a few seconds.
#pragma once

#include <optional>
#include <span>
#include <string>

#include "client/commands.h"

namespace qz::client {

// nullopt when no bus answers, nobody owns the name or its process can't be read.
std::optional<std::string> RunningDaemonFolder(const GlobalOptions& global);

// The folder a daemon started as `argv` with `environment` ("NAME=value"
// entries) uses, relative names taken from `cwd`; nullopt when neither names one.
std::optional<std::string> FolderOfDaemon(std::span<const std::string> argv,
                                          std::span<const std::string> environment,
                                          const std::string& cwd);

}  // namespace qz::client
