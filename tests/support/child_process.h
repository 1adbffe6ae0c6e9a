// A program started by a test as a peer (a gateway, a simulator, a daemon):
// its standard output and error go to one file, and the destructor stops it
// (SIGTERM, then SIGKILL after a bounded wait) and reaps it. Also loopback
// ports for its configuration, and bounded waits. Use from one thread.
#pragma once

#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

extern char** environ;

namespace qz::testing {

// True once `done` holds, polled every 20 ms for at most `limit`.
template <typename Done>
bool Eventually(Done done, std::chrono::milliseconds limit) {
  const auto give_up = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > give_up) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

inline sockaddr_in LoopbackAddress(uint16_t port = 0) {
  return {.sin_family = AF_INET,
          .sin_port = htons(port),
          .sin_addr = {htonl(INADDR_LOOPBACK)},
          .sin_zero = {}};
}

// A socket on 127.0.0.1 at a port the kernel picked (`port`), listening
// unless `backlog` is negative; `flags` are added to the socket type
// (SOCK_NONBLOCK). Throws when it cannot.
inline int ListenOnLoopback(int backlog, uint16_t& port, int flags = 0) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | flags, 0);
  sockaddr_in address = LoopbackAddress();
  socklen_t size = sizeof address;
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
      (backlog >= 0 && listen(fd, backlog) != 0) ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    if (fd >= 0) close(fd);
    throw std::runtime_error("cannot bind on 127.0.0.1");
  }
  port = ntohs(address.sin_port);
  return fd;
}

// A port nobody listens on right now, picked by the kernel.
inline uint16_t FreeLoopbackPort() {
  uint16_t port = 0;
  close(ListenOnLoopback(-1, port));
  return port;
}

// True once something accepts TCP connections on 127.0.0.1:`port`.
inline bool Listening(uint16_t port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = LoopbackAddress(port);
  const bool ok =
      fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  if (fd >= 0) close(fd);
  return ok;
}

// Waits (bounded) until `port` accepts connections.
inline bool WaitListening(uint16_t port, std::chrono::milliseconds limit) {
  return Eventually([&] { return Listening(port); }, limit);
}

// How a child's standard streams and start are set up besides its arguments.
struct SpawnSetup {
  std::filesystem::path err = {};  // standard error; empty: with standard output
  char** env = environ;
  std::filesystem::path dir = {};  // where it starts; empty: here
  bool append = false;             // to its output files instead of replacing them
};

// Starts `args` (an absolute program path first) with standard input from
// /dev/null and standard output to `out`; throws when it cannot.
inline pid_t Spawn(std::vector<std::string> args, const std::filesystem::path& out,
                   const SpawnSetup& setup = {}) {
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const int mode = O_WRONLY | O_CREAT | (setup.append ? O_APPEND : O_TRUNC);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!setup.dir.empty()) posix_spawn_file_actions_addchdir_np(&actions, setup.dir.c_str());
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(), mode, 0644);
  if (setup.err.empty())
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  else
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, setup.err.c_str(), mode, 0644);
  pid_t pid = -1;
  const int failed = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), setup.env);
  posix_spawn_file_actions_destroy(&actions);
  if (failed != 0) throw std::runtime_error("cannot start " + args[0]);
  return pid;
}

class ChildProcess {
 public:
  static constexpr int kRunning = -1000;

  ChildProcess(std::vector<std::string> args, std::filesystem::path output,
               const SpawnSetup& setup = {})
      : output_(std::move(output)), pid_(Spawn(std::move(args), output_, setup)) {}
  ~ChildProcess() { Stop(); }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  void Stop() {
    Signal(SIGTERM);
    if (WaitExit(std::chrono::seconds(5)) != kRunning) return;
    Signal(SIGKILL);
    WaitExit(std::chrono::seconds(60));
  }
  void Signal(int signal) {
    if (pid_ > 0) kill(pid_, signal);
  }
  // False once it has ended (it is reaped then).
  bool Running() { return WaitExit(std::chrono::milliseconds(0)) == kRunning; }
  // The exit status (minus the signal that ended it) once it ended within
  // `limit`; kRunning otherwise.
  int WaitExit(std::chrono::milliseconds limit) {
    Eventually(
        [&] {
          int status = 0;
          if (pid_ > 0 && waitpid(pid_, &status, WNOHANG) == pid_) {
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
            pid_ = -1;
          }
          return pid_ <= 0;
        },
        limit);
    return pid_ > 0 ? kRunning : status_;
  }

  std::string Output() const {
    std::ifstream in(output_);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  // Waits (bounded) until the output holds `text`.
  bool WaitForOutput(std::string_view text, std::chrono::milliseconds limit) const {
    return Eventually([&] { return Output().find(text) != std::string::npos; }, limit);
  }

 private:
  std::filesystem::path output_;
  pid_t pid_ = -1;
  int status_ = kRunning;
};

// The port a peer wrote (whole, by a rename) to `file` once it listens; 0
// when it ended or `limit` passed first.
inline int WaitForPortFile(const std::filesystem::path& file, ChildProcess& peer,
                           std::chrono::milliseconds limit) {
  int port = 0;
  Eventually([&] { return std::ifstream(file) >> port || !peer.Running(); }, limit);
  return port;
}

}  // namespace qz::testing
