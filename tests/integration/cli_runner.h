// Runs the qznotes client as a child process with its standard output and
// error captured to files, and waits for it with a bounded deadline. Several
// runs may be started before any is waited for; a run may be made as another
// Unix user (support/unix_user.h). Use from one thread.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "support/child_process.h"  // Eventually
#include "support/temp_folder.h"
#include "support/unix_user.h"

namespace qz::testing {

struct CliResult {
  static constexpr int kTimedOut = -1000;
  int status = kTimedOut;  // exit status; minus the signal number if killed by one
  std::string out;
  std::string err;
  // For failure messages: everything a reader needs to see what happened.
  std::string Describe() const {
    return "status " + std::to_string(status) + "\n--- stdout\n" + out + "--- stderr\n" + err;
  }
};

class CliProcess {
 public:
  // `user`: run as that user instead of this process's own. `program`:
  // another program than the client (e.g. gdbus), run the same way.
  explicit CliProcess(std::vector<std::string> args,
                      const std::optional<UnixUser>& user = std::nullopt,
                      std::string program = QZ_CLIENT_PATH) {
    args.insert(args.begin(), std::move(program));
    if (user) args = AsUser(*user, std::move(args));
    // The client must never reach the user's own buses: only what a test
    // names with --address is there.
    std::vector<std::string> env = {"DBUS_SESSION_BUS_ADDRESS=unix:path=" + dir_.File("none"),
                                    "DBUS_SYSTEM_BUS_ADDRESS=unix:path=" + dir_.File("none")};
    for (char** e = environ; *e; ++e) {
      const std::string_view entry(*e);
      if (!entry.starts_with("DBUS_SESSION_BUS_ADDRESS=") &&
          !entry.starts_with("DBUS_SYSTEM_BUS_ADDRESS="))
        env.emplace_back(entry);
    }
    const std::string out = dir_.File("stdout"), err = dir_.File("stderr");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int spawned = posix_spawn(&pid_, args[0].c_str(), &actions, nullptr,
                                    Pointers(args).data(), Pointers(env).data());
    posix_spawn_file_actions_destroy(&actions);
    // A constructor that throws runs no destructor: there is no child to stop.
    if (spawned != 0) throw std::runtime_error("cannot start " + args[0]);
  }
  ~CliProcess() { Stop(); }
  CliProcess(const CliProcess&) = delete;
  CliProcess& operator=(const CliProcess&) = delete;

  // What the client has written to standard error so far, while it runs
  // (a long-running command announcing that it is ready).
  std::string ErrSoFar() const { return dir_.Read("stderr"); }

  // Sends `signal` to the client while it runs.
  void Signal(int signal) {
    if (pid_ > 0) kill(pid_, signal);
  }

  // The outcome once the client ended; a client still running at `limit`
  // is killed and reported as kTimedOut, so a hang fails instead of stalling.
  CliResult Wait(std::chrono::milliseconds limit = std::chrono::seconds(60)) {
    CliResult result;
    int status = 0;
    pid_t done = 0;
    if (pid_ > 0) Eventually([&] { return (done = waitpid(pid_, &status, WNOHANG)) != 0; }, limit);
    if (done == pid_) {
      result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
      pid_ = -1;
    }
    Stop();  // still running at `limit`, or not ours to wait for
    result.out = dir_.Read("stdout");
    result.err = dir_.Read("stderr");
    return result;
  }

 private:
  void Stop() {
    if (const pid_t pid = std::exchange(pid_, -1); pid > 0 && kill(pid, SIGKILL) == 0)
      waitpid(pid, nullptr, 0);
  }
  // posix_spawn's argument vector: the strings' own buffers, then null.
  static std::vector<char*> Pointers(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (std::string& t : texts) pointers.push_back(t.data());
    pointers.push_back(nullptr);
    return pointers;
  }

  TempFolder dir_;
  pid_t pid_ = -1;
};

// One run of the client, start to end.
inline CliResult RunCli(std::vector<std::string> args) {
  return CliProcess(std::move(args)).Wait();
}
// Any program (an absolute path) as `user`.
inline CliResult RunAs(const UnixUser& user, std::string program, std::vector<std::string> args) {
  return CliProcess(std::move(args), user, std::move(program)).Wait();
}

// One curl run's answer.
struct Fetched {
  int status = 0;    // the HTTP status; 0 when none came
  std::string head;  // the answer's status line and headers
  std::string body;
};

// One curl run against loopback: `extra` are curl's own arguments before the URL.
inline Fetched Curl(const std::string& url, std::vector<std::string> extra = {},
                    std::chrono::milliseconds limit = std::chrono::seconds(30)) {
  TempFolder scratch;
  std::vector<std::string> args = {
      "-sS", "--noproxy",          "*",  "-D",          scratch.File("head"),
      "-o",  scratch.File("body"), "-w", "%{http_code}"};
  args.insert(args.end(), extra.begin(), extra.end());
  args.push_back(url);
  const CliResult run = CliProcess(args, std::nullopt, "/usr/bin/curl").Wait(limit);
  return {std::atoi(run.out.c_str()), scratch.Read("head"), scratch.Read("body")};
}

// Whether a peer program a test needs is missing: a failure where the CI
// installs it (scripts/setup, run as root), else the caller skips.
inline bool ToolMissing(const std::string& program) {
  if (std::filesystem::exists(program)) return false;
  if (geteuid() == 0) ADD_FAILURE() << program << " is missing (scripts/setup installs it)";
  return true;
}

}  // namespace qz::testing
