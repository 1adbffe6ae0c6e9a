#include "dispatch/logon_user.h"

#include "automation/run_time_error.h"
#include "diagnostics/error_reporter.h"
#include "platform/seat.h"

namespace qz {

bool mblnLogonUser(SeatProbe& seat) {
  try {
    return seat.UserAtSeat();
  } catch (...) {
    CaughtError error = CurrentError();
    throw RunTimeError(error.number, error.description, "cNotes:mblnLogonUser");
  }
}

}  // namespace qz
