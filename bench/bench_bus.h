// The private bus of the tests, and a service file that starts qznotesd,
// for benchmarks that need bus activation or many connections.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>

#include "support/private_bus.h"

namespace qz::bench {

using BenchBus = testing::PrivateBus;

// A session .service file in `dir` that starts qznotesd with `args`.
inline void WriteDaemonService(const std::filesystem::path& dir, const std::string& args) {
  std::ofstream(dir / "org.qznotes.QzNotes.service")
      << "[D-BUS Service]\nName=org.qznotes.QzNotes\nExec=" << QZ_DAEMON_PATH << " " << args
      << "\n";
}

}  // namespace qz::bench
