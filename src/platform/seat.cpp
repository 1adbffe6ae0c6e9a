#include "platform/seat.h"

#include <systemd/sd-login.h>
#include <unistd.h>
#include <utmpx.h>

#include <cstring>
#include <mutex>
#include <string_view>

#include "platform/holders.h"

namespace qz {
namespace {

bool LogindRunning() { return ::access("/run/systemd/seats/", F_OK) == 0; }

bool ActiveSessionOnSeat0() {
  char* session = nullptr;
  uid_t uid = 0;
  int r = sd_seat_get_active("seat0", &session, &uid);
  MallocCharPtr held(session);
  return r >= 0;
}

bool InteractiveLine(std::string_view line) {
  return line == "console" || line.starts_with("tty") || line.starts_with(":");
}

// utmp's cursor is process-wide; one reader at a time.
std::mutex utmp_mutex;

bool UserProcessInUtmp() {
  std::lock_guard lock(utmp_mutex);
  setutxent();
  bool found = false;
  while (const utmpx* entry = getutxent()) {
    if (entry->ut_type != USER_PROCESS) continue;
    std::string_view line(entry->ut_line, strnlen(entry->ut_line, sizeof entry->ut_line));
    if (InteractiveLine(line)) {
      found = true;
      break;
    }
  }
  endutxent();
  return found;
}

}  // namespace

bool LoginSeatProbe::UserAtSeat() {
  if (LogindRunning()) return ActiveSessionOnSeat0();
  return UserProcessInUtmp();
}

}  // namespace qz
