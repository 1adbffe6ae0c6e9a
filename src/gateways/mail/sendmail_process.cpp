#include "gateways/mail/sendmail_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "platform/unique_fd.h"

extern char** environ;

namespace qz {
namespace {

// The mail goes in through a memory file rather than a pipe: sendmail may
// end early without leaving us a write to a closed pipe.
UniqueFd MemoryFile(const char* name, std::string_view data) {
  UniqueFd fd(::memfd_create(name, MFD_CLOEXEC));
  if (!fd) return fd;
  for (size_t done = 0; done < data.size();) {
    ssize_t n = ::write(fd.get(), data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return UniqueFd();
    done += static_cast<size_t>(n);
  }
  if (::lseek(fd.get(), 0, SEEK_SET) != 0) return UniqueFd();
  return fd;
}

std::string ReadAll(int fd) {
  std::string text;
  ::lseek(fd, 0, SEEK_SET);
  char buffer[4096];
  ssize_t n;
  while ((n = ::read(fd, buffer, sizeof buffer)) > 0 && text.size() < 4096) text.append(buffer, n);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

// Waits for the child's end without polling in a loop: its pidfd becomes
// readable when it exits. False when the limit passed first.
bool WaitForExit(pid_t pid, std::chrono::milliseconds limit, int& status) {
  UniqueFd pidfd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
  if (pidfd) {
    pollfd p{pidfd.get(), POLLIN, 0};
    int ready;
    do ready = ::poll(&p, 1, static_cast<int>(limit.count()));
    while (ready < 0 && errno == EINTR);
    if (ready == 0) return false;
  }
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

}  // namespace

SendmailOutcome RunSendmail(std::string_view data, std::chrono::milliseconds limit) {
  UniqueFd input = MemoryFile("qz-mail", data);
  UniqueFd errors(::memfd_create("qz-sendmail-err", MFD_CLOEXEC));
  if (!input || !errors)
    return {false, "cannot hold the mail for sendmail: " + std::string(std::strerror(errno))};

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, input.get(), STDIN_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, errors.get(), STDERR_FILENO);
  char program[] = "sendmail";
  char read_recipients[] = "-t";
  char keep_dots[] = "-i";
  char* argv[] = {program, read_recipients, keep_dots, nullptr};
  pid_t pid = -1;
  int spawned = posix_spawnp(&pid, program, &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return {false, "cannot run sendmail: " + std::string(std::strerror(spawned))};

  int status = 0;
  if (!WaitForExit(pid, limit, status)) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    return {false, "sendmail did not finish within " + std::to_string(limit.count() / 1000) + " s"};
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return {true, {}};
  std::string why = WIFEXITED(status)
                        ? "sendmail exited with status " + std::to_string(WEXITSTATUS(status))
                        : "sendmail was killed by signal " + std::to_string(WTERMSIG(status));
  std::string said = ReadAll(errors.get());
  if (!said.empty()) why += ": " + said;
  return {false, why};
}

}  // namespace qz
