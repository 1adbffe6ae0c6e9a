#include "dispatch/logon_user.h"

#include "diagnostics/reraise.h"

#include "automation/run_time_error.h"
#include "diagnostics/error_reporter.h"
#include "platform/seat.h"

namespace qz {

bool mblnLogonUser(SeatProbe& seat) {
  try {
    return seat.UserAtSeat();
  } catch (...) {
    ReRaiseWithSource("cNotes:mblnLogonUser");
  }
}

}  // namespace qz
