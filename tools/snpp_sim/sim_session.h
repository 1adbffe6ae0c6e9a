// One connection of qznotes-snpp-sim, served on its own thread with
// blocking reads: greets, answers each command line as its behaviour says
// and records what it receives. Ends when the client or the script closes.
#pragma once

#include "snpp_sim/sim_record.h"
#include "snpp_sim/sim_script.h"

namespace qz::snppsim {

// Serves `fd` (taking ownership) as connection `number`.
void ServeConnection(int fd, int number, Behaviour behaviour, const Record& record);

}  // namespace qz::snppsim
