#include "pty_line.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <utility>

namespace qz::tapsim {

using Clock = std::chrono::steady_clock;

PtyLine::PtyLine(std::string link, unsigned baud) : link_(std::move(link)) {
  int master = -1, slave = -1;
  char name[256] = {};
  termios raw{};
  cfmakeraw(&raw);
  if (openpty(&master, &slave, name, &raw, nullptr) != 0)
    throw std::runtime_error(std::string("openpty: ") + std::strerror(errno));
  master_.Reset(master);
  slave_.Reset(slave);
  device_ = name;
  fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
  fcntl(master, F_SETFD, FD_CLOEXEC);
  fcntl(slave, F_SETFD, FD_CLOEXEC);
  if (baud > 0) char_time_ = std::chrono::nanoseconds(10'000'000'000LL / baud);
  struct stat st {};
  if (lstat(link_.c_str(), &st) == 0) {
    if (!S_ISLNK(st.st_mode))
      throw std::runtime_error(link_ + " exists and is not a symbolic link");
    unlink(link_.c_str());
  }
  // Linked under a temporary name and renamed, so a watcher never sees a
  // half-made link.
  const std::string temporary = link_ + ".tmp" + std::to_string(getpid());
  if (symlink(device_.c_str(), temporary.c_str()) != 0 ||
      rename(temporary.c_str(), link_.c_str()) != 0) {
    unlink(temporary.c_str());
    throw std::runtime_error("cannot link " + link_ + ": " + std::strerror(errno));
  }
}

PtyLine::~PtyLine() { unlink(link_.c_str()); }

void PtyLine::Serve(TerminalSim& terminal, const volatile sig_atomic_t& stop) {
  // Each direction of the line carries one character per char_time_: the
  // times below are when it has carried everything so far. Credit for time
  // the line stood idle is never banked, so a block arriving after a pause
  // still takes its full time to cross.
  const bool paced = char_time_.count() > 0;
  auto in_free = Clock::now(), out_free = Clock::now();
  auto allowance = [&](Clock::time_point now, Clock::time_point free_at) -> size_t {
    if (!paced) return 4096;
    return static_cast<size_t>(std::min<long long>(4096, 1 + (now - free_at) / char_time_));
  };
  bool in_idle = false;
  // Characters read from the line reach the terminal once their time on the
  // line is over, not when they were written.
  std::string arrived;
  while (!stop) {
    auto now = Clock::now();
    if (!arrived.empty() && now >= in_free) {
      const bool was_quiet = terminal.Output().empty();
      terminal.Feed(std::exchange(arrived, {}));
      // A reply's first character takes its own time to cross.
      if (was_quiet && !terminal.Output().empty()) out_free = std::max(out_free, now + char_time_);
    }
    std::string& out = terminal.Output();
    if (!out.empty() && now >= out_free) {
      const ssize_t n =
          write(master_.get(), out.data(), std::min(out.size(), allowance(now, out_free)));
      if (n > 0) {
        out.erase(0, static_cast<size_t>(n));
        out_free += char_time_ * n;
      }
    }
    if (arrived.empty() && now >= in_free) {
      char buffer[4096];
      const ssize_t n =
          read(master_.get(), buffer, std::min(sizeof buffer, allowance(now, in_free)));
      if (n > 0) {
        arrived.assign(buffer, static_cast<size_t>(n));
        in_free += char_time_ * n;
        continue;
      }
      in_idle = true;
    }
    pollfd p{master_.get(), 0, 0};
    auto wake = now + std::chrono::milliseconds(200);
    if (arrived.empty() && now >= in_free)
      p.events |= POLLIN;
    else
      wake = std::min(wake, in_free);
    if (!terminal.Output().empty()) {
      if (now >= out_free)
        p.events |= POLLOUT;
      else
        wake = std::min(wake, out_free);
    }
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(wake - Clock::now()).count();
    poll(&p, 1, static_cast<int>(std::max<long long>(ms, 0)));
    if (in_idle && (p.revents & POLLIN)) in_free = std::max(in_free, Clock::now());
    in_idle = false;
  }
}

}  // namespace qz::tapsim
