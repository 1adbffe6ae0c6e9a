#include "gateways/terminal/serial_line.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "automation/apartment.h"
#include "automation/run_time_error.h"
#include "gateways/terminal/tap_limits.h"

namespace qz::tap {
namespace {

[[noreturn]] void FailLine(const std::string& device, const std::string& why) {
  throw RunTimeError(kErrTerminal, "serial line " + device + ": " + why, "QzTerminal.cPager");
}

std::string ErrnoText(int error) { return std::strerror(error); }

int PollMs(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, 1000 * 60 * 60));
}

speed_t SpeedCode(unsigned baud) {
  switch (baud) {
    case 300:
      return B300;
    case 600:
      return B600;
    case 1200:
      return B1200;
    case 2400:
      return B2400;
    case 4800:
      return B4800;
    case 9600:
      return B9600;
    case 19200:
      return B19200;
    case 38400:
      return B38400;
    case 57600:
      return B57600;
    case 115200:
      return B115200;
    case 230400:
      return B230400;
    default:
      return B460800;  // the settings parser admits nothing else
  }
}

// Unix 98 pseudo-terminal devices: they carry 8 bits whatever is asked and
// refuse a change of character size or parity.
bool IsPseudoTerminal(const struct stat& st) {
  return major(st.st_rdev) >= 136 && major(st.st_rdev) <= 143;
}

void Configure(int fd, const std::string& device, const LineSettings& line, HandShaking hs,
               bool pseudo) {
  termios t{};
  if (tcgetattr(fd, &t) != 0)
    FailLine(device, "cannot read its terminal settings: " + ErrnoText(errno));
  const tcflag_t framing = t.c_cflag & (CSIZE | PARENB | PARODD);
  cfmakeraw(&t);
  t.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
  t.c_cflag |= CREAD | CLOCAL | HUPCL;
  if (pseudo) {
    t.c_cflag |= framing;
  } else {
    t.c_cflag |= line.data_bits == 7   ? CS7
                 : line.data_bits == 6 ? CS6
                 : line.data_bits == 5 ? CS5
                                       : CS8;
    if (line.parity != Parity::kNone) t.c_cflag |= PARENB;
    if (line.parity == Parity::kOdd) t.c_cflag |= PARODD;
  }
  if (line.stop_bits == 2) t.c_cflag |= CSTOPB;
  t.c_iflag &= ~(IXON | IXOFF | IXANY);
  if (hs == HandShaking::kXonXoff || hs == HandShaking::kBoth) t.c_iflag |= IXON | IXOFF;
  if (hs == HandShaking::kRtsCts || hs == HandShaking::kBoth) t.c_cflag |= CRTSCTS;
  // Waits are done with poll; reads never block.
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  if (cfsetispeed(&t, SpeedCode(line.baud)) != 0 || cfsetospeed(&t, SpeedCode(line.baud)) != 0)
    FailLine(device, "refuses the speed " + std::to_string(line.baud));
  if (tcsetattr(fd, TCSANOW, &t) != 0)
    FailLine(device, "refuses the line settings: " + ErrnoText(errno));
}

}  // namespace

SerialLine SerialLine::Open(const std::string& device, const LineSettings& line,
                            HandShaking hand_shaking, Clock::time_point lock_deadline) {
  // Checked before opening, so not even an open(2) reaches a file that is no
  // device; checked again on the descriptor, which is what counts.
  struct stat st {};
  if (::stat(device.c_str(), &st) != 0) FailLine(device, "cannot be found: " + ErrnoText(errno));
  if (!S_ISCHR(st.st_mode)) FailLine(device, "is not a terminal device");
  UniqueFd fd(::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!fd) FailLine(device, "cannot be opened: " + ErrnoText(errno));
  if (::fstat(fd.get(), &st) != 0 || !S_ISCHR(st.st_mode) || !::isatty(fd.get()))
    FailLine(device, "is not a terminal device");
  // Another caller on the same line finishes its call first.
  const BoundedWait lock_wait(lock_deadline);
  while (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK && errno != EINTR)
      FailLine(device, "cannot be locked: " + ErrnoText(errno));
    if (Clock::now() >= lock_deadline) FailLine(device, "is in use by another caller (locked)");
    ::poll(nullptr, 0, std::min(100, PollMs(lock_deadline)));
  }
  Configure(fd.get(), device, line, hand_shaking, IsPseudoTerminal(st));
  tcflush(fd.get(), TCIOFLUSH);
  return SerialLine(std::move(fd), device);
}

void SerialLine::Write(std::string_view bytes, Clock::time_point deadline) {
  const BoundedWait waiting(deadline);
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd_.get(), bytes.data(), bytes.size());
    if (n > 0) {
      bytes.remove_prefix(static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR)
      FailLine(device_, "write failed: " + ErrnoText(errno));
    pollfd p{fd_.get(), POLLOUT, 0};
    const int ms = PollMs(deadline);
    if (ms == 0 || ::poll(&p, 1, ms) == 0)
      FailLine(device_, "does not take what is sent (hand-shaking holds it)");
    if (p.revents & (POLLHUP | POLLERR | POLLNVAL)) FailLine(device_, "was hung up");
  }
}

bool SerialLine::Read(std::string& into, Clock::time_point deadline) {
  const BoundedWait waiting(deadline);
  bool hang_up_reported = false;
  for (;;) {
    char buffer[512];
    const ssize_t n = ::read(fd_.get(), buffer, sizeof buffer);
    if (n > 0) {
      into.append(buffer, static_cast<size_t>(n));
      return true;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR)
      FailLine(device_, "read failed: " + ErrnoText(errno));
    // A hung-up terminal polls readable and reads nothing, at once and for
    // ever: once what it left is read, waiting on it would only spin.
    if (hang_up_reported) FailLine(device_, "was hung up");
    pollfd p{fd_.get(), POLLIN, 0};
    const int ms = PollMs(deadline);
    if (ms == 0) return false;
    const int ready = ::poll(&p, 1, ms);
    if (ready == 0) return false;
    if (ready > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL))) {
      if (!(p.revents & POLLIN)) FailLine(device_, "was hung up");
      hang_up_reported = true;
    }
  }
}

void SerialLine::PulseDtr() {
  int dtr = TIOCM_DTR;
  if (::ioctl(fd_.get(), TIOCMBIC, &dtr) != 0) return;
  ::poll(nullptr, 0, static_cast<int>(kDtrDropTime.count()));
  ::ioctl(fd_.get(), TIOCMBIS, &dtr);
}

void SerialLine::Flush() { tcflush(fd_.get(), TCIOFLUSH); }

}  // namespace qz::tap
