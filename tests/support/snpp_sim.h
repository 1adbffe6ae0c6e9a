// qznotes-snpp-sim (or any loopback SNPP server program) run by a test: it
// listens on a free loopback port, behaves as the script says, and is
// stopped when the holder goes. Its record is read back as events. Used from
// the test's own thread.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/temp_folder.h"

extern char** environ;

namespace qz::testing {

// One line of the simulator's record.
struct SimEvent {
  int connection = 0;
  double ms = 0;     // since the connection was accepted
  std::string kind;  // open, recv, recv-lf, partial, sent, reset, close
  std::string text;  // escaped as the simulator writes it
};

class SnppSim {
 public:
  explicit SnppSim(const std::string& script = "", const std::string& listen = "127.0.0.1") {
    std::vector<std::string> args = {QZ_SNPP_SIM_PATH,
                                     "--port",
                                     "0",
                                     "--listen",
                                     listen,
                                     "--record",
                                     folder_.File("record"),
                                     "--port-file",
                                     folder_.File("port"),
                                     "--exit-after",
                                     "600"};
    if (!script.empty()) {
      args.push_back("--script");
      args.push_back(folder_.Write("script", script));
    }
    Start(args);
    // The port file appears (renamed whole) once the simulator listens.
    for (int i = 0; i < 1000 && port_ == 0; ++i) {
      std::ifstream in(folder_.File("port"));
      if (!(in >> port_)) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (port_ == 0) throw std::runtime_error("the SNPP simulator did not start");
  }
  ~SnppSim() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  SnppSim(const SnppSim&) = delete;
  SnppSim& operator=(const SnppSim&) = delete;

  int port() const { return port_; }
  std::string PortText() const { return std::to_string(port_); }

  std::vector<SimEvent> Events() const {
    std::vector<SimEvent> events;
    std::istringstream lines(folder_.Read("record"));
    std::string line;
    while (std::getline(lines, line)) {
      SimEvent e;
      std::istringstream fields(line);
      std::string ms;
      std::getline(fields, ms, '\t');
      e.connection = std::stoi(ms);
      std::getline(fields, ms, '\t');
      e.ms = std::stod(ms);
      std::getline(fields, e.kind, '\t');
      std::getline(fields, e.text);
      events.push_back(e);
    }
    return events;
  }

  // The lines received, in order, as "<connection> <text>".
  std::vector<std::string> Received() const {
    std::vector<std::string> lines;
    for (const auto& e : Events())
      if (e.kind == "recv" || e.kind == "recv-lf" || e.kind == "partial")
        lines.push_back(std::to_string(e.connection) +
                        (e.kind == "recv" ? " " : " (" + e.kind + ") ") + e.text);
    return lines;
  }

  // Waits (bounded) until the record holds `count` events of `kind`.
  bool WaitFor(const std::string& kind, size_t count, std::chrono::milliseconds limit) const {
    auto give_up = std::chrono::steady_clock::now() + limit;
    for (;;) {
      size_t seen = 0;
      for (const auto& e : Events()) seen += e.kind == kind;
      if (seen >= count) return true;
      if (std::chrono::steady_clock::now() > give_up) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }

 private:
  void Start(std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    if (pid_ < 0) throw std::runtime_error("cannot start the SNPP simulator");
  }

  TempFolder folder_;
  pid_t pid_ = -1;
  int port_ = 0;
};

}  // namespace qz::testing
