// Gives the heap back to the system after a large call or request: glibc
// keeps freed memory in its arenas, so without a trim the daemon would stay
// at the size of its largest request. Small calls pay nothing.
#pragma once

#include <cstddef>
#include <optional>

#include "automation/apartment.h"
#include "server/caller_ledger.h"

namespace qz {

// Arguments of at least this many bytes make a call large.
inline constexpr size_t kTrimAfterBytes = 1024 * 1024;

// Fixes glibc's thresholds at start. Left dynamic, freeing one large
// message raises them to its size, after which thread arenas keep that much
// resident at their top, where malloc_trim does not reach.
void KeepHeapThresholdsFixed();

// Returns `ticket`, if any; when it counted a large call, the heap is
// trimmed once the apartment's current work (and what it frees) has ended.
// Apartment thread.
void ReturnTicket(std::optional<CallerLedger::Ticket>& ticket, Apartment& apartment);

}  // namespace qz
