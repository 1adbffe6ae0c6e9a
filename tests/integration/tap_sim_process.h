// The terminal simulator as a test peer: started with a script in a scratch
// folder, its line linked there, waited for (bounded), stopped and reaped by
// the destructor. Its record of accepted pages is read back as pairs, its
// record of calls as their wall-clock spans.
// Used from the test's own thread.
#pragma once

#include <chrono>
#include <filesystem>
#include <fstream>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/child_process.h"

namespace qz::testing {

class TapSimulator {
 public:
  // `folder` holds the link, the script, the record and the simulator's log.
  TapSimulator(const std::filesystem::path& folder, const std::string& script)
      : link_(folder / "tap-line"),
        record_(folder / "tap-record.txt"),
        calls_(folder / "tap-calls.txt") {
    const auto script_file = folder / "tap-script.txt";
    std::ofstream(record_, std::ios::trunc).flush();
    std::ofstream(calls_, std::ios::trunc).flush();
    std::ofstream(script_file) << script;
    process_.emplace(std::vector<std::string>{QZ_TAP_SIM_PATH, "--link", link_.string(), "--script",
                                              script_file.string(), "--record", record_.string(),
                                              "--calls", calls_.string()},
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

  // Each call as milliseconds since 1970 from its beginning to its end; a
  // call not yet ended lasts for ever.
  std::vector<std::pair<double, double>> Calls() const {
    std::ifstream in(calls_);
    std::vector<std::pair<double, double>> calls;
    std::string word;
    for (double ms = 0; in >> word >> ms;)
      if (word == "begin")
        calls.emplace_back(ms, std::numeric_limits<double>::infinity());
      else if (!calls.empty())
        calls.back().second = ms;
    return calls;
  }

 private:
  std::filesystem::path link_, record_, calls_;
  std::optional<ChildProcess> process_;
};

}  // namespace qz::testing
