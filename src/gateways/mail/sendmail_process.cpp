#include "gateways/mail/sendmail_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "automation/apartment.h"
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

// What sendmail may say on its standard error that is kept for the reply.
constexpr size_t kMaxComplaint = 4096;

// Its standard error: a memory file of fixed size, sealed against growing,
// so a sendmail that never stops complaining has its writes refused rather
// than filling memory. The part never written stays NUL.
UniqueFd ComplaintFile() {
  UniqueFd fd(::memfd_create("qz-sendmail-err", MFD_CLOEXEC | MFD_ALLOW_SEALING));
  if (fd && (::ftruncate(fd.get(), kMaxComplaint) != 0 ||
             ::fcntl(fd.get(), F_ADD_SEALS, F_SEAL_GROW | F_SEAL_SHRINK) != 0))
    fd.Reset();
  return fd;
}

std::string Complaint(int fd) {
  std::string text(kMaxComplaint, '\0');
  const ssize_t n = ::pread(fd, text.data(), text.size(), 0);
  text.resize(n > 0 ? std::min(text.find('\0'), static_cast<size_t>(n)) : 0);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

// Waits for the child's end: its pidfd becomes readable when it exits; where
// the kernel has no pidfd, the child is looked at after ever longer sleeps.
// Either way the limit holds, interruptions included. False when it passed.
bool WaitForExit(pid_t pid, std::chrono::milliseconds limit, int& status) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + limit;
  const BoundedWait waiting(deadline);
  const auto left = [&] {
    return static_cast<int>(std::max<int64_t>(
        0, std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count()));
  };
  UniqueFd pidfd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
  if (pidfd) {
    pollfd p{pidfd.get(), POLLIN, 0};
    int ready;
    do ready = ::poll(&p, 1, left());
    while (ready < 0 && errno == EINTR);
    if (ready == 0) return false;
  } else {
    for (int nap = 1;; nap = std::min(nap * 2, 100)) {
      const pid_t done = ::waitpid(pid, &status, WNOHANG);
      if (done == pid) return true;
      if ((done < 0 && errno != EINTR) || left() == 0) return false;
      ::poll(nullptr, 0, std::min(nap, left()));
    }
  }
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

}  // namespace

SendmailOutcome RunSendmail(std::string_view data, std::chrono::milliseconds limit) {
  UniqueFd input = MemoryFile("qz-mail", data);
  UniqueFd errors = ComplaintFile();
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
  std::string said = Complaint(errors.get());
  if (!said.empty()) why += ": " + said;
  return {false, why};
}

}  // namespace qz
