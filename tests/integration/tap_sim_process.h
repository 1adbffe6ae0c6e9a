// The terminal simulator as a test peer: started with a script in a scratch
// folder, its line linked there, waited for (bounded), stopped and reaped by
// the destructor. Its record of accepted pages is read back as pairs.
// Used from the test's own thread.
#pragma once

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/child_process.h"

namespace qz::testing {

class TapSimulator {
 public:
  // `folder` holds the link, the script, the record and the simulator's log.
  TapSimulator(const std::filesystem::path& folder, const std::string& script)
      : link_(folder / "tap-line"), record_(folder / "tap-record.txt") {
    const auto script_file = folder / "tap-script.txt";
    std::ofstream(record_, std::ios::trunc).flush();
    std::ofstream(script_file) << script;
    process_.emplace(std::vector<std::string>{QZ_TAP_SIM_PATH, "--link", link_.string(), "--script",
                                              script_file.string(), "--record", record_.string()},
                     folder / "tap-sim.log");
    for (int i = 0; i < 500 && !std::filesystem::is_symlink(link_) && process_->Running(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (!std::filesystem::is_symlink(link_))
      throw std::runtime_error("qznotes-tap-sim made no link: " + process_->Output());
  }

  const std::filesystem::path& link() const { return link_; }

  // Accepted pages so far, as "<identifier> <text>" (escaped as the record
  // has it) joined by "; ".
  std::string Pages() const {
    std::ifstream in(record_);
    std::string pages;
    for (std::string line; std::getline(in, line);)
      pages += (pages.empty() ? "" : "; ") + line.replace(line.find('\t'), 1, " ");
    return pages;
  }

 private:
  std::filesystem::path link_, record_;
  std::optional<ChildProcess> process_;
};

}  // namespace qz::testing
