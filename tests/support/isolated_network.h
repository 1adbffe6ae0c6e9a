// Runs a piece of a test in a child process inside a network namespace of
// its own, where only a loopback interface exists: whatever the code under
// test does, no packet can leave the machine. Meant for tests that hand
// addresses the code must refuse (link-local, multicast) to code that would
// otherwise connect. Needs CAP_SYS_ADMIN (root in the test container); call
// from the test's own thread.
#pragma once

#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <optional>
#include <string>

namespace qz::testing {

// A fresh network namespace's loopback is down; listeners in it need it up.
inline bool BringUpLoopback() {
  const int probe = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ifreq request{};
  std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
  bool up = probe >= 0 && ::ioctl(probe, SIOCGIFFLAGS, &request) == 0;
  request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
  up = up && ::ioctl(probe, SIOCSIFFLAGS, &request) == 0;
  if (probe >= 0) ::close(probe);
  return up;
}

// What `body` answered in the isolated child (its text, often a list of
// failures), or nullopt when no isolated namespace could be made.
inline std::optional<std::string> RunWithoutNetwork(const std::function<std::string()>& body) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return std::nullopt;
  const pid_t child = ::fork();
  if (child < 0) return std::nullopt;
  if (child == 0) {
    ::close(fds[0]);
    if (::unshare(CLONE_NEWNET) != 0 || !BringUpLoopback()) ::_exit(3);
    const std::string answer = body();
    // A blocking write takes it all while the parent reads.
    ::_exit(::write(fds[1], answer.data(), answer.size()) == static_cast<ssize_t>(answer.size())
                ? 0
                : 4);
  }
  ::close(fds[1]);
  std::string answer;
  char buffer[4096];
  ssize_t n;
  while ((n = ::read(fds[0], buffer, sizeof buffer)) > 0)
    answer.append(buffer, static_cast<size_t>(n));
  ::close(fds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) == 3) return std::nullopt;
  if (WEXITSTATUS(status) != 0)
    return "isolated child failed with status " + std::to_string(status);
  return answer;
}

}  // namespace qz::testing
