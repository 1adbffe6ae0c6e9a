// The terminal simulator as a test peer: started with a script in a scratch
// folder, its line linked there, waited for (bounded), stopped and reaped by
// the destructor. Its record of accepted pages is read back as pairs.
// Used from the test's own thread.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

extern char** environ;

namespace qz::testing {

class TapSimulator {
 public:
  // `script` is the text of the simulator's script; `folder` holds the
  // link, the script, the record and the simulator's own log.
  TapSimulator(const std::filesystem::path& folder, const std::string& script,
               std::vector<std::string> extra = {})
      : link_(folder / "tap-line"),
        record_(folder / "tap-record.txt"),
        log_(folder / "tap-sim.log") {
    const auto script_file = folder / "tap-script.txt";
    std::ofstream(record_, std::ios::trunc).flush();
    std::ofstream(script_file) << script;
    std::vector<std::string> args = {QZ_TAP_SIM_PATH,      "--link",   link_.string(),  "--script",
                                     script_file.string(), "--record", record_.string()};
    args.insert(args.end(), extra.begin(), extra.end());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, log_.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    if (posix_spawn(&pid_, QZ_TAP_SIM_PATH, &actions, nullptr, argv.data(), environ) != 0)
      pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    if (pid_ < 0) throw std::runtime_error("cannot start qznotes-tap-sim");
    // The link appears once the line is open; the wait is bounded.
    for (int i = 0; i < 500 && !std::filesystem::is_symlink(link_); ++i) {
      if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
        pid_ = -1;
        throw std::runtime_error("qznotes-tap-sim ended at start: " + Log());
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (!std::filesystem::is_symlink(link_))
      throw std::runtime_error("qznotes-tap-sim made no link");
  }
  ~TapSimulator() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    int status = 0;
    for (int i = 0; i < 250 && waitpid(pid_, &status, WNOHANG) == 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (waitpid(pid_, &status, WNOHANG) == 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
    }
  }
  TapSimulator(const TapSimulator&) = delete;
  TapSimulator& operator=(const TapSimulator&) = delete;

  const std::filesystem::path& link() const { return link_; }

  // Accepted pages so far: identifier and text (as the record escapes it).
  std::vector<std::pair<std::string, std::string>> Pages() const {
    std::vector<std::pair<std::string, std::string>> pages;
    std::ifstream in(record_);
    for (std::string line; std::getline(in, line);) {
      const size_t tab = line.find('\t');
      pages.emplace_back(line.substr(0, tab), tab == std::string::npos ? "" : line.substr(tab + 1));
    }
    return pages;
  }

  std::string Log() const {
    std::ifstream in(log_);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

 private:
  std::filesystem::path link_, record_, log_;
  pid_t pid_ = -1;
};

}  // namespace qz::testing
