// Answers whether a user is logged on at the machine's interactive seat:
// an active session on seat0 as systemd-logind reports it, or, where logind
// is absent, a user process on a console, tty or X display line in utmp.
// Safe from any thread.
#pragma once

namespace qz {

class SeatProbe {
 public:
  virtual ~SeatProbe() = default;
  // False when nobody is there or nothing can tell; raises a RunTimeError
  // only when the query itself breaks.
  virtual bool UserAtSeat() = 0;
};

class LoginSeatProbe final : public SeatProbe {
 public:
  bool UserAtSeat() override;
};

}  // namespace qz
