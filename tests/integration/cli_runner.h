// Runs the qznotes client as a child process with its standard output and
// error captured to files, and waits for it with a bounded deadline. Several
// runs may be started before any is waited for; a run may be made as another
// Unix user (support/unix_user.h). Use from one thread.
#pragma once

#include <glib.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "support/child_process.h"
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
                      std::string program = QZ_CLIENT_PATH)
      : process_(Command(std::move(args), user, std::move(program), dir_.File("none")),
                 dir_ / "stdout", {.err = dir_ / "stderr"}) {}

  // What the client has written to standard error so far, while it runs
  // (a long-running command announcing that it is ready).
  std::string ErrSoFar() const { return dir_.Read("stderr"); }

  // Sends `signal` to the client while it runs.
  void Signal(int signal) { process_.Signal(signal); }

  // The outcome once the client ended; a client still running at `limit`
  // is killed and reported as kTimedOut, so a hang fails instead of stalling.
  CliResult Wait(std::chrono::milliseconds limit = std::chrono::seconds(60)) {
    const int status = process_.WaitExit(limit);
    process_.Signal(SIGKILL);  // still running at `limit`
    process_.WaitExit(limit);
    return {status, dir_.Read("stdout"), dir_.Read("stderr")};
  }

 private:
  // The client must never reach the user's own buses: only what a test
  // names with --address is there.
  static std::vector<std::string> Command(std::vector<std::string> args,
                                          const std::optional<UnixUser>& user, std::string program,
                                          const std::string& nowhere) {
    args.insert(args.begin(), {"/usr/bin/env", "DBUS_SESSION_BUS_ADDRESS=unix:path=" + nowhere,
                               "DBUS_SYSTEM_BUS_ADDRESS=unix:path=" + nowhere, std::move(program)});
    return user ? AsUser(*user, std::move(args)) : args;
  }

  TempFolder dir_;
  ChildProcess process_;  // stopped before its folder goes
};

// The words of `command`, quoted as a shell would read them.
inline std::vector<std::string> ShellWords(const std::string& command) {
  char** argv = nullptr;
  EXPECT_TRUE(g_shell_parse_argv(command.c_str(), nullptr, &argv, nullptr)) << command;
  std::vector<std::string> words(argv, argv + (argv ? g_strv_length(argv) : 0));
  g_strfreev(argv);
  return words;
}

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
